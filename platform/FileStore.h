#pragma once
// Whole files by name: what saving a file without ever leaving it half
// written needs of the system.

#include <string>

namespace kw {

class IFileStore {
 public:
  enum class TRead { Whole, Missing, Failed };
  virtual ~IFileStore() = default;
  // All of the file's bytes. Failed when it exists but cannot be read whole:
  // a caller must not take what it got for the file's text.
  virtual TRead ReadAll(const std::string& path, std::string& bytes) = 0;
  // Creates `path`, or empties it, then writes `bytes` and flushes them to
  // the disk; false when any step fails (the file may then hold anything).
  virtual bool WriteFlushed(const std::string& path, const std::string& bytes) = 0;
  // Puts `from` in the place of `to` in one step: whatever happens, `to` is
  // either its old self or what `from` was.
  virtual bool Replace(const std::string& from, const std::string& to) = 0;
  virtual void Remove(const std::string& path) = 0;
};

}  // namespace kw
