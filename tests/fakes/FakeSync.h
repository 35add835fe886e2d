#pragma once
// In-memory events and waits, with named events shared like kernel objects.

#include <condition_variable>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/Sync.h"

namespace kw::fake {

class FakeSync : public ISync {
 public:
  std::unique_ptr<IEvent> CreateNamedEvent(const std::string& name, bool manualReset,
                                           bool initiallySet) override;
  std::uint32_t WaitForAny(const std::vector<IEvent*>& events, std::uint32_t timeoutMs) override;

  // A way to set the event behind `event` that stays valid after the handle
  // is closed, as the registry holds the kernel object itself.
  std::function<void()> SignalerFor(IEvent& event);

  // The test side.
  void FailCreating(const std::string& name) {
    std::lock_guard<std::mutex> l(Lock);
    Refused.insert(name);
  }
  bool IsSet(const std::string& name);
  bool Exists(const std::string& name);
  void SetNamed(const std::string& name);  // as another process could
  int Waits();
  // Waiters blocked with neither of their events set: asleep, nothing pending.
  int Sleeping();

 private:
  struct TEventObject {
    bool Set = false;
    bool ManualReset = true;
  };
  class TEvent;

  void Signal(const std::shared_ptr<TEventObject>& object);
  std::shared_ptr<TEventObject> FindNamed(const std::string& name);  // Lock held

  std::mutex Lock;
  std::condition_variable Changed;
  std::map<std::string, std::weak_ptr<TEventObject>> Named;
  std::set<std::string> Refused;
  int WaitCount = 0;
  std::list<std::vector<TEventObject*>> Waiting;
};

}  // namespace kw::fake
