#pragma once
// A logon task that records what it was asked and fails when told to.

#include <string>
#include <vector>

#include "platform/LogonTask.h"

namespace kw::fake {

class FakeLogonTask : public ILogonTask {
 public:
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
