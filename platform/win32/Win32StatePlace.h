#pragma once
// The user's state folder on Win32: %ProgramData%\Keywarden\<SID>, made and
// kept by the elevated guard so that only Administrators and SYSTEM can
// write it; the user may read it, all but the secret. A folder of that name
// the guard did not make is set aside unused and a new one made. Without
// those rights, or while such a folder cannot be set aside,
// %LOCALAPPDATA%\Keywarden stands in, and is reported as unprotected.

#include "platform/StatePlace.h"
#include "platform/win32/Win32Files.h"

namespace kw::win32 {

class TWin32StatePlace : public IStatePlace {
 public:
  static constexpr std::size_t kSecretSize = 32;

  TStatePlace Open() override;

 private:
  TWin32Files Files;
};

}  // namespace kw::win32
