#pragma once
// The Application log, written under the event source "Keywarden".
//
// The source is registered by the installer (the EventLog service's key
// Application\Keywarden, its EventMessageFile naming Keywarden.exe, whose
// message table holds the texts). The program never registers it itself:
// that needs administrator rights over HKLM, and ReportEventW takes events
// for an unregistered source all the same (the Event Viewer then shows the
// bare placeholders' texts).

#include <windows.h>

#include <string>

#include "platform/ChangeLog.h"
#include "platform/win32/Handles.h"

namespace kw::win32 {

inline constexpr wchar_t kEventSourceName[] = L"Keywarden";

struct TDeregisterEventSource {
  void operator()(HANDLE h) const { ::DeregisterEventSource(h); }
};
using TEventSourceHandle = TUniqueHandle<HANDLE, nullptr, TDeregisterEventSource>;

class TWin32EventLog : public IEventLog {
 public:
  // Opens the source on the local machine. An open that fails (the service
  // stopped, say) leaves a log that refuses every event.
  explicit TWin32EventLog(const std::wstring& source = kEventSourceName);
  bool IsOpen() const { return static_cast<bool>(Source); }
  // The strings are converted from code page 936 and reported with ReportEventW.
  bool Report(const TLogEvent& event) override;

 private:
  TEventSourceHandle Source;
};

}  // namespace kw::win32
