#include "toolkit/AnsiPaths.h"

namespace kw::vcl {

namespace {

bool IsDelimiter(const std::string& delimiters, const std::string& text, std::size_t at,
                 std::size_t length) {
  return length == 1 && delimiters.find(text[at]) != std::string::npos;
}

}  // namespace

std::size_t LastDelimiter(const std::string& delimiters, const std::string& text,
                          const ICodePage& codePage) {
  std::size_t found = std::string::npos;
  ForEachCharacter(text, codePage, [&](std::size_t at, std::size_t length) {
    if (IsDelimiter(delimiters, text, at, length)) found = at;
    return true;
  });
  return found;
}

std::size_t FirstDelimiter(const std::string& delimiters, const std::string& text,
                           const ICodePage& codePage) {
  std::size_t found = std::string::npos;
  ForEachCharacter(text, codePage, [&](std::size_t at, std::size_t length) {
    if (IsDelimiter(delimiters, text, at, length)) found = at;
    return found == std::string::npos;
  });
  return found;
}

std::string ExtractFilePath(const std::string& path, const ICodePage& codePage) {
  const std::size_t split = LastDelimiter("\\:", path, codePage);
  return split == std::string::npos ? std::string() : path.substr(0, split + 1);
}

std::string ExtractFileName(const std::string& path, const ICodePage& codePage) {
  const std::size_t split = LastDelimiter("\\:", path, codePage);
  return split == std::string::npos ? path : path.substr(split + 1);
}

std::string NameBeforeFirstDot(const std::string& fileName, const ICodePage& codePage) {
  return fileName.substr(0, FirstDelimiter(".", fileName, codePage));
}

std::string LowerCaseAfterFirst(const std::string& text, const ICodePage& codePage) {
  std::string lowered = text;
  bool first = true;
  ForEachCharacter(text, codePage, [&](std::size_t at, std::size_t length) {
    char& c = lowered[at];
    if (!first && length == 1 && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    first = false;
    return true;
  });
  return lowered;
}

}  // namespace kw::vcl
