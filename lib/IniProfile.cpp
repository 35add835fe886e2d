#include "lib/IniProfile.h"

#include <cerrno>
#include <cstdio>
#include <iterator>
#include <memory>
#include <vector>

namespace kw {

namespace {

constexpr std::size_t kReadLimit = 2047;  // a 2048-byte buffer and its NUL

struct TLine {
  std::size_t Begin, End;  // the line's bytes, without its line break
};

std::vector<TLine> SplitLines(const std::string& text) {
  std::vector<TLine> lines;
  std::size_t begin = 0;
  while (begin < text.size()) {
    std::size_t end = text.find('\n', begin);
    if (end == std::string::npos) end = text.size();
    std::size_t last = end;
    if (last > begin && text[last - 1] == '\r') --last;
    lines.push_back({begin, last});
    begin = end + 1;
  }
  return lines;
}

std::string Trim(const std::string& text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  std::size_t b = 0, e = text.size();
  while (b < e && blank(text[b])) ++b;
  while (e > b && blank(text[e - 1])) --e;
  return text.substr(b, e - b);
}

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

// What a line is: a section header, an entry, or anything else.
struct TParsed {
  enum { Other, Section, Entry } Kind = Other;
  std::string Name, Value;
};

TParsed Parse(const std::string& line) {
  TParsed parsed;
  const std::string trimmed = Trim(line);
  if (trimmed.empty() || trimmed[0] == ';') return parsed;
  if (trimmed[0] == '[') {
    const std::size_t close = trimmed.find(']');
    parsed.Kind = TParsed::Section;
    parsed.Name = trimmed.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    return parsed;
  }
  const std::size_t equals = trimmed.find('=');
  if (equals == std::string::npos) return parsed;
  parsed.Kind = TParsed::Entry;
  parsed.Name = Trim(trimmed.substr(0, equals));
  parsed.Value = Trim(trimmed.substr(equals + 1));
  // One pair of matching quotes around a value is not part of it.
  if (parsed.Value.size() >= 2 && (parsed.Value.front() == '"' || parsed.Value.front() == '\'') &&
      parsed.Value.back() == parsed.Value.front()) {
    parsed.Value = parsed.Value.substr(1, parsed.Value.size() - 2);
  }
  return parsed;
}

// C streams rather than iostreams: the Windows program links the runtime
// statically, and iostreams would bring in most of its locale machinery.
using TFile = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// The C library's files, for the native builds. fflush hands the bytes to
// the system without waiting for the disk; the Win32 store does wait.
class TStdioFileStore : public IFileStore {
 public:
  TRead ReadAll(const std::string& path, std::string& bytes) override {
    TFile in(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!in) return errno == ENOENT ? TRead::Missing : TRead::Failed;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, in.get())) > 0;)
      bytes.append(buffer, n);
    return std::ferror(in.get()) ? TRead::Failed : TRead::Whole;
  }
  bool WriteFlushed(const std::string& path, const std::string& bytes) override {
    TFile out(std::fopen(path.c_str(), "wb"), &std::fclose);
    if (!out) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out.get()) == bytes.size() &&
                         std::fflush(out.get()) == 0;
    return std::fclose(out.release()) == 0 && written;
  }
  bool Replace(const std::string& from, const std::string& to) override {
    return std::rename(from.c_str(), to.c_str()) == 0;
  }
  void Remove(const std::string& path) override { std::remove(path.c_str()); }
};

}  // namespace

std::string ReadProfileText(const std::string& text, const std::string& section,
                            const std::string& key, const std::string& fallback) {
  bool inSection = false;
  for (const TLine& line : SplitLines(text)) {
    const TParsed parsed = Parse(text.substr(line.Begin, line.End - line.Begin));
    if (parsed.Kind == TParsed::Section) {
      inSection = SameName(parsed.Name, section);
    } else if (inSection && parsed.Kind == TParsed::Entry && SameName(parsed.Name, key)) {
      return parsed.Value.substr(0, kReadLimit);
    }
  }
  return fallback.substr(0, kReadLimit);
}

std::string WriteProfileText(const std::string& text, const std::string& section,
                             const std::string& key, const std::string& value) {
  const std::vector<TLine> lines = SplitLines(text);
  const std::string entry = key + "=" + value;
  bool inSection = false;
  std::size_t sectionEnd = std::string::npos;  // where a new entry of the section goes
  for (const TLine& line : lines) {
    const TParsed parsed = Parse(text.substr(line.Begin, line.End - line.Begin));
    if (parsed.Kind == TParsed::Section) {
      if (inSection) break;
      inSection = SameName(parsed.Name, section);
      if (inSection) sectionEnd = line.End;
    } else if (inSection) {
      if (parsed.Kind == TParsed::Entry && SameName(parsed.Name, key)) {
        return text.substr(0, line.Begin) + entry + text.substr(line.End);
      }
      if (parsed.Kind == TParsed::Entry) sectionEnd = line.End;
    }
  }
  if (sectionEnd != std::string::npos) {
    return text.substr(0, sectionEnd) + "\r\n" + entry + text.substr(sectionEnd);
  }
  std::string result = text;
  if (!result.empty() && result.back() != '\n') result += "\r\n";
  return result + "[" + section + "]\r\n" + entry + "\r\n";
}

TIniProfile::TIniProfile()
    : Files([]() -> IFileStore& {
        static TStdioFileStore files;  // holds no state
        return files;
      }()) {}

std::string TemporaryFileFor(const std::string& file) {
  return file + ".tmp";
}

std::string TIniProfile::ReadString(const std::string& file, const std::string& section,
                                    const std::string& key, const std::string& fallback) {
  std::string text;
  // What could be read of a file read in part may miss the entry's later
  // lines, or cut its value: the fallback is closer to the truth.
  if (Files.ReadAll(file, text) == IFileStore::TRead::Failed) text.clear();
  return ReadProfileText(text, section, key, fallback);
}

// The old file stays as it was until the whole new text is on the disk
// beside it: a full disk, a quota or a crash in between leaves the stored
// options, not an empty or a cut file.
bool TIniProfile::WriteString(const std::string& file, const std::string& section,
                              const std::string& key, const std::string& value) {
  std::string text;
  // A file that exists but cannot be read whole is not written back with
  // what could be read of it: every other entry would be lost.
  if (Files.ReadAll(file, text) == IFileStore::TRead::Failed) return false;
  const std::string temporary = TemporaryFileFor(file);
  if (Files.WriteFlushed(temporary, WriteProfileText(text, section, key, value)) &&
      Files.Replace(temporary, file)) {
    return true;
  }
  Files.Remove(temporary);
  return false;
}

}  // namespace kw
