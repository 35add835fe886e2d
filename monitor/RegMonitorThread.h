#pragma once
// A key monitor: watches one registry key under one hive on a thread of its
// own, and hands every change, and a last notice at stop, synchronously to
// the window that receives WM_REGCHANGE.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "monitor/ChangeData.h"
#include "monitor/RegSnapshot.h"
#include "monitor/Thread.h"
#include "platform/Collation.h"
#include "platform/Messenger.h"
#include "platform/Registry.h"
#include "platform/Sync.h"

namespace kw {

// What a monitor needs of the platform. Everything here outlives the monitors.
struct TMonitorPlatform {
  IRegistry& Registry;
  ISync& Sync;
  IMessenger& Messenger;
  const ICollation& Collation;
};

inline constexpr char kStopEventName[] = "EventStopAll";

class TRegMonitorThread final : public TThread {
 public:
  explicit TRegMonitorThread(const TMonitorPlatform& platform);

  // Configuration, written by the controller before Resume.
  WindowHandle NotifyWindow = 0;
  std::string Key;
  HiveHandle RootKey = kHkeyCurrentUser;
  bool WatchSubTree = false;
  std::int32_t Index = 0;
  // Reading while none was set selects every kind of change (15).
  std::uint32_t NotifyFilter();
  void SetNotifyFilter(std::uint32_t value) { FNotifyFilter = value; }

  // Name of this monitor's change event, unique in the process; fixed at creation.
  const std::string& EventName() const { return FEventName; }

 protected:
  void Execute() override;

 private:
  void StartWatching();
  void Arm();
  void ReportChange();
  void ReportStop();
  void Notify();

  TMonitorPlatform Platform;
  std::unique_ptr<IEvent> ChangeEvent;
  std::unique_ptr<IEvent> StopEvent;
  std::unique_ptr<IRegKey> OpenKey;  // declared after the events: closed first
  TChangeData ChangeData;
  TRegSnapshot OldSnapshot;
  TRegSnapshot NewSnapshot;
  std::vector<unsigned char> DataBuffer;
  std::string FEventName;
  std::uint32_t FNotifyFilter = 0;
};

}  // namespace kw
