#pragma once
// A fake platform for key monitors, and a main window that records every record.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "monitor/MonitorController.h"
#include "tests/common/Notice.h"
#include "tests/fakes/FakeFolders.h"
#include "tests/fakes/FakeMessenger.h"
#include "tests/fakes/FakeRegistry.h"
#include "tests/fakes/FakeRegistryText.h"
#include "tests/fakes/FakeSync.h"

namespace kw::test {

class TRecordingWindow {
 public:
  TRecordingWindow(fake::FakeMessenger& messenger, std::shared_ptr<TChangeQueue> queue)
      : Messenger(messenger), Queue(std::move(queue)) {
    Handle = messenger.CreateWindow([this](std::uint32_t msg, std::uintptr_t, std::intptr_t) {
      if (msg == WM_REGCHANGE) Receive(Queue->TakeAll());
    });
  }
  ~TRecordingWindow() { Messenger.DestroyWindow(Handle); }

  WindowHandle Handle = 0;
  // Runs on the UI thread with the records of each notice as they arrive.
  std::function<void(const std::vector<TChangeRecord>&)> WhileHandling;
  // False: notices are counted, not kept.
  bool KeepNotices = true;

  bool WaitForNotices(std::size_t count,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    std::unique_lock<std::mutex> lock(Lock);
    return Arrived.wait_for(lock, timeout, [&] { return Count >= count; });
  }
  void Reset() {
    std::lock_guard<std::mutex> lock(Lock);
    Notices.clear();
    Count = 0;
  }
  std::vector<TNotice> Received() {
    std::lock_guard<std::mutex> lock(Lock);
    return Notices;
  }

 private:
  // Several monitors' records can arrive with one wake-up: each record
  // counts as a notice of its own.
  void Receive(const std::vector<TChangeRecord>& records) {
    if (records.empty()) return;  // a wake-up whose records an earlier one took
    if (WhileHandling) WhileHandling(records);
    std::lock_guard<std::mutex> lock(Lock);
    for (const TChangeRecord& record : records) {
      ++Count;
      if (KeepNotices) Notices.push_back(ReadNotice({record}));
    }
    Arrived.notify_all();
  }

  fake::FakeMessenger& Messenger;
  std::shared_ptr<TChangeQueue> Queue;
  std::mutex Lock;
  std::condition_variable Arrived;
  std::vector<TNotice> Notices;
  std::size_t Count = 0;
};

struct TFakePlatform {
  fake::FakeSync Sync;
  fake::FakeRegistry Registry{Sync};
  fake::FakeMessenger Messenger;
  fake::FakeRegistryText Text;
  fake::FakeFolders Folders{Sync};
  TMonitorPlatform Platform{Registry, Sync, Messenger, Text, Folders};
  std::shared_ptr<TChangeQueue> Queue = std::make_shared<TChangeQueue>();
  std::shared_ptr<IEvent> StopEvent = Sync.CreateNamedEvent("", true, false);

  // Begins `watcher` on a waiting thread of its own, which owns it from here on.
  void Run(std::shared_ptr<TWatcher> watcher) {
    auto thread = std::make_shared<TWaitingThread>(Platform, StopEvent);
    thread->Take(std::move(watcher));
    Start(thread);
  }
  // Begins `monitor`, and the watch of its ancestors, as the controller does.
  void Run(std::shared_ptr<TRegMonitor> monitor) {
    for (auto& thread : KeyMonitorThreads(Platform, StopEvent, {std::move(monitor)})) {
      Start(thread);
    }
  }
  void Start(const std::shared_ptr<TWaitingThread>& thread) {
    thread->SetFreeOnTerminate(true);
    Threads.push_back(thread);
    thread->Resume();
  }
  void StopThreads() {
    StopEvent->Set();
    for (auto& weak : Threads) {
      if (auto thread = weak.lock()) thread->RequestStop();
    }
  }
  std::vector<std::weak_ptr<TWaitingThread>> Threads;

  // Every monitor must have ended, object and all, before the fakes go.
  ~TFakePlatform() { TThread::WaitForAll(std::chrono::seconds(30)); }
};

}  // namespace kw::test
