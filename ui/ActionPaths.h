#pragma once
// What the alert's actions may open or scan. The guard runs elevated and the
// text it acts on comes from a value any program of the user can write, or
// from a field the user can type in: only an existing file or folder of the
// file system, named by its full path, reaches the shell or the scan tool.
// Anything else (a protocol such as "someproto:x", a URL, "shell:",
// "::{CLSID}", a relative name, a device) would start whatever handler the
// user's own classes name, with the guard's rights.

#include <string>
#include <vector>

#include "platform/CodePage.h"
#include "platform/System.h"

namespace kw {

// What an action may use, or why it may not.
struct TActionTarget {
  std::string Path;     // the expanded, checked path the action uses
  std::string Refusal;  // the message for the user; empty when Path may be used
};

// `text` as a path: quotes removed, blanks around it trimmed and environment
// strings expanded.
std::string ExpandedPath(ISystem& system, const std::string& text);

// Whether `path` has the shape of a full file-system path: a drive letter,
// ":\" and the rest, or "\\server\share\...". Device names ("\\.\",
// "\\?\"), further colons (streams, schemes, shell namespace names) and the
// characters no file name holds are refused.
bool IsFullFileSystemPath(const std::string& path, const ICodePage& codePage);

// Whether `path` is a full path on a drive of this machine (slashes taken
// for backslashes), not on a share or a network drive: what reads it waits
// on no network.
bool IsOnLocalDrive(ISystem& system, const ICodePage& codePage, const std::string& path);

// The existing folder that holds the file `text` names (its folder part).
TActionTarget ExistingFolderOf(ISystem& system, const ICodePage& codePage, const std::string& text);
// The existing file `text` names.
TActionTarget ExistingFile(ISystem& system, const ICodePage& codePage, const std::string& text);
// The scan tool, beside the program's own file and nowhere else, and only
// where no one but administrators can change it (see AdminOnly.h).
TActionTarget ScanTool(ISystem& system, const ICodePage& codePage);
// The system's file manager, explorer.exe in the Windows folder.
TActionTarget FileManager(ISystem& system);

// The command line that starts `program` with `argument` as its one
// argument, both quoted, NUL-terminated, as the process launcher takes it.
std::vector<char> CommandLine(const std::string& program, const std::string& argument);

}  // namespace kw
