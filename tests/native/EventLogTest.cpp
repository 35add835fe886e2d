// The events a record makes, and the writer that keeps the log off the
// alert's path.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "eventlog/ChangeEvents.h"
#include "eventlog/EventIds.h"
#include "eventlog/EventLogWriter.h"
#include "tests/fakes/FakeDesktop.h"
#include "tests/fakes/FakeEventLog.h"

namespace kw {
namespace {

using Strings = std::vector<std::string>;
using fake::FakeRegistryText;
using std::chrono::milliseconds;

// An event's fields as the fake's code page shows them.
Strings Shown(const TLogEvent& event) {
  Strings shown;
  for (const std::u16string& field : event.Strings)
    shown.push_back(FakeRegistryText::Narrow(field));
  return shown;
}

constexpr char kRun[] = "\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const TLocalTime kTime{2026, 12, 9, 7, 5, 3, 42};

TChangeRecord Record(TChangeKind kind, HiveHandle hive, std::uint32_t view, std::string name,
                     std::string oldData, std::string newData, std::string program) {
  TChangeRecord r;
  r.Kind = kind;
  r.Time = kTime;
  r.RootKey = hive;
  r.View = view;
  r.Location = kRun;
  r.Key = FakeRegistryText::Widen(kRun);
  r.Identity = FakeRegistryText::Widen(name);
  r.OldText = FakeRegistryText::Widen(oldData);
  r.NewText = FakeRegistryText::Widen(newData);
  r.Program = FakeRegistryText::Widen(program);
  r.Type = kRegSz;
  // The shown texts are not what the log takes: it takes the facts.
  r.ValueName = "shown " + name;
  r.OldData = "shown";
  r.NewData = "shown";
  r.ProgramPath = "shown";
  r.Line = "not in the event";
  r.Title = "not in the event";
  return r;
}

struct TEventRow {
  const char* Case;
  TChangeRecord Record;
  std::uint32_t Id;
  TEventLevel Level;
  Strings Fields;
};

TEST(ChangeEvent, PutsEachFieldInItsPlaceForEveryKind) {
  const std::string time = "2026-12-09 07:05:03.042";
  TChangeRecord folder = Record(TChangeKind::Added, 0, 0, "x.lnk", "", "C:\\x.lnk", "C:\\x.lnk");
  folder.Where = TLocationKind::StartupFolder;
  folder.Key = u"C:\\Users\\u\\Start Menu\\Programs\\Startup";
  // "程序" in code page 936: the bytes go through unchanged.
  const std::string chinese = "\xB3\xCC\xD0\xF2";
  const TEventRow rows[] = {
      {"added",
       Record(TChangeKind::Added, kHkeyCurrentUser, kKeyWow64_64Key, "A", "", "C:\\a.exe /x",
              "C:\\a.exe"),
       events::kAdded,
       TEventLevel::Warning,
       {time, "HKEY_CURRENT_USER", kRun, "A", "", "C:\\a.exe /x", "C:\\a.exe", "64-bit"}},
      {"deleted",
       Record(TChangeKind::Deleted, kHkeyLocalMachine, kKeyWow64_32Key, "B", "C:\\b.exe", "",
              "C:\\b.exe"),
       events::kDeleted,
       TEventLevel::Warning,
       {time, "HKEY_LOCAL_MACHINE", kRun, "B", "C:\\b.exe", "", "C:\\b.exe", "32-bit"}},
      {"changed, Chinese data",
       Record(TChangeKind::Changed, kHkeyCurrentUser, kKeyWow64_64Key, chinese, "C:\\old.exe",
              "C:\\" + chinese + ".exe", "C:\\" + chinese + ".exe"),
       events::kChanged,
       TEventLevel::Warning,
       {time, "HKEY_CURRENT_USER", kRun, chinese, "C:\\old.exe", "C:\\" + chinese + ".exe",
        "C:\\" + chinese + ".exe", "64-bit"}},
      {"not watched",
       Record(TChangeKind::NotWatched, kHkeyCurrentUser, kKeyWow64_64Key, "", "", "", ""),
       events::kNotWatched,
       TEventLevel::Warning,
       {time, "HKEY_CURRENT_USER", kRun, "", "", "", "", "64-bit"}},
      {"watched again",
       Record(TChangeKind::WatchedAgain, kHkeyCurrentUser, kKeyWow64_64Key, "", "", "", ""),
       events::kWatchedAgain,
       TEventLevel::Information,
       {time, "HKEY_CURRENT_USER", kRun, "", "", "", "", "64-bit"}},
      {"stopped",
       Record(TChangeKind::Stopped, kHkeyLocalMachine, 0, "", "", "", ""),
       events::kStopped,
       TEventLevel::Error,
       {time, "HKEY_LOCAL_MACHINE", kRun, "", "", "", "", ""}},
      {"startup folder: no hive, no view",
       folder,
       events::kAdded,
       TEventLevel::Warning,
       {time, "", "C:\\Users\\u\\Start Menu\\Programs\\Startup", "x.lnk", "", "C:\\x.lnk",
        "C:\\x.lnk", ""}},
  };
  for (const TEventRow& row : rows) {
    const TLogEvent event = ChangeEvent(row.Record);
    EXPECT_EQ(event.Id, row.Id) << row.Case;
    EXPECT_EQ(event.Level, row.Level) << row.Case;
    EXPECT_EQ(Shown(event), row.Fields) << row.Case;
  }
}

// A look-alike of another program's name reaches the log as itself, and a
// list as its items.
TEST(ChangeEvent, TheLogTakesTheFactsExactly) {
  TChangeRecord record =
      Record(TChangeKind::Added, kHkeyCurrentUser, kKeyWow64_64Key, "", "", "", "");
  record.Identity = u"upd\u00E2te";
  record.NewText = std::u16string(u"C:\\upd\u00E2te.exe\0autocheck *\0", 26);
  record.Type = kRegMultiSz;
  record.Program = u"C:\\upd\u00E2te.exe";
  const TLogEvent event = ChangeEvent(record);
  EXPECT_EQ(event.Strings[3], u"upd\u00E2te");
  EXPECT_EQ(event.Strings[5], u"C:\\upd\u00E2te.exe | autocheck *");
  EXPECT_EQ(event.Strings[6], u"C:\\upd\u00E2te.exe");
}

// Written when the check has found out, with the change's own time, place
// and program, the data left out.
TEST(ChangeEvent, TheSignerEventNamesTheChangeAndTheVerdict) {
  TChangeRecord record = Record(TChangeKind::Changed, kHkeyCurrentUser, kKeyWow64_64Key, "V",
                                "C:\\old.exe", "C:\\new.exe", "C:\\new.exe");
  record.Program = u"C:\\new.exe";
  const TLogEvent signedBy = SignerEvent(record, {TSignatureKind::Signed, u"Contoso \u00E2"});
  EXPECT_EQ(signedBy.Id, events::kSigner);
  EXPECT_EQ(signedBy.Level, TEventLevel::Information);
  std::vector<std::u16string> expected = ChangeEvent(record).Strings;
  expected[4].clear();
  expected[5].clear();
  expected.push_back(u"signed");
  expected.push_back(u"Contoso \u00E2");
  EXPECT_EQ(signedBy.Strings, expected);
  const TLogEvent invalid = SignerEvent(record, {TSignatureKind::Invalid, u""});
  EXPECT_EQ(invalid.Level, TEventLevel::Warning);
  EXPECT_EQ(invalid.Strings[8], u"not valid");
  EXPECT_EQ(SignerEvent(record, {TSignatureKind::Unsigned, u""}).Strings[8], u"not signed");
  EXPECT_EQ(SignerEvent(record, {}).Strings[8], u"not checked");
}

TEST(ChangeEvent, GuardAndLostEventsCarryTheTimeFirst) {
  const TLogEvent started =
      GuardStartedEvent(kTime, u"C:\\Program Files\\Keywarden\\Keywarden.exe");
  EXPECT_EQ(started.Id, events::kGuardStarted);
  EXPECT_EQ(Shown(started),
            (Strings{"2026-12-09 07:05:03.042", "C:\\Program Files\\Keywarden\\Keywarden.exe"}));
  const TLogEvent stopped = GuardStoppedEvent(kTime, u"k.exe");
  EXPECT_EQ(stopped.Id, events::kGuardStopped);
  EXPECT_EQ(stopped.Level, TEventLevel::Warning);
  const TLogEvent lost = EventsLostEvent(kTime, 12345);
  EXPECT_EQ(lost.Id, events::kEventsLost);
  EXPECT_EQ(Shown(lost), (Strings{"2026-12-09 07:05:03.042", "12345"}));
  EXPECT_EQ(EventTime({2027, 1, 2, 0, 0, 0, 0}), "2027-01-02 00:00:00.000");
}

TChangeRecord Numbered(int n) {
  TChangeRecord r = Record(TChangeKind::Added, kHkeyCurrentUser, kKeyWow64_64Key,
                           "V" + std::to_string(n), "", "C:\\v.exe", "C:\\v.exe");
  r.Time.Second = n % 60;
  return r;
}

std::vector<std::string> Names(const std::vector<TLogEvent>& events) {
  std::vector<std::string> names;
  for (const TLogEvent& e : events) {
    const Strings s = Shown(e);
    if (e.Id == events::kEventsLost)
      names.push_back("lost " + s[1] + " from " + s[0].substr(17, 2));
    else if (e.Id == events::kGuardStarted || e.Id == events::kGuardStopped)
      names.push_back(e.Id == events::kGuardStarted ? "started" : "stopped");
    else
      names.push_back(s[3]);
  }
  return names;
}

TEST(EventLogWriter, WritesEverythingInOrderAndFlushesAtTheEnd) {
  auto log = std::make_shared<fake::FakeEventLog>();
  fake::FakeClock clock;
  {
    TEventLogWriter writer(log, clock, u"C:\\k.exe");
    writer.GuardStarted();
    for (int i = 0; i < 200; ++i) writer.Write(Numbered(i));
    writer.GuardStopped();
  }  // nothing is waited for but the flush
  const std::vector<std::string> names = Names(log->Written());
  ASSERT_EQ(names.size(), 202u);
  EXPECT_EQ(names.front(), "started");
  EXPECT_EQ(names[1], "V0");
  EXPECT_EQ(names[200], "V199");
  EXPECT_EQ(names.back(), "stopped");
  EXPECT_EQ(log->Written().front().Strings[1], u"C:\\k.exe");
}

TEST(EventLogWriter, TheStopIsWrittenOnceAndBeforeItsCallReturns) {
  // At the session's end the process may be ended right after the call.
  auto log = std::make_shared<fake::FakeEventLog>();
  fake::FakeClock clock;
  TEventLogWriter writer(log, clock, u"k.exe");
  for (int i = 0; i < 50; ++i) writer.Write(Numbered(i));
  writer.GuardStopped();
  EXPECT_EQ(log->Written().size(), 51u);
  writer.GuardStopped();
  EXPECT_EQ(Names(log->Written()).back(), "stopped");
  EXPECT_EQ(log->Written().size(), 51u);
}

TEST(EventLogWriter, AHangingLogNeitherBlocksTheCallerNorGrowsTheQueue) {
  auto log = std::make_shared<fake::FakeEventLog>();
  fake::FakeClock clock;
  {
    TEventLogWriter writer(log, clock, u"k.exe", 4);
    log->Hold();
    writer.Write(Numbered(0));
    ASSERT_TRUE(log->WaitForCalls(1));  // V0 is stuck inside the log
    const auto begin = std::chrono::steady_clock::now();
    for (int i = 1; i <= 10000; ++i) writer.Write(Numbered(i));
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(2));
    log->Open();
  }
  // The newest four are kept; the 9,996 before them make one event, in their
  // place, with the time of the first one lost (V1, second 1).
  EXPECT_EQ(Names(log->Written()), (std::vector<std::string>{"V0", "lost 9996 from 01", "V9997",
                                                             "V9998", "V9999", "V10000"}));
}

TEST(EventLogWriter, AtTheEndAHangingLogIsWaitedForOnlyUpToTheBound) {
  auto log = std::make_shared<fake::FakeEventLog>();
  fake::FakeClock clock;
  const auto begin = std::chrono::steady_clock::now();
  {
    TEventLogWriter writer(log, clock, u"k.exe", 16, milliseconds(100));
    log->Hold();
    writer.Write(Numbered(0));
    writer.Write(Numbered(1));
    ASSERT_TRUE(log->WaitForCalls(1));
  }
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(5));
  log->Open();
  // The thread ends on its own after the call it was in, giving up the rest,
  // and lets go of the log.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (log.use_count() > 1 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(milliseconds(1));
  EXPECT_EQ(log.use_count(), 1);
  EXPECT_EQ(Names(log->Written()), (std::vector<std::string>{"V0"}));
}

TEST(EventLogWriter, ManyThreadsWriteAtOnce) {
  auto log = std::make_shared<fake::FakeEventLog>();
  fake::FakeClock clock;
  {
    TEventLogWriter writer(log, clock, u"k.exe", 100000);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
      threads.emplace_back([&] {
        for (int i = 0; i < 500; ++i) writer.Write(Numbered(i));
      });
    for (std::thread& t : threads) t.join();
  }
  EXPECT_EQ(log->Written().size(), 2000u);
}

}  // namespace
}  // namespace kw
