#pragma once
// Facts about the running program and the system.

#include <string>

#include "platform/FileSecurity.h"

namespace kw {

// What a path names in the file system.
enum class TFileKind { None, File, Folder };

class ISystem {
 public:
  virtual ~ISystem() = default;
  // The full path of the program's own file (the process's main module).
  virtual std::string ProgramPath() = 0;
  // The Windows folder, empty when it fails or takes 260 bytes or more.
  virtual std::string WindowsDirectory() = 0;
  // `text` with each %NAME% of a defined environment variable replaced by
  // its value, as Windows does for REG_EXPAND_SZ data (ExpandEnvironmentStrings);
  // unchanged on failure. UTF-16, exactly.
  virtual std::u16string ExpandEnvironment(const std::u16string& text) = 0;
  // Whether `path` names an existing file or folder (GetFileAttributes).
  virtual TFileKind FileKind(const std::u16string& path) = 0;
  // The owner and the access list of the file or folder at `path`.
  virtual TFileSecurity Security(const std::string& path) = 0;
  // Where the file or folder at `path` is, every link, junction and mount
  // point on the way followed; empty when that cannot be told.
  virtual std::string FinalPath(const std::string& path) = 0;
  // Whether the drive with the root folder `root` ("C:\\") is a network
  // drive (GetDriveType).
  virtual bool IsNetworkDrive(const std::string& root) = 0;
  // The name the user knows the account `sid` (a SID string) by; the SID
  // string itself when it has none here.
  virtual std::string AccountName(const std::string& sid) = 0;
};

}  // namespace kw
