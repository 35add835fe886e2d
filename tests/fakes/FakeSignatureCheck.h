#pragma once
// Program files in memory, each with a stamp and a signature. A path can be
// held: a check of it waits in Verify until it is let go, as one of a huge
// file would. An open takes the file as it is then, as a held handle would.

#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>

#include "platform/SignatureCheck.h"

namespace kw::fake {

class FakeSignatureCheck : public ISignatureCheck {
 public:
  struct TFile {
    TFileStamp Stamp;
    TSignature Signature;
    bool Throws = false;
  };

  void Put(const std::u16string& path, TFile file) {
    std::lock_guard<std::mutex> lock(Mutex);
    Files[path] = std::move(file);
  }
  void Hold(const std::u16string& path) {
    std::lock_guard<std::mutex> lock(Mutex);
    Held.insert(path);
  }
  void LetGo(const std::u16string& path) {
    std::lock_guard<std::mutex> lock(Mutex);
    Held.erase(path);
    Changed.notify_all();
  }
  // How many checks have read a whole file.
  int Verified() {
    std::lock_guard<std::mutex> lock(Mutex);
    return Verifications;
  }
  // Waits until a check of a held `path` has begun; false after 10 s.
  bool WaitUntilWaiting(const std::u16string& path) {
    std::unique_lock<std::mutex> lock(Mutex);
    return Changed.wait_for(lock, std::chrono::seconds(10),
                            [&] { return Waiting.count(path) != 0; });
  }

  std::unique_ptr<ISignedFile> Open(const std::u16string& path) override {
    std::lock_guard<std::mutex> lock(Mutex);
    const auto found = Files.find(path);
    if (found == Files.end()) return nullptr;
    return std::make_unique<TOpened>(*this, path, found->second);
  }

 private:
  class TOpened : public ISignedFile {
   public:
    TOpened(FakeSignatureCheck& check, std::u16string path, TFile file)
        : Check(check), Path(std::move(path)), File(std::move(file)) {}
    TFileStamp Stamp() override { return File.Stamp; }
    TSignature Verify() override {
      std::unique_lock<std::mutex> lock(Check.Mutex);
      Check.Waiting.insert(Path);
      Check.Changed.notify_all();
      Check.Changed.wait(lock, [&] { return Check.Held.count(Path) == 0; });
      Check.Waiting.erase(Path);
      ++Check.Verifications;
      if (File.Throws) throw std::runtime_error("unreadable");
      return File.Signature;
    }

   private:
    FakeSignatureCheck& Check;
    const std::u16string Path;
    const TFile File;
  };

  std::mutex Mutex;
  std::condition_variable Changed;
  std::map<std::u16string, TFile> Files;
  std::set<std::u16string> Held, Waiting;
  int Verifications = 0;
};

}  // namespace kw::fake
