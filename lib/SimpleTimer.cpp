#include "lib/SimpleTimer.h"

namespace kw {

TSimpleTimerHandler* TSimpleTimerHandler::GInstance = nullptr;

namespace {
std::uintptr_t NextTimerId() {
  static std::uintptr_t next = 0x4B57;  // any non-zero start
  return ++next;
}
}  // namespace

void TSimpleTimerHandler::Tick(std::uintptr_t id) {
  auto it = Timers.find(id);
  if (it != Timers.end()) it->second->Fire();
}

TSimpleTimer::TSimpleTimer(ITimerHost& host, std::uint32_t periodMs,
                           std::function<void(TSimpleTimer&)> onTick, bool oneShot)
    : Id(NextTimerId()), PeriodMs(periodMs), OneShot(oneShot), OnTick(std::move(onTick)) {
  if (!TSimpleTimerHandler::GInstance)
    TSimpleTimerHandler::GInstance = new TSimpleTimerHandler(host);
  Handler = TSimpleTimerHandler::GInstance;
  Handler->Timers[Id] = this;
}

TSimpleTimer::~TSimpleTimer() {
  if (FRunning) StopTimer(true);
  Handler->Timers.erase(Id);
  if (Handler->Timers.empty()) {  // the last one out
    delete Handler;
    TSimpleTimerHandler::GInstance = nullptr;
  }
}

void TSimpleTimer::Start() {
  if (PeriodMs == 0) return;
  if (FRunning) StopTimer(true);
  if (Handler->Host.SetTimer(Id, PeriodMs)) {
    FRunning = true;
    ++Handler->FRunningCount;
  }
}

void TSimpleTimer::StopTimer(bool clearRunning) {
  if (Handler->Host.KillTimer(Id) && Handler->FRunningCount > 0) --Handler->FRunningCount;
  if (clearRunning) FRunning = false;
}

void TSimpleTimer::SetPeriod(std::uint32_t periodMs) {
  if (periodMs == PeriodMs) return;
  PeriodMs = periodMs;
  if (!FRunning) return;
  if (PeriodMs == 0) {
    StopTimer(false);
  } else {
    Start();
  }
}

void TSimpleTimer::SetOnTick(std::function<void(TSimpleTimer&)> onTick) {
  OnTick = std::move(onTick);
  if (!OnTick && FRunning) StopTimer(false);
}

void TSimpleTimer::Fire() {
  if (OneShot) StopTimer(true);
  if (OnTick) OnTick(*this);
}

}  // namespace kw
