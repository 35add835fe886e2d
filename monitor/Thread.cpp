#include "monitor/Thread.h"

#include "platform/ThreadStart.h"

#include <condition_variable>
#include <mutex>

namespace kw {

namespace {

// Threads that have been started and not yet finished.
struct TRunningThreads {
  std::mutex Lock;
  std::condition_variable Ended;
  int Count = 0;
};

TRunningThreads& Running() {
  static TRunningThreads* running = new TRunningThreads;  // outlives detached threads at exit
  return *running;
}

}  // namespace

TThread::~TThread() {
  if (Worker.joinable()) Worker.join();
}

void TThread::Resume() {
  if (Started) return;
  Started = true;
  {
    std::lock_guard<std::mutex> lock(Running().Lock);
    ++Running().Count;
  }
  if (FreeOnTerminate) {
    // The thread holds the object's last strong reference until it ends.
    auto* keepAlive = new std::shared_ptr<TThread>(shared_from_this());
    const bool started = StartDetachedThread(
        [](void* p) {
          std::shared_ptr<TThread> self = std::move(*static_cast<std::shared_ptr<TThread>*>(p));
          delete static_cast<std::shared_ptr<TThread>*>(p);
          TThread* thread = self.get();
          Run(thread, std::move(self));
        },
        keepAlive);
    if (!started) {
      delete keepAlive;
      Finished();
    }
  } else {
    Worker = std::thread(&TThread::Run, this, nullptr);
  }
}

void TThread::Finished() {
  std::lock_guard<std::mutex> lock(Running().Lock);
  if (--Running().Count == 0) Running().Ended.notify_all();
}

void TThread::Run(TThread* thread, std::shared_ptr<TThread> keepAlive) {
  if (!thread->StopRequested()) {
    try {
      thread->Execute();
    } catch (...) {
      thread->FFatalException = std::current_exception();
    }
  }
  keepAlive.reset();  // a self-freeing thread ends its object here
  Finished();
}

bool TThread::WaitForAll(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(Running().Lock);
  return Running().Ended.wait_for(lock, timeout, [] { return Running().Count == 0; });
}

}  // namespace kw
