// The program: creates the three windows in order, runs the message loop,
// and at the end destroys them in reverse order.

#include <objbase.h>
#include <windows.h>

#include <chrono>
#include <utility>

#include "platform/win32/Handles.h"
#include "platform/win32/Win32RegistryText.h"
#include "platform/win32/Win32Desktop.h"
#include "platform/win32/Win32Messenger.h"
#include "platform/win32/Win32Registry.h"
#include "platform/win32/Win32Sync.h"
#include "platform/win32/Win32Tray.h"
#include "toolkit/win32/Win32Host.h"
#include "ui/Unit1.h"
#include "ui/Unit2.h"
#include "ui/Unit3.h"

using namespace kw;

namespace {

// Destroys the windows, the options dialog first; safe to call twice. Each
// reference is cleared first: a notice handled while a window is destroyed
// must not reach it.
void DestroyWindows() {
  delete std::exchange(Form3, nullptr);
  delete std::exchange(Form2, nullptr);
  delete std::exchange(Form1, nullptr);  // stops the monitors, without waiting for them
}

// What the monitors use. Made once and never destroyed: at exit the monitors
// are not waited for, and one still finishing its last step must find it.
struct TMonitorServices {
  win32::TWin32Registry Registry;
  win32::TWin32Sync Sync;
  win32::TWin32Messenger Messenger;
  win32::TWin32RegistryText Text;
};

TMonitorServices& MonitorServices() {
  static TMonitorServices* services = new TMonitorServices;
  return *services;
}

// One running copy per user session. A second start (the autostart value
// and a start by hand) would show a second icon and alerts, share the named
// events, and on its exit signal "EventStopAll" under the first copy's
// monitors. The guard is held until the process ends: the stop event, once
// signalled, lives as long as any of this copy's monitors holds it.
win32::TKernelHandle TakeSessionGuard(bool& alreadyRunning) {
  win32::TKernelHandle guard(::CreateMutexW(nullptr, FALSE, L"Local\\KeywardenSessionGuard"));
  const DWORD error = ::GetLastError();
  // Access refused: the guard exists, made by the other copy under other rights.
  alreadyRunning = guard ? error == ERROR_ALREADY_EXISTS : error == ERROR_ACCESS_DENIED;
  return guard;
}

template <typename T>
void CreateForm(vcl::TApplication& app, T*& global, T* form) {
  global = form;  // reachable while its own creation runs
  app.Guard([&] { form->CreateWindowAndRun(app.Host()); });
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  bool alreadyRunning = false;
  const win32::TKernelHandle guard = TakeSessionGuard(alreadyRunning);
  if (alreadyRunning) return 0;  // before any window, event or monitor
  const bool com = SUCCEEDED(::CoInitialize(nullptr));
  {
    TMonitorServices& monitor = MonitorServices();
    win32::TWin32Shell shell;
    win32::TWin32Sound sound;
    win32::TWin32Clock clock;
    win32::TWin32WindowFunctions windows;
    win32::TWin32ProcessLauncher launcher;
    win32::TWin32CodePage codePage;
    win32::TWin32Profile profile;
    win32::TWin32System system;
    win32::TWin32Host host(instance);
    vcl::TApplication app(host, codePage);
    win32::TWin32TrayShell tray(instance, [&](std::exception_ptr e) { app.HandleException(e); });
    TServices services{{monitor.Registry, monitor.Sync, monitor.Messenger, monitor.Text},
                       shell,
                       sound,
                       clock,
                       windows,
                       launcher,
                       codePage,
                       profile,
                       system,
                       tray,
                       tray};

    vcl::SetApplication(&app);
    // At log-off or shut-down the end is confirmed: run the exit at once.
    host.OnEndSession = [&] {
      DestroyWindows();
      app.Terminate();
    };

    CreateForm(app, Form1, new TForm1(services));
    app.SetMainForm(Form1);
    host.SetFormOwner(reinterpret_cast<HWND>(Form1->Handle()));
    CreateForm(app, Form2, new TForm2(Form1, services));
    CreateForm(app, Form3, new TForm3(Form1, services));

    app.Run();
    DestroyWindows();
    vcl::SetApplication(nullptr);
  }
  if (com) ::CoUninitialize();
  // The monitors were asked to stop and their window is gone, so each ends
  // within moments. A monitor that has not ended by then ends with the
  // process: ended at once, without the runtime's teardown (static objects,
  // library detach) running beneath a thread that still uses it. Everything
  // the program owes the system (windows, the tray icon, COM) is done above.
  kw::TThread::WaitForAll(std::chrono::seconds(1));
  ::TerminateProcess(::GetCurrentProcess(), 0);
  return 0;
}
