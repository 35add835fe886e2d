#pragma once
// A fake platform for key monitors, and a main window that records every notice.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "monitor/RegMonitorThread.h"
#include "tests/common/Notice.h"
#include "tests/fakes/AsciiCollation.h"
#include "tests/fakes/FakeMessenger.h"
#include "tests/fakes/FakeRegistry.h"
#include "tests/fakes/FakeSync.h"

namespace kw::test {

class TRecordingWindow {
 public:
  explicit TRecordingWindow(fake::FakeMessenger& messenger) : Messenger(messenger) {
    Handle = messenger.CreateWindow([this](std::uint32_t msg, std::uintptr_t w, std::intptr_t) {
      if (msg == WM_REGCHANGE) Receive(*reinterpret_cast<TChangeData*>(w));
    });
  }
  ~TRecordingWindow() { Messenger.DestroyWindow(Handle); }

  WindowHandle Handle = 0;
  // Runs on the UI thread with each record as it arrives, before it is read.
  std::function<void(const TChangeData&)> WhileHandling;
  // False: notices are counted, not kept.
  bool KeepNotices = true;

  bool WaitForNotices(std::size_t count,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    std::unique_lock<std::mutex> lock(Lock);
    return Arrived.wait_for(lock, timeout, [&] { return Count >= count; });
  }
  std::vector<TNotice> Received() {
    std::lock_guard<std::mutex> lock(Lock);
    return Notices;
  }

 private:
  void Receive(TChangeData& data) {
    if (WhileHandling) WhileHandling(data);
    TNotice notice = ReadNotice(data);
    std::lock_guard<std::mutex> lock(Lock);
    ++Count;
    if (KeepNotices) Notices.push_back(std::move(notice));
    Arrived.notify_all();
  }

  fake::FakeMessenger& Messenger;
  std::mutex Lock;
  std::condition_variable Arrived;
  std::vector<TNotice> Notices;
  std::size_t Count = 0;
};

struct TFakePlatform {
  fake::FakeSync Sync;
  fake::FakeRegistry Registry{Sync};
  fake::FakeMessenger Messenger;
  fake::AsciiCollation Collation;
  TMonitorPlatform Platform{Registry, Sync, Messenger, Collation};

  // Every monitor must have ended, object and all, before the fakes go.
  ~TFakePlatform() { TThread::WaitForAll(std::chrono::seconds(30)); }
};

}  // namespace kw::test
