#pragma once
// Stand-ins for the shell's icons, the sound and the clock, recording what
// the windows asked of them.

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/CodePage.h"
#include "platform/Shell.h"
#include "platform/Sound.h"
#include "tests/fakes/FakeRegistryText.h"

namespace kw::fake {

class FakePicture : public vcl::IPicture {
 public:
  explicit FakePicture(std::string source) : Source(std::move(source)) {}
  bool IsEmpty() const override { return Source.empty(); }
  std::string Source;  // what it was made from; empty: the empty icon
};

class FakeShell : public IShell {
 public:
  std::unique_ptr<vcl::IPicture> ExtractProgramIcon(const std::u16string& exact) override {
    const std::string path = FakeRegistryText::Narrow(exact);
    IconRequests.push_back(path);
    const bool hasIcon = path.size() > 4 && path.compare(path.size() - 4, 4, ".exe") == 0;
    return std::make_unique<FakePicture>(hasIcon ? path : "");
  }
  std::unique_ptr<vcl::IPicture> EmptyIcon() override { return std::make_unique<FakePicture>(""); }
  void Execute(std::uintptr_t owner, const std::string& verb, const std::string& file,
               const std::string* parameters) override {
    Requests.push_back(std::to_string(owner) + " " + verb + " [" + file + "] " +
                       (parameters ? "[" + *parameters + "]" : "NULL"));
  }
  bool ShowProperties(std::uintptr_t owner, const std::u16string& file) override {
    Requests.push_back(std::to_string(owner) + " properties [" + FakeRegistryText::Narrow(file) +
                       "]");
    return false;
  }
  // As shown: a character code page 936 lacks is '?'.
  std::vector<std::string> IconRequests;
  std::vector<std::string> Requests;  // shell requests, in order
};

// Code page 936: lead bytes 0x81 to 0xFE.
class FakeCodePage : public ICodePage {
 public:
  bool IsLeadByte(unsigned char byte) const override { return byte >= 0x81 && byte <= 0xFE; }
};

class FakeSound : public ISound {
 public:
  void Play(const std::string& path, std::uint32_t flags) override {
    Calls.push_back("play " + path + " " + std::to_string(flags));
  }
  void Stop() override { Calls.push_back("stop"); }
  std::vector<std::string> Calls;
};

// Formats as a Chinese locale does: 2026/12/9 and 13:05:09.
class FakeClock : public IClock {
 public:
  TLocalTime Now() override { return Time; }
  std::uint64_t FileTimeNow() override { return FileTime; }
  std::string ShortDate(const TLocalTime& t) override {
    return std::to_string(t.Year) + "/" + std::to_string(t.Month) + "/" + std::to_string(t.Day);
  }
  std::string LongTime(const TLocalTime& t) override {
    char text[16];
    std::snprintf(text, sizeof text, "%d:%02d:%02d", t.Hour, t.Minute, t.Second);
    return text;
  }
  TLocalTime Time{2026, 12, 9, 13, 5, 9, 0};
  std::uint64_t FileTime = 0x01DD6A0B12345678;
};

}  // namespace kw::fake
