#pragma once
// The logon task through the task scheduler's COM interface.

#include "platform/LogonTask.h"

namespace kw::win32 {

// Each call joins COM on the calling thread for its own length if the thread
// has not joined it already.
class TWin32LogonTask : public ILogonTask, public IScheduledTasks {
 public:
  void Register(const std::string& programPath) override;
  void Remove() override;
  bool DeleteTask(const std::u16string& folder, const std::u16string& name) override;
};

// The current user's SID as text ("S-1-5-21-..."): the task's user id,
// which unlike a name survives a renamed account.
std::string CurrentUserSid();

}  // namespace kw::win32
