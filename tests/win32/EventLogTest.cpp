// The Application log's calls, and the message table the program carries for
// the Event Viewer (linked into this test as into the program).

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "eventlog/ChangeEvents.h"
#include "eventlog/EventIds.h"
#include "platform/win32/Win32EventLog.h"

namespace kw::test {
namespace {

TEST(Win32EventLog, ReportsEveryKindOfEventWithoutRegisteringTheSource) {
  win32::TWin32EventLog log;
  ASSERT_TRUE(log.IsOpen());
  TChangeRecord record;
  record.RootKey = kHkeyCurrentUser;
  record.Location = "\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
  record.ValueName = "\xB3\xCC\xD0\xF2";  // "程序"
  record.Identity = u"\u7A0B\u5E8F";
  record.NewText = u"C:\\\u7A0B\u5E8F.exe";
  for (TChangeKind kind :
       {TChangeKind::Added, TChangeKind::Deleted, TChangeKind::Changed, TChangeKind::NotWatched,
        TChangeKind::WatchedAgain, TChangeKind::Stopped}) {
    record.Kind = kind;
    EXPECT_TRUE(log.Report(ChangeEvent(record)));
  }
  EXPECT_TRUE(log.Report(SignerEvent(record, {TSignatureKind::Signed, u"\u7B7E\u540D"})));
  EXPECT_TRUE(log.Report(GuardStartedEvent({}, u"k.exe")));
  EXPECT_TRUE(log.Report(GuardStoppedEvent({}, u"k.exe")));
  EXPECT_TRUE(log.Report(EventsLostEvent({}, 3)));
  // Data as long as a hostile program may write is cut, not refused.
  record.NewText.assign(200000, u'x');
  EXPECT_TRUE(log.Report(ChangeEvent(record)));
  record.NewText[2047] = u'\xD83D';  // the cut falls inside a surrogate pair
  record.NewText[2048] = u'\xDE00';
  EXPECT_TRUE(log.Report(ChangeEvent(record)));
}

// The event's text as the Event Viewer builds it from the program's table.
std::wstring Text(std::uint32_t id, LANGID language, const std::vector<std::wstring>& fields) {
  std::vector<DWORD_PTR> arguments;
  for (const std::wstring& f : fields) arguments.push_back(reinterpret_cast<DWORD_PTR>(f.c_str()));
  wchar_t* text = nullptr;
  const DWORD n = ::FormatMessageW(
      FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY | FORMAT_MESSAGE_ALLOCATE_BUFFER,
      ::GetModuleHandleW(nullptr), id, language, reinterpret_cast<LPWSTR>(&text), 0,
      reinterpret_cast<va_list*>(arguments.data()));
  const std::wstring result = n ? std::wstring(text, n) : std::wstring();
  ::LocalFree(text);
  return result;
}

TEST(Win32EventLog, EveryEventHasItsTextInEnglishAndChinese) {
  const std::vector<std::wstring> fields = {L"2026-12-09 07:05:03.042",
                                            L"HKEY_CURRENT_USER",
                                            L"\\Run",
                                            L"Name",
                                            L"OldData",
                                            L"NewData",
                                            L"C:\\p.exe",
                                            L"64-bit",
                                            L"signed",
                                            L"Signer"};
  const LANGID english = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
  const LANGID chinese = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);
  for (std::uint32_t id : events::kAll) {
    const std::wstring en = Text(id, english, fields);
    const std::wstring zh = Text(id, chinese, fields);
    EXPECT_NE(en.find(L"2026-12-09 07:05:03.042"), std::wstring::npos) << id << ": " << en.size();
    EXPECT_NE(zh.find(L"2026-12-09 07:05:03.042"), std::wstring::npos) << id;
    EXPECT_NE(en, zh) << id;
  }
  // Each change names what an administrator looks for.
  const std::wstring changed = Text(events::kChanged, chinese, fields);
  for (const wchar_t* field : {L"HKEY_CURRENT_USER", L"\\Run", L"Name", L"OldData", L"NewData",
                               L"C:\\p.exe", L"\u65F6\u95F4"})  // "时间"
    EXPECT_NE(changed.find(field), std::wstring::npos) << field;
  EXPECT_NE(Text(events::kAdded, english, fields).find(L"Data: NewData"), std::wstring::npos);
  EXPECT_NE(Text(events::kDeleted, english, fields).find(L"Data: OldData"), std::wstring::npos);
  EXPECT_NE(Text(events::kSigner, english, fields).find(L"Signature: signed\r\nSigned by: Signer"),
            std::wstring::npos);
  EXPECT_NE(Text(events::kEventsLost, english, {L"t", L"42"}).find(L"42 events"),
            std::wstring::npos);
}

}  // namespace
}  // namespace kw::test
