#pragma once
// The toolkit on Win32: real windows for the forms and their controls, the
// hidden application window, the message loop and the message boxes. The
// host's parts live in files of their own: ControlWindows.cpp (making the
// windows), MessageBoxes.cpp, WindowPeer.cpp, WindowProcedures.cpp, and
// Win32Host.cpp (the application window, the loop, hooks, errors, the end).

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <vector>

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
  bool Confirm(std::uintptr_t owner, const std::string& text) override;
  void ShowErrorBox(const std::string& title, const std::string& text) override;
  std::string ProgramPath() override;
  int AddApplicationHook(THook hook) override;
  void RemoveApplicationHook(int id) override;

  std::uintptr_t ApplicationWindow() override {
    return reinterpret_cast<std::uintptr_t>(AppWindow);
  }
  // Forms created from now on are owned by `window` (the main form's).
  void SetFormOwner(HWND window) { FormOwner = window; }
  // What the application window does when the session ends (log-off,
  // shut-down): run with no handler of the program beneath it.
  std::function<void()> OnEndSession;

  // Sends an error caught at a window procedure's edge to the application.
  void Report(std::exception_ptr error);
  // Puts the open message boxes back above the program's windows, after a
  // window of the program has come to the front.
  void KeepBoxesInFront();
  // A window of this thread is being created: the box being opened, if it is.
  void WindowCreated(HWND window);
  HFONT FontFor(const vcl::TFont& font);
  static TWin32Host& Current();
  // The host, or null before it is made and after it is gone.
  static TWin32Host* CurrentOrNull();

 private:
  static LRESULT CALLBACK AppWindowProc(HWND, UINT, WPARAM, LPARAM);
  void EndSession();
  void EndSessionTimer();
  void RegisterClasses();
  void RegisterOwnClass(const wchar_t* name, HICON icon);
  int ProgramMessageBox(HWND owner, const std::wstring& text, const std::wstring& caption,
                        UINT flags);
  HWND FrontWindow() const;

  HINSTANCE Instance;
  HWND AppWindow = nullptr;
  HWND FormOwner = nullptr;
  std::function<void(std::exception_ptr)> OnError;
  std::map<std::tuple<std::string, int, bool, bool, int>, HFONT> Fonts;
  std::map<int, THook> Hooks;
  int NextHook = 0;
  // The message boxes open now, innermost last; null while one is being made.
  std::vector<HWND> OpenBoxes;
  // The session ends once the nested loops have returned: no box opens meanwhile.
  bool SessionEnding = false;
  static constexpr UINT_PTR kEndSessionTimer = 1;
  static constexpr UINT kEndSessionCheck = 10;  // ms
};

}  // namespace kw::win32
