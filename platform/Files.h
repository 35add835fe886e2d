#pragma once
// The few file operations the saved state needs: read a whole file, replace
// one in a single step, and move one aside without overwriting anything.

#include <string>

namespace kw {

class IFiles {
 public:
  virtual ~IFiles() = default;
  // The whole of `path` (code page 936) into `content`; false when it does
  // not exist or cannot be read.
  virtual bool ReadWhole(const std::string& path, std::string& content) = 0;
  // Writes `content` to a new file in the folder of `path`, flushes it to the
  // disk, then moves it over `path`: a reader finds the old file or the new
  // one, never a part. False when any step fails; nothing is left behind.
  virtual bool WriteReplacing(const std::string& path, const std::string& content) = 0;
  // Renames `from` to `to`; false when `to` exists already or the rename fails.
  virtual bool MoveAside(const std::string& from, const std::string& to) = 0;
};

}  // namespace kw
