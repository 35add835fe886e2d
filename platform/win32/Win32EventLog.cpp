#include "platform/win32/Win32EventLog.h"

#include <algorithm>
#include <vector>

#include "toolkit/win32/Text.h"

namespace kw::win32 {

namespace {

WORD EventType(TEventLevel level) {
  switch (level) {
    case TEventLevel::Warning:
      return EVENTLOG_WARNING_TYPE;
    case TEventLevel::Error:
      return EVENTLOG_ERROR_TYPE;
    case TEventLevel::Information:
      break;
  }
  return EVENTLOG_INFORMATION_TYPE;
}

// ReportEventW takes at most 100 strings, each under 31,839 characters, and
// the log refuses an event near 64 KB as a whole: eight fields of this length
// stay well under it.
constexpr std::size_t kMaxStrings = 100;
constexpr std::size_t kMaxStringLength = 2048;

}  // namespace

TWin32EventLog::TWin32EventLog(const std::wstring& source)
    : Source(::RegisterEventSourceW(nullptr, source.c_str())) {}

bool TWin32EventLog::Report(const TLogEvent& event) {
  if (!Source) return false;
  std::vector<std::wstring> wide;
  for (const std::u16string& text : event.Strings) {
    if (wide.size() == kMaxStrings) break;
    // Data written by a hostile program can be of any length: a cut field
    // still reports the event, and the alert shows it whole. The cut never
    // parts a surrogate pair.
    std::size_t length = std::min(text.size(), kMaxStringLength);
    if (length < text.size() && length > 0 && text[length - 1] >= 0xD800 &&
        text[length - 1] < 0xDC00) {
      --length;
    }
    wide.emplace_back(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(length));
  }
  std::vector<LPCWSTR> strings;
  for (const std::wstring& text : wide) strings.push_back(text.c_str());
  return ::ReportEventW(Source.Get(), EventType(event.Level), 0, event.Id, nullptr,
                        static_cast<WORD>(strings.size()), 0,
                        strings.empty() ? nullptr : strings.data(), nullptr) != FALSE;
}

}  // namespace kw::win32
