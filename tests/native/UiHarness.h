#pragma once
// The windows without windows: every service faked, an application object
// on a recording host, and the three globals pointing at test forms.

#include <map>

#include "tests/fakes/FakeDesktop.h"
#include "tests/fakes/FakeEventLog.h"
#include "tests/fakes/FakeFiles.h"
#include "tests/fakes/FakeHost.h"
#include "tests/fakes/FakeLogonTask.h"
#include "tests/fakes/FakeProfile.h"
#include "tests/fakes/FakeRegEdit.h"
#include "tests/fakes/FakeStatePlace.h"
#include "tests/fakes/FakeTray.h"
#include "tests/native/MonitorHarness.h"
#include "ui/Services.h"

namespace kw::test {

class FakeSystem : public ISystem {
 public:
  std::string ProgramPath() override { return Path; }
  std::string WindowsDirectory() override { return "C:\\windows"; }
  // %NAME% of the variables in Environment; others stay as they are.
  std::string ExpandEnvironment(const std::string& text) override {
    std::string expanded = text;
    for (const auto& [name, value] : Environment) {
      const std::string token = "%" + name + "%";
      for (std::size_t at = expanded.find(token); at != std::string::npos;
           at = expanded.find(token, at + value.size())) {
        expanded.replace(at, token.size(), value);
      }
    }
    return expanded;
  }
  TFileKind FileKind(const std::string& path) override {
    const auto found = Files.find(path);
    return found == Files.end() ? TFileKind::None : found->second;
  }
  std::string Path = "C:\\Program Files\\Keywarden\\Keywarden.exe";
  std::map<std::string, std::string> Environment{{"ProgramFiles", "C:\\Program Files"}};
  // What exists, exactly as named; names are not folded.
  std::map<std::string, TFileKind> Files{
      {"C:\\Program Files\\Keywarden\\VirusTotalUpload.exe", TFileKind::File},
      {"C:\\windows\\explorer.exe", TFileKind::File},
      {"C:\\Program Files\\Tool\\", TFileKind::Folder},
      {"C:\\Program Files\\Tool\\t.exe", TFileKind::File}};
};

struct TFakeServices {
  TFakePlatform Fake;
  fake::FakeShell Shell;
  fake::FakeSound Sound;
  fake::FakeClock Clock;
  fake::FakeRegEdit Editor{true};
  fake::FakeCodePage CodePage;
  fake::FakeProfile Profile;
  FakeSystem System;
  fake::FakeTray Tray;
  fake::FakeLogonTask LogonTask;
  fake::FakeFiles Files;
  fake::FakeStatePlace StatePlace;
  fake::FakeChangeLog ChangeLog;
  TServices Services{Fake.Platform, Shell, Sound, Clock,     Editor, Editor,     CodePage,  Profile,
                     System,        Tray,  Tray,  LogonTask, Files,  StatePlace, &ChangeLog};
  fake::FakeHost Host;
  vcl::TApplication App{Host, CodePage};
  bool ApplicationSet = (vcl::SetApplication(&App), true);  // before any form is made

  TFakeServices() = default;
  ~TFakeServices() { vcl::SetApplication(nullptr); }
};

}  // namespace kw::test
