#include "tests/fakes/FakeSync.h"

#include <chrono>

namespace kw::fake {

class FakeSync::TEvent : public IEvent {
 public:
  TEvent(FakeSync& owner, std::shared_ptr<TEventObject> object)
      : Owner(owner), Object(std::move(object)) {}
  void Set() override { Owner.Signal(Object); }
  void Reset() override {
    std::lock_guard<std::mutex> lock(Owner.Lock);
    Object->Set = false;
  }
  FakeSync& Owner;
  std::shared_ptr<TEventObject> Object;
};

std::unique_ptr<IEvent> FakeSync::CreateNamedEvent(const std::string& name, bool manualReset,
                                                   bool initiallySet) {
  std::lock_guard<std::mutex> lock(Lock);
  if (Refused.count(name)) return nullptr;
  auto object = name.empty() ? nullptr : FindNamed(name);
  if (!object) {
    object = std::make_shared<TEventObject>();
    object->Set = initiallySet;
    object->ManualReset = manualReset;
    if (!name.empty()) Named[name] = object;
  }
  return std::make_unique<TEvent>(*this, std::move(object));
}

std::uint32_t FakeSync::WaitForAny(const std::vector<IEvent*>& events,
                                   std::uint32_t timeoutMs) {
  std::vector<TEventObject*> objects;
  for (IEvent* event : events) {
    auto* fakeEvent = dynamic_cast<TEvent*>(event);
    objects.push_back(fakeEvent ? fakeEvent->Object.get() : nullptr);
  }
  std::unique_lock<std::mutex> lock(Lock);
  ++WaitCount;
  for (TEventObject* object : objects) {
    if (!object) return kWaitFailed;
  }
  const auto waiting = Waiting.emplace(Waiting.end(), objects);
  const auto firstSet = [&] {
    for (std::size_t i = 0; i < objects.size(); ++i) {
      if (objects[i]->Set) return static_cast<int>(i);
    }
    return -1;
  };
  const auto isSet = [&] { return firstSet() >= 0; };
  bool set = true;
  if (timeoutMs == kInfinite) {
    Changed.wait(lock, isSet);
  } else {
    set = Changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), isSet);
  }
  Waiting.erase(waiting);
  if (!set) return kWaitTimeout;
  const int winner = firstSet();
  if (!objects[static_cast<std::size_t>(winner)]->ManualReset) {
    objects[static_cast<std::size_t>(winner)]->Set = false;
  }
  return static_cast<std::uint32_t>(winner);
}

std::function<void()> FakeSync::SignalerFor(IEvent& event) {
  auto* fakeEvent = dynamic_cast<TEvent*>(&event);
  if (!fakeEvent) return [] {};
  return [this, object = fakeEvent->Object] { Signal(object); };
}

bool FakeSync::IsSet(const std::string& name) {
  std::lock_guard<std::mutex> lock(Lock);
  auto object = FindNamed(name);
  return object && object->Set;
}

bool FakeSync::Exists(const std::string& name) {
  std::lock_guard<std::mutex> lock(Lock);
  return FindNamed(name) != nullptr;
}

void FakeSync::SetNamed(const std::string& name) {
  std::shared_ptr<TEventObject> object;
  {
    std::lock_guard<std::mutex> lock(Lock);
    object = FindNamed(name);
  }
  if (object) Signal(object);
}

int FakeSync::Waits() {
  std::lock_guard<std::mutex> lock(Lock);
  return WaitCount;
}

int FakeSync::Sleeping() {
  std::lock_guard<std::mutex> lock(Lock);
  int count = 0;
  for (const auto& objects : Waiting) {
    bool anySet = false;
    for (const TEventObject* object : objects) anySet = anySet || object->Set;
    count += !anySet;
  }
  return count;
}

void FakeSync::Signal(const std::shared_ptr<TEventObject>& object) {
  std::lock_guard<std::mutex> lock(Lock);
  object->Set = true;
  Changed.notify_all();
}

std::shared_ptr<FakeSync::TEventObject> FakeSync::FindNamed(const std::string& name) {
  auto it = Named.find(name);
  return it == Named.end() ? nullptr : it->second.lock();
}

}  // namespace kw::fake
