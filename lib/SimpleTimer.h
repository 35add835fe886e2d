#pragma once
// Light timers that tick on one shared hidden window of the UI thread.

#include <cstdint>
#include <functional>
#include <map>

#include "platform/Tray.h"

namespace kw {

class TSimpleTimer;

// Process-wide: counts the timers and routes ticks to them. Exists while a timer does.
class TSimpleTimerHandler {
 public:
  static TSimpleTimerHandler* Instance() { return GInstance; }
  int TimerCount() const { return static_cast<int>(Timers.size()); }
  int RunningCount() const { return FRunningCount; }
  // A WM_TIMER for `id`; an id of no live timer is ignored.
  void Tick(std::uintptr_t id);

 private:
  friend class TSimpleTimer;
  explicit TSimpleTimerHandler(ITimerHost& host) : Host(host) {}
  static TSimpleTimerHandler* GInstance;

  ITimerHost& Host;
  std::map<std::uintptr_t, TSimpleTimer*> Timers;
  int FRunningCount = 0;
};

class TSimpleTimer {
 public:
  TSimpleTimer(ITimerHost& host, std::uint32_t periodMs, std::function<void(TSimpleTimer&)> onTick,
               bool oneShot = false);
  TSimpleTimer(const TSimpleTimer&) = delete;
  TSimpleTimer& operator=(const TSimpleTimer&) = delete;
  ~TSimpleTimer();

  void Start();
  void Stop() { StopTimer(true); }
  bool Running() const { return FRunning; }
  std::uint32_t Period() const { return PeriodMs; }
  void SetPeriod(std::uint32_t periodMs);
  void SetOnTick(std::function<void(TSimpleTimer&)> onTick);
  std::uintptr_t TimerId() const { return Id; }

 private:
  friend class TSimpleTimerHandler;
  void StopTimer(bool clearRunning);
  void Fire();

  TSimpleTimerHandler* Handler;
  std::uintptr_t Id;
  bool FRunning = false;
  std::uint32_t PeriodMs;
  bool OneShot;
  std::function<void(TSimpleTimer&)> OnTick;
};

}  // namespace kw
