#pragma once
// The windows without windows: every service faked, an application object
// on a recording host, and the three globals pointing at test forms.

#include <map>
#include <set>
#include <vector>

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
  std::u16string ExpandEnvironment(const std::u16string& text) override {
    std::u16string expanded = text;
    for (const auto& [name, text] : Environment) {
      const std::u16string token = u"%" + fake::FakeRegistryText::Widen(name) + u"%";
      const std::u16string value = fake::FakeRegistryText::Widen(text);
      for (std::size_t at = expanded.find(token); at != std::u16string::npos;
           at = expanded.find(token, at + value.size())) {
        expanded.replace(at, token.size(), value);
      }
    }
    return expanded;
  }
  // Exactly as named: a path with a character code page 936 lacks is found
  // among ExactFiles only.
  TFileKind FileKind(const std::u16string& path) override {
    if (const auto exact = ExactFiles.find(path); exact != ExactFiles.end()) return exact->second;
    const std::string shown = fake::FakeRegistryText::Narrow(path);
    if (fake::FakeRegistryText::Widen(shown) != path) return TFileKind::None;
    const auto found = Files.find(shown);
    return found == Files.end() ? TFileKind::None : found->second;
  }
  // What Security finds for a path, else what a folder made by an
  // installer under Program Files holds: only administrators can change it.
  TFileSecurity Security(const std::string& path) override {
    SecurityRequests.push_back(path);
    const auto found = Descriptors.find(path);
    return found == Descriptors.end() ? AdminsOnly() : found->second;
  }
  // The path with the first link on its way replaced by where it leads.
  std::string FinalPath(const std::string& path) override {
    for (const auto& [link, target] : Links) {
      if (path.compare(0, link.size(), link) == 0 &&
          (path.size() == link.size() || path[link.size()] == '\\')) {
        return target + path.substr(link.size());
      }
    }
    return path;
  }
  bool IsNetworkDrive(const std::string& root) override { return NetworkDrives.count(root) != 0; }
  std::string AccountName(const std::string& sid) override {
    const auto found = Accounts.find(sid);
    return found == Accounts.end() ? sid : found->second;
  }
  static TFileSecurity AdminsOnly() {
    TFileSecurity security;
    security.Known = true;
    security.Owner = sids::kAdministrators;
    security.Allowed = {{sids::kSystem, "", 0x1F01FF, false},
                        {sids::kAdministrators, "", 0x1F01FF, false},
                        {"S-1-5-32-545", "", 0x1200A9, false},  // Users: read and run
                        {sids::kCreatorOwner, "", access::kGenericAll, true}};
    return security;
  }
  std::string Path = "C:\\Program Files\\Keywarden\\Keywarden.exe";
  std::map<std::string, std::string> Environment{{"ProgramFiles", "C:\\Program Files"}};
  // What exists, exactly as named; names are not folded.
  std::map<std::string, TFileKind> Files{
      {"C:\\Program Files\\Keywarden\\VirusTotalUpload.exe", TFileKind::File},
      {"C:\\windows\\explorer.exe", TFileKind::File},
      {"C:\\Program Files\\Tool\\", TFileKind::Folder},
      {"C:\\Program Files\\Tool\\t.exe", TFileKind::File}};
  std::map<std::u16string, TFileKind> ExactFiles;
  std::map<std::string, TFileSecurity> Descriptors;
  std::map<std::string, std::string> Links;  // a link's path, and where it leads
  std::vector<std::string> SecurityRequests;
  std::set<std::string> NetworkDrives;
  std::map<std::string, std::string> Accounts{{"S-1-5-32-545", "Users"}};
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
  TServices Services{Fake.Platform, Shell,      Sound,     Clock,     Editor, Editor,
                     CodePage,      Profile,    System,    Tray,      Tray,   LogonTask,
                     Files,         StatePlace, LogonTask, &ChangeLog};
  fake::FakeHost Host;
  vcl::TApplication App{Host, CodePage};
  bool ApplicationSet = (vcl::SetApplication(&App), true);  // before any form is made

  TFakeServices() = default;
  ~TFakeServices() { vcl::SetApplication(nullptr); }
};

}  // namespace kw::test
