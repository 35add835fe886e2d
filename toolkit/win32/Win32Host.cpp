#include "toolkit/win32/Win32Host.h"

#include <commctrl.h>

#include "toolkit/win32/HandlerDepth.h"
#include "toolkit/win32/Pictures.h"
#include "toolkit/win32/Text.h"

namespace kw::win32 {

using vcl::TForm;

namespace {
TWin32Host* GHost = nullptr;
}  // namespace

TWin32Host::TWin32Host(HINSTANCE instance) : Instance(instance) {
  GHost = this;
  INITCOMMONCONTROLSEX init{sizeof init,
                            ICC_TAB_CLASSES | ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
  ::InitCommonControlsEx(&init);
  RegisterClasses();
  AppWindow = ::CreateWindowExW(0, L"TApplication", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                Instance, nullptr);
  FormOwner = AppWindow;
}

TWin32Host::~TWin32Host() {
  if (AppWindow) ::DestroyWindow(AppWindow);
  for (auto& [key, font] : Fonts) ::DeleteObject(font);
  GHost = nullptr;
}

TWin32Host& TWin32Host::Current() {
  return *GHost;
}

TWin32Host* TWin32Host::CurrentOrNull() {
  return GHost;
}

std::unique_ptr<vcl::IPicture> TWin32Host::LoadPicture(const std::string& resourceName) {
  return LoadBitmapPicture(resourceName);
}

void TWin32Host::Run(const std::function<void(std::exception_ptr)>& onError) {
  OnError = onError;
  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    HWND active = ::GetActiveWindow();
    if (active && ::IsDialogMessageW(active, &msg)) continue;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
}

// A menu open now would take the quit message for one of its own and stay
// open (Wine's does): it is ended first, and the quit reaches the main loop.
void TWin32Host::Terminate() {
  ::EndMenu();
  ::PostQuitMessage(0);
}

std::string TWin32Host::ProgramPath() {
  return ProgramFilePath();
}

int TWin32Host::AddApplicationHook(THook hook) {
  Hooks[NextHook] = std::move(hook);
  return NextHook++;
}

void TWin32Host::RemoveApplicationHook(int id) {
  Hooks.erase(id);
}

void TWin32Host::Report(std::exception_ptr error) {
  if (OnError) {
    OnError(error);
  } else {
    vcl::Application().HandleException(error);
  }
}

// At log-off or shut-down. From the main loop the program ends at once.
// Inside a nested loop (the tray menu's, a message box's, a wait on another
// program) the handlers beneath it still use the windows the end destroys:
// the loops are ended, no new box opens, and the end runs once nothing but
// the main loop is beneath it (a timer checks). The session may end the
// process before that; nothing the program owes the system is left then.
void TWin32Host::EndSession() {
  if (THandlerScope::Running() <= 1) {
    if (OnEndSession) OnEndSession();
    return;
  }
  SessionEnding = true;
  ::EndMenu();
  for (HWND box : OpenBoxes) {
    if (box && ::IsWindow(box)) ::EndDialog(box, IDOK);
  }
  ::SetTimer(AppWindow, kEndSessionTimer, kEndSessionCheck, nullptr);
}

void TWin32Host::EndSessionTimer() {
  if (THandlerScope::Running() > 1) return;  // dispatched by a loop still nested
  ::KillTimer(AppWindow, kEndSessionTimer);
  if (OnEndSession) OnEndSession();
}

LRESULT CALLBACK TWin32Host::AppWindowProc(HWND window, UINT message, WPARAM wParam,
                                           LPARAM lParam) {
  const THandlerScope scope;
  try {
    if (GHost) {
      const auto hooks = GHost->Hooks;  // a hook may remove itself
      for (const auto& [id, hook] : hooks) hook(message, wParam, lParam);
    }
    switch (message) {
      case WM_CLOSE:
        if (TForm* main = vcl::Application().MainForm()) main->Close();
        return 0;
      case WM_QUERYENDSESSION:
        return 1;
      case WM_ENDSESSION:
        if (wParam && GHost) GHost->EndSession();
        return 0;
      case WM_TIMER:
        if (wParam == kEndSessionTimer && GHost) {
          GHost->EndSessionTimer();
          return 0;
        }
        break;
    }
  } catch (...) {
    if (GHost) GHost->Report(std::current_exception());
    return 0;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace kw::win32
