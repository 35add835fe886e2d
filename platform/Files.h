#pragma once
// The few file operations the kept state needs: read a whole file, replace
// one in a single step, and move one aside without overwriting anything.
// Paths are UTF-16, exactly as the file system names them.

#include <string>

namespace kw {

enum class TReadResult {
  Read,
  Missing,     // no such file
  Unreadable,  // there, but locked, refused or failing: never taken for missing
};

class IFiles {
 public:
  virtual ~IFiles() = default;
  // The whole of `path` into `content`. A file another program holds open
  // without sharing is tried again for a few seconds before it counts as
  // unreadable.
  virtual TReadResult ReadWhole(const std::u16string& path, std::string& content) = 0;
  // Writes `content` to a new file in the folder of `path`, flushes it to the
  // disk, then moves it over `path`: a reader finds the old file or the new
  // one, never a part. False when any step fails; nothing is left behind.
  virtual bool WriteReplacing(const std::u16string& path, const std::string& content) = 0;
  // Renames `from` to `to`; false when `to` exists already or the rename fails.
  virtual bool MoveAside(const std::u16string& from, const std::u16string& to) = 0;
};

}  // namespace kw
