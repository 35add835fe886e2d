#include "monitor/Thread.h"

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
    std::thread(&TThread::Run, this, shared_from_this()).detach();
  } else {
    Worker = std::thread(&TThread::Run, this, nullptr);
  }
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
  std::lock_guard<std::mutex> lock(Running().Lock);
  if (--Running().Count == 0) Running().Ended.notify_all();
}

bool TThread::WaitForAll(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(Running().Lock);
  return Running().Ended.wait_for(lock, timeout, [] { return Running().Count == 0; });
}

}  // namespace kw
