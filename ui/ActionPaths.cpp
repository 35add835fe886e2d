#include "ui/ActionPaths.h"

#include <algorithm>
#include <cstring>

#include "monitor/RegSnapshot.h"
#include "toolkit/AnsiPaths.h"
#include "ui/AdminOnly.h"
#include "ui/UiTexts.h"

namespace kw {

namespace {

// Blanks, slashes, quotes and colons are never the second byte of a
// double-byte character of code page 936 (those are 0x40 and up), so they
// are found byte by byte; backslashes and '|' may be, and are not.
std::string Trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// A colon only after the drive letter: any other one begins a stream, or
// makes the text a scheme ("someproto:x", "shell:", "http:") or a shell
// namespace name ("::{CLSID}"). Nor the characters no file name holds.
bool HasOnlyFileNameCharacters(const std::string& path, const ICodePage& codePage) {
  bool allowed = true;
  vcl::ForEachCharacter(path, codePage, [&](std::size_t at, std::size_t length) {
    if (length == 1) {
      const unsigned char c = static_cast<unsigned char>(path[at]);
      if (c < 0x20 || std::strchr("*?\"<>|", c) != nullptr || (c == ':' && at != 1)) {
        allowed = false;
      }
    }
    return allowed;
  });
  return allowed;
}

bool IsAsciiLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool StartsWithDrive(const std::string& path) {
  return path.size() >= 3 && IsAsciiLetter(path[0]) && path[1] == ':' && path[2] == '\\';
}

// The component of `path` that begins at `from`, up to the next backslash.
std::string ComponentAt(const std::string& path, std::size_t from, const ICodePage& codePage) {
  const std::string rest = path.substr(std::min(from, path.size()));
  return rest.substr(0, vcl::FirstDelimiter("\\", rest, codePage));
}

bool IsNamed(const std::string& component) {
  return !component.empty() && component != "." && component != "..";
}

// "\\server\share\...": a folder shared over the network, read through the
// file system as any local one. The device namespaces "\\.\" and "\\?\"
// reach devices and kernel objects instead, and are no such path.
bool StartsWithShare(const std::string& path, const ICodePage& codePage) {
  if (path.compare(0, 2, "\\\\") != 0) return false;
  const std::string server = ComponentAt(path, 2, codePage);
  if (!IsNamed(server) || path.size() == 2 + server.size()) return false;
  return IsNamed(ComponentAt(path, 2 + server.size() + 1, codePage));
}

// Windows takes a slash for a backslash in a path; the checks and the
// folder part know only backslashes.
std::string WithBackslashes(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

TActionTarget Refused(const char* prefix, const std::string& path) {
  return {std::string(), prefix + path};
}

}  // namespace

std::string ExpandedPath(ISystem& system, const std::string& text) {
  return Trimmed(system.ExpandEnvironment(Trimmed(StripQuotes(text))));
}

bool IsFullFileSystemPath(const std::string& path, const ICodePage& codePage) {
  return HasOnlyFileNameCharacters(path, codePage) &&
         (StartsWithDrive(path) || StartsWithShare(path, codePage));
}

bool IsOnLocalDrive(ISystem& system, const ICodePage& codePage, const std::string& path) {
  const std::string full = WithBackslashes(path);
  return IsFullFileSystemPath(full, codePage) && StartsWithDrive(full) &&
         !system.IsNetworkDrive(full.substr(0, 3));
}

TActionTarget ExistingFolderOf(ISystem& system, const ICodePage& codePage,
                               const std::string& text) {
  const std::string expanded = ExpandedPath(system, text);
  const std::string folder = vcl::ExtractFilePath(WithBackslashes(expanded), codePage);
  if (!IsFullFileSystemPath(folder, codePage)) {
    return Refused(texts::kNotAFilePathPrefix, expanded);
  }
  if (system.FileKind(folder) != TFileKind::Folder) {
    return Refused(texts::kFolderNotFoundPrefix, folder);
  }
  return {folder, std::string()};
}

TActionTarget ExistingFile(ISystem& system, const ICodePage& codePage, const std::string& text) {
  const std::string expanded = ExpandedPath(system, text);
  const std::string path = WithBackslashes(expanded);
  if (!IsFullFileSystemPath(path, codePage)) return Refused(texts::kNotAFilePathPrefix, expanded);
  if (system.FileKind(path) != TFileKind::File) return Refused(texts::kFileNotFoundPrefix, path);
  return {path, std::string()};
}

TActionTarget ScanTool(ISystem& system, const ICodePage& codePage) {
  const std::string tool = vcl::ExtractFilePath(system.ProgramPath(), codePage) + texts::kScanTool;
  if (system.FileKind(tool) != TFileKind::File) {
    return Refused(texts::kScanToolNotFoundPrefix, tool);
  }
  // Started with the guard's rights: a tool any program of the user could
  // replace would run whatever that program put there.
  const TChangeCheck check = WhoCanChange(system, codePage, tool);
  if (check.Result != TChangeableBy::AdminsOnly) {
    return {std::string(), texts::kScanToolRefused + std::string(texts::kNewLine) +
                               ChangeCheckText(system, check)};
  }
  return {tool, std::string()};
}

TActionTarget FileManager(ISystem& system) {
  const std::string windows = system.WindowsDirectory();
  const std::string explorer = windows + "\\explorer.exe";
  if (windows.empty() || system.FileKind(explorer) != TFileKind::File) {
    return Refused(texts::kFileNotFoundPrefix, explorer);
  }
  return {explorer, std::string()};
}

// A checked path holds no quote, so quoting keeps it one argument.
std::vector<char> CommandLine(const std::string& program, const std::string& argument) {
  const std::string line = '"' + program + "\" \"" + argument + '"';
  std::vector<char> buffer(line.begin(), line.end());
  buffer.push_back('\0');
  return buffer;
}

}  // namespace kw
