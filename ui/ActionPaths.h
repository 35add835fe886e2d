#pragma once
// What the alert's actions may open or scan. The guard runs elevated and the
// text it acts on comes from a value any program of the user can write, or
// from a field the user can type in: only an existing file or folder of the
// file system, named by its full path, reaches the shell or the scan tool.
// Anything else (a protocol such as "someproto:x", a URL, "shell:",
// "::{CLSID}", a relative name, a device) would start whatever handler the
// user's own classes name, with the guard's rights.
//
// Paths are UTF-16, exactly as the record or the user gave them; only the
// refusals, which the user reads, are in code page 936.

#include <string>

#include "platform/CodePage.h"
#include "platform/RegistryText.h"
#include "platform/System.h"

namespace kw {

// What an action may use, or why it may not.
struct TActionTarget {
  std::u16string Path;  // the expanded, checked path the action uses
  std::string Refusal;  // the message for the user; empty when Path may be used
};

// `text` as a path: quotes removed, blanks around it trimmed and environment
// strings expanded.
std::u16string ExpandedPath(ISystem& system, const std::u16string& text);

// Whether `path` has the shape of a full file-system path: a drive letter,
// ":\" and the rest, or "\\server\share\...". Device names ("\\.\",
// "\\?\"), further colons (streams, schemes, shell namespace names) and the
// characters no file name holds are refused.
bool IsFullFileSystemPath(const std::u16string& path);

// Whether `path` is a full path under a drive letter (slashes taken for
// backslashes): neither a share nor a name looked for along the search
// path. Whether the drive lies beyond the network, a question that costs
// Wine a call to another process, is left to the code that opens the file.
bool IsDrivePath(const std::u16string& path);

// Whether `path` is a full path on a drive of this machine (slashes taken
// for backslashes), not on a share or a network drive: what reads it waits
// on no network. The same for a path in code page 936.
bool IsOnLocalDrive(ISystem& system, const std::u16string& path);
bool IsOnLocalDrive(ISystem& system, const ICodePage& codePage, const std::string& path);

// The file whose signature tells who made `program`: its path expanded,
// under a drive letter; empty where there is none the check could read
// without the network (a share, a bare name Windows looks for along the
// search path). Whether the drive is of this machine the check itself asks,
// off the UI thread, at the moment it opens the file.
std::u16string SignedFileOf(ISystem& system, const std::u16string& program);

// The existing folder that holds the file `text` names (its folder part).
TActionTarget ExistingFolderOf(ISystem& system, const IRegistryText& view,
                               const std::u16string& text);
// The existing file `text` names.
TActionTarget ExistingFile(ISystem& system, const IRegistryText& view, const std::u16string& text);
// The scan tool, beside the program's own file and nowhere else, and only
// where no one but administrators can change it (see AdminOnly.h).
TActionTarget ScanTool(ISystem& system, const IRegistryText& view, const ICodePage& codePage);
// The system's file manager, explorer.exe in the Windows folder.
TActionTarget FileManager(ISystem& system, const IRegistryText& view);

// The command line that starts `program` with `argument` as its one
// argument, both quoted.
std::u16string CommandLine(const std::u16string& program, const std::u16string& argument);

}  // namespace kw
