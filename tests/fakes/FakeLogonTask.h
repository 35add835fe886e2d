#pragma once
// A logon task that records what it was asked and fails when told to.

#include <string>
#include <vector>

#include "platform/LogonTask.h"

namespace kw::fake {

class FakeLogonTask : public ILogonTask, public IScheduledTasks {
 public:
  bool DeleteTask(const std::u16string& folder, const std::u16string& name) override {
    DeletedTasks.push_back(folder + u"|" + name);
    return !FailDelete;
  }
  std::vector<std::u16string> DeletedTasks;
  bool FailDelete = false;
  void Register(const std::string& programPath) override {
    Calls.push_back("register " + programPath);
    if (FailRegister) throw ELogonTaskException("Failed to register the logon task");
  }
  void Remove() override {
    Calls.push_back("remove");
    if (FailRemove) throw ELogonTaskException("Failed to remove the logon task");
  }
  std::vector<std::string> Calls;
  bool FailRegister = false;
  bool FailRemove = false;
};

}  // namespace kw::fake
