#pragma once
// What the windows need of the platform beyond the toolkit.

#include "monitor/RegMonitor.h"
#include "platform/ChangeLog.h"
#include "platform/Clock.h"
#include "platform/CodePage.h"
#include "platform/Files.h"
#include "platform/LogonTask.h"
#include "platform/Profile.h"
#include "platform/Shell.h"
#include "platform/Sound.h"
#include "platform/StatePlace.h"
#include "platform/System.h"
#include "platform/Tray.h"
#include "platform/WindowFunctions.h"
#include "ui/SignerLookup.h"

namespace kw {

struct TServices {
  TMonitorPlatform Monitor;
  IShell& Shell;
  ISound& Sound;
  IClock& Clock;
  IWindowFunctions& Windows;
  IProcessLauncher& Launcher;
  const ICodePage& CodePage;
  IProfile& Profile;
  ISystem& System;
  ITrayShell& Tray;
  ITimerHost& Timers;
  ILogonTask& LogonTask;
  IFiles& Files;
  IStatePlace& StatePlace;
  IScheduledTasks& Tasks;
  // Where every reported change is also written (the Application log); null
  // writes none.
  IChangeLog* ChangeLog = nullptr;
  // Who signed the programs the changes name; null looks for no signer.
  TSignerLookup* Signers = nullptr;
};

}  // namespace kw
