#pragma once
// The toolkit on Win32: real windows for the forms and their controls, the
// hidden application window, the message loop and the message boxes.

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <tuple>

#include "toolkit/Forms.h"

namespace kw::win32 {

class TWin32Host : public vcl::IApplicationHost {
 public:
  explicit TWin32Host(HINSTANCE instance);
  ~TWin32Host() override;

  std::unique_ptr<vcl::IControlPeer> CreatePeer(vcl::TControl& control) override;
  void ControlsCreated(vcl::TControl& form) override;
  std::unique_ptr<vcl::IPicture> LoadPicture(const std::string& resourceName) override;
  void Run(const std::function<void(std::exception_ptr)>& onError) override;
  void Terminate() override;
  void ShowMessage(std::uintptr_t owner, const std::string& text) override;
  void ShowErrorBox(const std::string& title, const std::string& text) override;
  std::string ProgramFileName() override;
  int AddApplicationHook(THook hook) override;
  void RemoveApplicationHook(int id) override;

  std::uintptr_t ApplicationWindow() override {
    return reinterpret_cast<std::uintptr_t>(AppWindow);
  }
  // Forms created from now on are owned by `window` (the main form's).
  void SetFormOwner(HWND window) { FormOwner = window; }
  // What the application window does when the session ends (log-off, shut-down).
  std::function<void()> OnEndSession;

  // Sends an error caught at a window procedure's edge to the application.
  void Report(std::exception_ptr error);
  HFONT FontFor(const vcl::TFont& font);
  static TWin32Host& Current();

 private:
  static LRESULT CALLBACK AppWindowProc(HWND, UINT, WPARAM, LPARAM);
  void RegisterClasses();
  void RegisterOwnClass(const wchar_t* name, HICON icon);

  HINSTANCE Instance;
  HWND AppWindow = nullptr;
  HWND FormOwner = nullptr;
  HHOOK ButtonHook = nullptr;  // labels the message boxes' button
  std::function<void(std::exception_ptr)> OnError;
  std::map<std::tuple<std::string, int, bool, bool, int>, HFONT> Fonts;
  std::map<int, THook> Hooks;
  int NextHook = 0;
};

}  // namespace kw::win32
