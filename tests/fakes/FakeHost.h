#pragma once
// The toolkit without windows: controls live on their state, message boxes are recorded.

#include <map>
#include <string>
#include <vector>

#include "tests/fakes/FakeDesktop.h"
#include "toolkit/Forms.h"

namespace kw::fake {

class FakeHost : public vcl::IApplicationHost {
 public:
  std::unique_ptr<vcl::IControlPeer> CreatePeer(vcl::TControl&) override { return nullptr; }
  void ControlsCreated(vcl::TControl&) override {}
  std::unique_ptr<vcl::IPicture> LoadPicture(const std::string& name) override {
    return std::make_unique<FakePicture>(name);
  }
  void Run(const std::function<void(std::exception_ptr)>&) override {}
  void Terminate() override { ++Terminations; }
  void ShowMessage(std::uintptr_t, const std::string& text) override { Messages.push_back(text); }
  bool Confirm(std::uintptr_t, const std::string& text) override {
    Messages.push_back(text);
    return ConfirmAnswer;
  }
  bool ConfirmAnswer = true;
  void ShowErrorBox(const std::string& title, const std::string& text) override {
    Errors.push_back(title + ": " + text);
  }
  std::string ProgramPath() override { return "C:\\Program Files\\Keywarden\\Keywarden.exe"; }
  std::uintptr_t ApplicationWindow() override { return 0xA99; }
  int AddApplicationHook(THook hook) override {
    Hooks[NextHook] = std::move(hook);
    return NextHook++;
  }
  void RemoveApplicationHook(int id) override { Hooks.erase(id); }
  // A message reaching the application window.
  void SendToApplicationWindow(std::uint32_t message, std::uintptr_t wParam = 0) {
    const auto hooks = Hooks;
    for (const auto& [id, hook] : hooks) hook(message, wParam, 0);
  }
  std::map<int, THook> Hooks;
  int NextHook = 0;

  std::vector<std::string> Messages, Errors;
  int Terminations = 0;
};

}  // namespace kw::fake
