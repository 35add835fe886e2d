#include "ui/ActionPaths.h"

#include <algorithm>

#include "monitor/RegSnapshot.h"
#include "toolkit/AnsiPaths.h"
#include "ui/AdminOnly.h"
#include "ui/UiTexts.h"

namespace kw {

namespace {

std::u16string Trimmed(const std::u16string& text) {
  const std::size_t first = text.find_first_not_of(u" \t");
  if (first == std::u16string::npos) return {};
  return text.substr(first, text.find_last_not_of(u" \t") - first + 1);
}

// A colon only after the drive letter: any other one begins a stream, or
// makes the text a scheme ("someproto:x", "shell:", "http:") or a shell
// namespace name ("::{CLSID}"). Nor the characters no file name holds.
bool HasOnlyFileNameCharacters(const std::u16string& path) {
  for (std::size_t at = 0; at < path.size(); ++at) {
    const char16_t c = path[at];
    if (c < 0x20 || std::u16string_view(u"*?\"<>|").find(c) != std::u16string_view::npos ||
        (c == u':' && at != 1)) {
      return false;
    }
  }
  return true;
}

bool IsAsciiLetter(char16_t c) {
  return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

bool StartsWithDrive(const std::u16string& path) {
  return path.size() >= 3 && IsAsciiLetter(path[0]) && path[1] == u':' && path[2] == u'\\';
}

// The component of `path` that begins at `from`, up to the next backslash.
std::u16string ComponentAt(const std::u16string& path, std::size_t from) {
  const std::u16string rest = path.substr(std::min(from, path.size()));
  return rest.substr(0, rest.find(u'\\'));
}

bool IsNamed(const std::u16string& component) {
  return !component.empty() && component != u"." && component != u"..";
}

// "\\server\share\...": a folder shared over the network, read through the
// file system as any local one. The device namespaces "\\.\" and "\\?\"
// reach devices and kernel objects instead, and are no such path.
bool StartsWithShare(const std::u16string& path) {
  if (path.compare(0, 2, u"\\\\") != 0) return false;
  const std::u16string server = ComponentAt(path, 2);
  if (!IsNamed(server) || path.size() == 2 + server.size()) return false;
  return IsNamed(ComponentAt(path, 2 + server.size() + 1));
}

// Windows takes a slash for a backslash in a path; the checks and the
// folder part know only backslashes.
std::u16string WithBackslashes(std::u16string path) {
  std::replace(path.begin(), path.end(), u'/', u'\\');
  return path;
}

// The folder part: up to and including the last backslash or colon.
std::u16string FolderPart(const std::u16string& path) {
  const std::size_t split = path.find_last_of(u"\\:");
  return split == std::u16string::npos ? std::u16string() : path.substr(0, split + 1);
}

std::u16string Widened(const std::string& ascii) {
  return std::u16string(ascii.begin(), ascii.end());
}

TActionTarget Refused(const char* prefix, const IRegistryText& view, const std::u16string& path) {
  return {std::u16string(), prefix + view.ToAnsi(path)};
}

}  // namespace

std::u16string ExpandedPath(ISystem& system, const std::u16string& text) {
  return Trimmed(system.ExpandEnvironment(Trimmed(StripQuotes(text))));
}

bool IsFullFileSystemPath(const std::u16string& path) {
  return HasOnlyFileNameCharacters(path) && (StartsWithDrive(path) || StartsWithShare(path));
}

bool IsDrivePath(const std::u16string& path) {
  const std::u16string full = WithBackslashes(path);
  return IsFullFileSystemPath(full) && StartsWithDrive(full);
}

bool IsOnLocalDrive(ISystem& system, const std::u16string& path) {
  const std::u16string full = WithBackslashes(path);
  return IsDrivePath(full) && !system.IsNetworkDrive(std::string(full.begin(), full.begin() + 3));
}

bool IsOnLocalDrive(ISystem& system, const ICodePage& codePage, const std::string& path) {
  // The path's shape: its ASCII as itself, any other character as one
  // placeholder, so that no second byte of a double-byte one reads as a backslash.
  std::u16string shape;
  vcl::ForEachCharacter(path, codePage, [&](std::size_t at, std::size_t length) {
    const auto c = static_cast<unsigned char>(path[at]);
    shape += length == 1 && c < 0x80 ? static_cast<char16_t>(c) : u'\u00FF';
    return true;
  });
  return IsOnLocalDrive(system, shape);
}

std::u16string SignedFileOf(ISystem& system, const std::u16string& program) {
  const std::u16string path = WithBackslashes(ExpandedPath(system, program));
  return IsDrivePath(path) ? path : std::u16string();
}

TActionTarget ExistingFolderOf(ISystem& system, const IRegistryText& view,
                               const std::u16string& text) {
  const std::u16string expanded = ExpandedPath(system, text);
  const std::u16string folder = FolderPart(WithBackslashes(expanded));
  if (!IsFullFileSystemPath(folder)) return Refused(texts::kNotAFilePathPrefix, view, expanded);
  if (system.FileKind(folder) != TFileKind::Folder) {
    return Refused(texts::kFolderNotFoundPrefix, view, folder);
  }
  return {folder, std::string()};
}

TActionTarget ExistingFile(ISystem& system, const IRegistryText& view, const std::u16string& text) {
  const std::u16string expanded = ExpandedPath(system, text);
  const std::u16string path = WithBackslashes(expanded);
  if (!IsFullFileSystemPath(path)) return Refused(texts::kNotAFilePathPrefix, view, expanded);
  if (system.FileKind(path) != TFileKind::File) {
    return Refused(texts::kFileNotFoundPrefix, view, path);
  }
  return {path, std::string()};
}

TActionTarget ScanTool(ISystem& system, const IRegistryText& view, const ICodePage& codePage) {
  const std::u16string tool =
      FolderPart(view.FromAnsi(system.ProgramPath())) + Widened(texts::kScanTool);
  if (system.FileKind(tool) != TFileKind::File) {
    return Refused(texts::kScanToolNotFoundPrefix, view, tool);
  }
  // Started with the guard's rights: a tool any program of the user could
  // replace would run whatever that program put there.
  const TChangeCheck check = WhoCanChange(system, codePage, view.ToAnsi(tool));
  if (check.Result != TChangeableBy::AdminsOnly) {
    return {std::u16string(), texts::kScanToolRefused + std::string(texts::kNewLine) +
                                  ChangeCheckText(system, check)};
  }
  return {tool, std::string()};
}

TActionTarget FileManager(ISystem& system, const IRegistryText& view) {
  const std::u16string windows = view.FromAnsi(system.WindowsDirectory());
  const std::u16string explorer = windows + u"\\explorer.exe";
  if (windows.empty() || system.FileKind(explorer) != TFileKind::File) {
    return Refused(texts::kFileNotFoundPrefix, view, explorer);
  }
  return {explorer, std::string()};
}

// A checked path holds no quote, so quoting keeps it one argument.
std::u16string CommandLine(const std::u16string& program, const std::u16string& argument) {
  return u'"' + program + u"\" \"" + argument + u'"';
}

}  // namespace kw
