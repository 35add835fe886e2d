#include "toolkit/win32/Win32Host.h"

#include <commctrl.h>

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

void TWin32Host::Terminate() {
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

LRESULT CALLBACK TWin32Host::AppWindowProc(HWND window, UINT message, WPARAM wParam,
                                           LPARAM lParam) {
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
        if (wParam && GHost && GHost->OnEndSession) GHost->OnEndSession();
        return 0;
    }
  } catch (...) {
    if (GHost) GHost->Report(std::current_exception());
    return 0;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace kw::win32
