#pragma once
// A worker thread object in the manner of a toolkit thread class: created
// suspended, started by Resume, asked (never forced) to stop, and, with
// FreeOnTerminate, destroying itself when its body has ended.
//
// Objects are made with std::make_shared. A self-freeing thread holds the last
// strong reference itself, so others keep std::weak_ptr and may lock it to make
// a request: an object that has ended is simply gone, never dangling.

#include <atomic>
#include <chrono>
#include <exception>
#include <memory>
#include <thread>

namespace kw {

class TThread : public std::enable_shared_from_this<TThread> {
 public:
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;
  virtual ~TThread();

  // Before Resume: the object destroys itself as soon as its body has ended.
  void SetFreeOnTerminate(bool value) { FreeOnTerminate = value; }
  // Starts the thread; only the first call has an effect.
  void Resume();
  // Only sets StopRequested; the body acts on it when it next looks.
  void RequestStop() { FStopRequested.store(true); }
  bool StopRequested() const { return FStopRequested.load(); }
  // What ended the body, if it threw; kept silently and released with the object.
  std::exception_ptr FatalException() const { return FFatalException; }

  // Waits until every thread started in this process has finished its last
  // step, the object's own destruction included. For tests and orderly ends.
  static bool WaitForAll(std::chrono::milliseconds timeout);

 protected:
  TThread() = default;
  virtual void Execute() = 0;

 private:
  static void Run(TThread* thread, std::shared_ptr<TThread> keepAlive);
  static void Finished();

  std::atomic<bool> FStopRequested{false};
  bool FreeOnTerminate = false;
  bool Started = false;
  std::thread Worker;
  std::exception_ptr FFatalException;
};

}  // namespace kw
