// The program: creates the three windows in order, runs the message loop,
// and at the end destroys them in reverse order.

#include <objbase.h>
#include <windows.h>

#include <chrono>
#include <memory>
#include <utility>

#include "eventlog/EventLogWriter.h"
#include "platform/win32/Handles.h"
#include "platform/win32/Win32Desktop.h"
#include "platform/win32/Win32EventLog.h"
#include "platform/win32/Win32Files.h"
#include "platform/win32/Win32Folders.h"
#include "platform/win32/Win32LogonTask.h"
#include "platform/win32/Win32Messenger.h"
#include "platform/win32/Win32Registry.h"
#include "platform/win32/Win32RegistryText.h"
#include "platform/win32/Win32SessionGuard.h"
#include "platform/win32/Win32SignatureCheck.h"
#include "platform/win32/Win32StatePlace.h"
#include "platform/win32/Win32Sync.h"
#include "platform/win32/Win32Tray.h"
#include "toolkit/win32/Text.h"
#include "toolkit/win32/Win32Host.h"
#include "ui/Unit1.h"
#include "ui/Unit2.h"
#include "ui/Unit3.h"

using namespace kw;

namespace {

// Made once the main window is, which it tells of what it finds; gone with
// the windows.
TSignerLookup* Signers = nullptr;

// Destroys the windows, the options dialog first; safe to call twice. Each
// reference is cleared first: a notice handled while a window is destroyed
// must not reach it.
void DestroyWindows() {
  // While the alert still holds the changes the user has not confirmed.
  if (Form1 && Form2) Form1->SaveState();
  delete std::exchange(Form3, nullptr);
  delete std::exchange(Form2, nullptr);
  delete std::exchange(Form1, nullptr);  // stops the monitors, without waiting for them
  // After the windows that ask it; its last post finds no window.
  delete std::exchange(Signers, nullptr);
}

// What the monitors use. Made once and never destroyed: at exit the monitors
// are not waited for, and one still finishing its last step must find it.
struct TMonitorServices {
  win32::TWin32Registry Registry;
  win32::TWin32Sync Sync;
  win32::TWin32Messenger Messenger;
  win32::TWin32RegistryText Text;
  win32::TWin32Folders Folders;
};

TMonitorServices& MonitorServices() {
  static TMonitorServices* services = new TMonitorServices;
  return *services;
}

template <typename T>
void CreateForm(vcl::TApplication& app, T*& global, T* form) {
  global = form;  // reachable while its own creation runs
  app.Guard([&] { form->CreateWindowAndRun(app.Host()); });
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  // The program runs elevated from wherever it lies, perhaps a folder the
  // user's programs can write. Every DLL it loads from here on comes from
  // System32 alone, never from its own folder: the DLLs that are not
  // KnownDLLs are delay-imported and loaded after this. (Windows 7 has the
  // call from update KB2533623 on.) Unprotected, the program does not run.
  if (!::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) return 1;
  // One running copy per user session: a second start (the autostart value
  // and a start by hand) would show a second icon and a second alert for
  // every change. Decided before any window or monitor exists; the guard
  // keeps its lock until the process ends.
  const win32::TSessionGuard guard(L"TForm1");
  if (guard.AnotherGuardRuns()) return 0;
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
    win32::TWin32LogonTask logonTask;
    win32::TWin32Files files;
    win32::TWin32StatePlace statePlace;
    // Outlives the windows: the guard's stop is its last event, written on the way out.
    const std::wstring self = win32::ProgramFileWide();
    TEventLogWriter changeLog(std::make_shared<win32::TWin32EventLog>(), clock,
                              std::u16string(self.begin(), self.end()));
    win32::TWin32Host host(instance);
    vcl::TApplication app(host, codePage);
    win32::TWin32TrayShell tray(instance, [&](std::exception_ptr e) { app.HandleException(e); });
    TServices services{
        {monitor.Registry, monitor.Sync, monitor.Messenger, monitor.Text, monitor.Folders},
        shell,
        sound,
        clock,
        windows,
        launcher,
        codePage,
        profile,
        system,
        tray,
        tray,
        logonTask,
        files,
        statePlace,
        logonTask,
        &changeLog};

    vcl::SetApplication(&app);
    // At log-off or shut-down the end is confirmed: run the exit at once.
    host.OnEndSession = [&] {
      DestroyWindows();
      changeLog.GuardStopped();
      app.Terminate();
    };

    CreateForm(app, Form1, new TForm1(services));
    changeLog.GuardStarted();
    app.SetMainForm(Form1);
    Signers = new TSignerLookup(std::make_shared<win32::TWin32SignatureCheck>(), monitor.Messenger,
                                Form1->Handle());
    services.Signers = Signers;
    host.SetFormOwner(reinterpret_cast<HWND>(Form1->Handle()));
    CreateForm(app, Form2, new TForm2(Form1, services));
    CreateForm(app, Form3, new TForm3(Form1, services));

    app.Run();
    DestroyWindows();
    changeLog.GuardStopped();
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
