#pragma once
// Events and waits: named manual-reset events and a wait on two of them.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Types.h"

namespace kw {

// An open handle to an event object; destroying it closes the handle.
class IEvent {
 public:
  virtual ~IEvent() = default;
  virtual void Set() = 0;
  virtual void Reset() = 0;
};

class ISync {
 public:
  virtual ~ISync() = default;
  // Creates the event, or opens it when an event of that name exists already.
  // An empty name makes an unnamed event. Gives null when that fails.
  virtual std::unique_ptr<IEvent> CreateNamedEvent(const std::string& name, bool manualReset,
                                                   bool initiallySet) = 0;
  // Waits until one of `events` is set: the position of the first one set
  // (kWaitFirst for the first), kWaitTimeout when `timeoutMs` passed first,
  // kWaitFailed when the wait cannot be made (a missing event among them).
  virtual std::uint32_t WaitForAny(const std::vector<IEvent*>& events,
                                   std::uint32_t timeoutMs = kInfinite) = 0;
};

}  // namespace kw
