#pragma once
// Paths and names as byte strings of the ANSI code page (936). Every cut of
// a path or a name goes through here, so that the second byte of a
// double-byte character is never taken for a backslash, a colon, a dot or a
// letter: the second byte of 淺 (9C 5C) is that of a backslash, the second
// byte of 監 (B1 4F) that of an "O".

#include <cstddef>
#include <string>

#include "platform/CodePage.h"

namespace kw::vcl {

// Calls `visit(position, length)` for each character of `text` in order, a
// double-byte character whole; a lead byte with nothing after it counts as a
// character of its own. `visit` returns false to stop.
template <typename Visit>
void ForEachCharacter(const std::string& text, const ICodePage& codePage, Visit visit) {
  for (std::size_t i = 0; i < text.size();) {
    const bool wide =
        codePage.IsLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < text.size();
    const std::size_t length = wide ? 2 : 1;
    if (!visit(i, length)) return;
    i += length;
  }
}

// Where the last character of `text` that is one of the single-byte
// `delimiters` stands; npos when there is none.
std::size_t LastDelimiter(const std::string& delimiters, const std::string& text,
                          const ICodePage& codePage);
// Where the first such character stands; npos when there is none.
std::size_t FirstDelimiter(const std::string& delimiters, const std::string& text,
                           const ICodePage& codePage);

// The folder part: up to and including the last backslash or colon; empty
// when there is none.
std::string ExtractFilePath(const std::string& path, const ICodePage& codePage);
// The file-name part: what follows the last backslash or colon.
std::string ExtractFileName(const std::string& path, const ICodePage& codePage);
// A file name cut before its first "."; whole when it has none.
std::string NameBeforeFirstDot(const std::string& fileName, const ICodePage& codePage);
// The letters A to Z after the first character in lower case; every other
// character, double-byte ones whole, unchanged.
std::string LowerCaseAfterFirst(const std::string& text, const ICodePage& codePage);

}  // namespace kw::vcl
