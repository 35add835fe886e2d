#pragma once
// The shell's icons, the program's sound and the locale's clock on Win32.

#include "platform/Clock.h"
#include "platform/Shell.h"
#include "platform/Sound.h"

namespace kw::win32 {

class TWin32Shell : public IShell {
 public:
  std::unique_ptr<vcl::IPicture> ExtractProgramIcon(const std::string& path) override;
};

class TWin32Sound : public ISound {
 public:
  void Play(const std::string& path, std::uint32_t flags) override;
  void Stop() override;
};

class TWin32Clock : public IClock {
 public:
  TLocalTime Now() override;
  std::string ShortDate(const TLocalTime& time) override;
  std::string LongTime(const TLocalTime& time) override;
};

}  // namespace kw::win32
