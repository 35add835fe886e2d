// Reading snapshots, comparing them, and the lines the comparison reports.

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <tuple>
#include <utility>

#include "monitor/ChangeTexts.h"
#include "monitor/RegSnapshot.h"
#include "tests/fakes/FakeRegistryText.h"
#include "tests/fakes/FakeRegistry.h"

namespace kw {
namespace {

using fake::FakeRegistryText;
using fake::FakeRegistry;
using fake::FakeSync;

constexpr char kPath[] = "Software\\Test";

TEST(PathLine, FollowsTheExeSlashAndSlashRules) {
  EXPECT_EQ(ExtractProgramPath("C:\\Tools\\app.exe/background"), "C:\\Tools\\app.exe");
  EXPECT_EQ(ExtractProgramPath("C:\\Tools\\APP.EXE/x"), "C:\\Tools\\APP.EXE");
  EXPECT_EQ(ExtractProgramPath("C:\\Tools\\app.exe /min"), "C:\\Tools\\app.exe ");
  EXPECT_EQ(ExtractProgramPath("C:\\a.exe\\b.exe/x"), "C:\\a.exe");  // the first ".exe" counts
  EXPECT_EQ(ExtractProgramPath("app.exe -switch"), "app.exe -switch");
  EXPECT_EQ(ExtractProgramPath("/start"), "");
  EXPECT_EQ(ExtractProgramPath(""), "");
}

TEST(PathLine, StripsQuotesThenSemicolons) {
  EXPECT_EQ(StripQuotes("\"\"a\"b\""), "ab");
  EXPECT_EQ(StripSemicolons(";;a;b;"), "ab");
  EXPECT_EQ(StripQuotes(""), "");
  EXPECT_EQ(PathLine("\"C:\\Program Files\\x.exe\" /tray"), "C:\\Program Files\\x.exe ");
  EXPECT_EQ(PathLine("/x"), "");
  EXPECT_EQ(PathLine("C:\\a;b\\\"c\".exe"), "C:\\ab\\c.exe");
}

TEST(ChangedLine, IsTheSevenPiecesInCodePage936) {
  const std::string line = ChangedLine("Name", "old", "new");
  EXPECT_EQ(line,
            " \xB3\xCC\xD0\xF2 (Name) \xC2\xB7\xBE\xB6\xB8\xFC\xB8\xC4\xB4\xD3 \"old\" \xB5\xBD "
            "\"new\"; ");
  EXPECT_EQ(sizeof texts::kTitleAdded - 1, 29u);
  EXPECT_EQ(sizeof texts::kTitleDeleted - 1, 29u);
}

class SnapshotTest : public ::testing::Test {
 protected:
  std::vector<std::string> ReadNames(const TLocation& location = {}) {
    TRegSnapshot snapshot;
    auto key = Registry.OpenKey(kHkeyCurrentUser, kPath, kKeyRead);
    TakeSnapshot(*key, location, Text.UpcaseTable(), snapshot);
    std::vector<std::string> names;
    for (const TRegEntry& entry : snapshot.Entries) {
      std::string name = Text.ToAnsi(entry.Name);
      if (!entry.SubKey.empty()) name = Text.ToAnsi(entry.SubKey) + '\\' + name;
      names.push_back(name + '=' + Text.ToAnsi(entry.Data));
    }
    return names;
  }
  void Set(const std::string& name, const std::string& text, std::uint32_t type = kRegSz) {
    Registry.SetString(kHkeyCurrentUser, kPath, name, text, type);
  }
  void SetRaw(const std::u16string& name, std::uint32_t type, const std::u16string& text) {
    Registry.SetValue(kHkeyCurrentUser, kPath, name, type, text);
  }

  FakeSync Sync;
  FakeRegistry Registry{Sync};
  FakeRegistryText Text;
};

// What Windows would start is read: both string types, a string up to its
// first NUL, names of any length; other types are not.
TEST_F(SnapshotTest, ReadsBothStringTypesUpToTheFirstNulAndNamesOfAnyLength) {
  Set("A", "one");
  Set("Expand", "%ProgramFiles%\\x.exe", kRegExpandSz);
  Registry.SetDword(kHkeyCurrentUser, kPath, "Dword");
  SetRaw(u"NoNul", kRegSz, u"abc");
  SetRaw(u"Inner", kRegSz, std::u16string(u"a\0b\0", 4));
  SetRaw(u"List", kRegMultiSz, std::u16string(u"a\0b\0\0", 5));
  Set(std::string(300, 'n'), "three hundred");
  Set(std::string(16383, 'm'), "the longest name");
  const std::vector<std::string> expected = {"A=one",
                                             "Expand=%ProgramFiles%\\x.exe",
                                             "NoNul=abc",
                                             "Inner=a",
                                             std::string(300, 'n') + "=three hundred",
                                             std::string(16383, 'm') + "=the longest name"};
  EXPECT_EQ(ReadNames(), expected);
}

// A read a deletion ran through can pass over values, of the key or of its
// subkeys, that never went: asked for by name, they are found again.
TEST_F(SnapshotTest, ValuesAReadPassedOverAreFoundByName) {
  Set("Kept", "C:\\k.exe");
  Registry.SetString(kHkeyCurrentUser, std::string(kPath) + "\\0001", "Step", "C:\\s.exe");
  std::vector<TChangeRecord> records(4);
  const std::pair<std::u16string, std::u16string> deleted[] = {
      {u"", u"Kept"}, {u"0001", u"Step"}, {u"", u"Gone"}, {u"0002", u"Step"}};
  for (std::size_t i = 0; i < records.size(); ++i) {
    records[i].Kind = TChangeKind::Deleted;
    std::tie(records[i].IdentitySubKey, records[i].Identity) = deleted[i];
  }
  auto key = Registry.OpenKey(kHkeyCurrentUser, kPath, kKeyRead);
  TRegSnapshot snapshot;
  ASSERT_TRUE(FindPassedOver(*key, {kHkeyCurrentUser, "", {}, true, false}, Text.UpcaseTable(),
                             records, snapshot));
  std::vector<std::string> found;
  for (const TRegEntry& entry : snapshot.Entries) {
    found.push_back(Text.ToAnsi(entry.SubKey) + '\\' + Text.ToAnsi(entry.Name) + '=' +
                    Text.ToAnsi(entry.Data));
  }
  EXPECT_EQ(found, (std::vector<std::string>{"\\Kept=C:\\k.exe", "0001\\Step=C:\\s.exe"}));
  EXPECT_EQ(snapshot.Slots.size(), 2u);
}

// The further locations: named values only, lists, and the values of subkeys.
TEST_F(SnapshotTest, FollowsTheLocationsRules) {
  Set("Shell", "explorer.exe");
  Set("AutoRestartShell", "1");
  SetRaw(u"BootExecute", kRegMultiSz, std::u16string(u"autocheck autochk *\0x\0\0", 23));
  Registry.SetString(kHkeyCurrentUser, std::string(kPath) + "\\0001", "Step", "C:\\s.exe");
  Registry.SetString(kHkeyCurrentUser, std::string(kPath) + "\\Depend", "D", "C:\\d.exe");
  EXPECT_EQ(ReadNames({kHkeyCurrentUser, "", {"SHELL", "Userinit"}, false, false}),
            std::vector<std::string>{"Shell=explorer.exe"});
  EXPECT_EQ(ReadNames({kHkeyCurrentUser, "", {"BootExecute"}, false, true}),
            std::vector<std::string>{std::string("BootExecute=autocheck autochk *\0x\0", 34)});
  EXPECT_EQ(ReadNames({kHkeyCurrentUser, "", {"None"}, true, false}),
            (std::vector<std::string>{}));
  EXPECT_EQ(ReadNames({kHkeyCurrentUser, "", {}, true, false}),
            (std::vector<std::string>{"Shell=explorer.exe", "AutoRestartShell=1",
                                      "0001\\Step=C:\\s.exe", "depend\\D=C:\\d.exe"}));
  // Every switch counts, as its state, its type and its first four bytes,
  // whatever the time after them: off while binary with an odd first byte.
  const std::string run = std::string(kPath) + "\\Run";
  Registry.SetValue(kHkeyCurrentUser, run, u"Off", kRegBinary,
                    std::u16string(u"\x0003\0\x1234", 3));
  Registry.SetValue(kHkeyCurrentUser, run, u"On", kRegBinary, std::u16string(u"\x0002\0\x1234", 3));
  Registry.SetValue(kHkeyCurrentUser, run, u"Empty", kRegBinary, u"");
  Registry.SetValue(kHkeyCurrentUser, run, u"Text", kRegSz, u"\x0003");
  EXPECT_EQ(ReadNames({kHkeyCurrentUser, "", {}, true, false, true, u"", true}),
            (std::vector<std::string>{"0001\\Step=on:1:43003a00", "depend\\D=on:1:43003a00",
                                      "run\\Off=off:3:03000000", "run\\On=on:3:02000000",
                                      "run\\Empty=on:3:00000000", "run\\Text=on:1:03000000"}));
  // Flags count where numbers do; a class's servers in place of its own values.
  Registry.SetValue(kHkeyCurrentUser, std::string(kPath) + "\\0001", u"GlobalFlag", kRegDword,
                    std::u16string(u"\x0200\0", 2));
  EXPECT_EQ(
      ReadNames(
          {kHkeyCurrentUser, "", {"GlobalFlag", "Step"}, true, false, false, u"", false, true}),
      (std::vector<std::string>{"0001\\Step=C:\\s.exe", "0001\\GlobalFlag=0x00000200"}));
  const std::string server = std::string(kPath) + "\\{A}\\InprocServer32";
  Registry.SetString(kHkeyCurrentUser, server, "", "C:\\a.dll");
  Registry.SetString(kHkeyCurrentUser, std::string(kPath) + "\\{A}\\Other", "", "C:\\o.dll");
  Registry.SetString(kHkeyCurrentUser, std::string(kPath) + "\\{A}", "", "A class");
  EXPECT_EQ(ReadNames({kHkeyCurrentUser,
                       "",
                       {},
                       true,
                       false,
                       false,
                       u"",
                       false,
                       false,
                       {"InprocServer32", "TreatAs"}}),
            (std::vector<std::string>{"{a}\\InprocServer32\\=C:\\a.dll"}));
}

// A value that cannot be read is left out and the next is read; only a key
// that is gone, or failures without end, end the enumeration early.
TEST_F(SnapshotTest, GoesOnPastAFailingValueAndEndsWhenTheKeyIsGone) {
  constexpr long kErrorInvalidData = 13;
  struct TCase {
    const char* What;
    std::function<long(std::uint32_t)> Step;  // a step's failure, or 0
    std::function<bool(std::uint32_t)> Kept;
    int Calls;  // steps taken
  };
  const TCase cases[] = {
      {"one failing value", [](std::uint32_t i) { return i == 1 ? kErrorInvalidData : 0L; },
       [](std::uint32_t i) { return i != 1; }, 101},
      {"a run of values too large",
       [](std::uint32_t i) { return i >= 1 && i <= 80 ? kErrorMoreData : 0L; },
       [](std::uint32_t i) { return i == 0 || i > 80; }, 101},
      {"the key deleted",
       [this](std::uint32_t i) {
         if (i == 2) Registry.DeleteKey(kHkeyCurrentUser, kPath);
         return 0L;
       },
       [](std::uint32_t i) { return i < 2; }, 3},
      {"the handle invalid", [](std::uint32_t i) { return i >= 2 ? kErrorInvalidHandle : 0L; },
       [](std::uint32_t i) { return i < 2; }, 3},
      {"failures without end", [](std::uint32_t i) { return i >= 2 ? kErrorInvalidData : 0L; },
       [](std::uint32_t i) { return i < 2; }, 2 + 64},
  };
  for (const TCase& c : cases) {
    for (std::uint32_t i = 0; i < 100; ++i) Set("V" + std::to_string(i), "x");
    int calls = 0;
    Registry.OnEnumValue([&](std::uint32_t index) {
      ++calls;
      return c.Step(index);
    });
    std::vector<std::string> expected;
    for (std::uint32_t i = 0; i < 100; ++i) {
      if (c.Kept(i)) expected.push_back("V" + std::to_string(i) + "=x");
    }
    EXPECT_EQ(ReadNames(), expected) << c.What;
    EXPECT_EQ(calls, c.Calls) << c.What;
  }
}

// Comparison, with snapshots built by hand.
class CompareTest : public ::testing::Test {
 protected:
  struct TEntry {
    std::u16string Name;
    std::u16string Data;
    std::uint32_t Type = kRegSz;
  };
  using TEntries = std::vector<TEntry>;
  TRegSnapshot Snapshot(const TEntries& entries) const {
    TRegSnapshot s;
    for (const TEntry& e : entries) s.Entries.push_back(Entry(u"", e.Name, e.Type, e.Data));
    return s;
  }
  TRegEntry Entry(std::u16string subKey, std::u16string name, std::uint32_t type,
                  std::u16string data) const {
    const std::u16string identity = IdentityOf(Text.UpcaseTable(), subKey, name);
    return {std::move(subKey), std::move(name), type, std::move(data), identity};
  }
  void Compare(const TEntries& before, const TEntries& after) {
    Records.clear();
    CompareSnapshots(Snapshot(before), Snapshot(after), {kHkeyCurrentUser, "\\Key", Text},
                     Records);
  }
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    for (const TChangeRecord& r : Records) lines.push_back(r.Line);
    return lines;
  }

  FakeRegistryText Text;
  std::vector<TChangeRecord> Records;
};

TEST_F(CompareTest, EqualSnapshotsReportNothingWhateverTheCaseOrStringType) {
  Compare({}, {});
  EXPECT_TRUE(Records.empty());
  Compare({{u"Name", u"C:\\a.exe"}}, {{u"NAME", u"C:\\a.exe", kRegExpandSz}});
  EXPECT_TRUE(Records.empty());
  // Where only REG_EXPAND_SZ is expanded (a COM server), the type alone is a change.
  CompareSnapshots(Snapshot({{u"", u"%APPDATA%\\e.dll"}}),
                   Snapshot({{u"", u"%APPDATA%\\e.dll", kRegExpandSz}}),
                   {kHkeyCurrentUser, "\\Key", Text, false, u"", false, true}, Records);
  EXPECT_EQ(Records.size(), 1u);
}

TEST_F(CompareTest, EachRecordCarriesItsOwnKindTitleNameAndLine) {
  Compare({{u"Gone", u"\"C:\\gone.exe\" /s"}, {u"C", u"c"}},
          {{u"C", u"%C%", kRegExpandSz}, {u"New", u"C:\\new.exe;"}});
  ASSERT_EQ(Records.size(), 3u);
  EXPECT_EQ(Records[0].Kind, TChangeKind::Deleted);
  EXPECT_EQ(Records[0].Title, texts::kTitleDeleted);
  EXPECT_EQ(Records[0].ValueName, "Gone");
  EXPECT_EQ(Records[0].Line, "C:\\gone.exe ");
  EXPECT_EQ(Records[0].OldData, "\"C:\\gone.exe\" /s");
  EXPECT_EQ(Records[1].Kind, TChangeKind::Changed);
  EXPECT_EQ(Records[1].Title, "");  // a change leaves the caption
  EXPECT_EQ(Records[1].Line, ChangedLine("C", "c", "%C%"));
  EXPECT_EQ(Records[1].Type, kRegExpandSz);
  EXPECT_EQ(Records[2].Kind, TChangeKind::Added);
  EXPECT_EQ(Records[2].Title, texts::kTitleAdded);
  EXPECT_EQ(Records[2].Line, "C:\\new.exe");
  EXPECT_EQ(Records[2].NewData, "C:\\new.exe;");
  for (const TChangeRecord& r : Records) {
    EXPECT_EQ(r.RootKey, kHkeyCurrentUser);
    EXPECT_EQ(r.Location, "\\Key");
  }
}

// A value is only ever the same value as one the registry would find under
// its name: case-insensitive and ordinal. Characters without sort weight,
// or that code page 936 lacks, make names of their own.
TEST_F(CompareTest, NamesMatchOnlyAsTheRegistryMatchesThem) {
  struct TRow {
    const char* What;
    TEntries Before, After;
    std::vector<std::string> Names;  // of the records, in order
  } rows[] = {
      {"a weightless character", {{u"OneDrive", u"a"}}, {{u"OneDrive", u"a"}, {u"OneDrive\x01", u"b"}},
       {"OneDrive\x01"}},
      {"characters 936 lacks", {{u"\uAC00", u"a"}}, {{u"\uAC00", u"a"}, {u"\uAC01", u"b"}}, {"?"}},
      {"a case-only rename", {{u"Run", u"a"}}, {{u"RUN", u"a"}}, {}},
      {"the empty name", {{u"", u"a"}}, {{u"", u"a"}, {u"\x01", u"b"}}, {"\x01"}},
      {"a long name", {{std::u16string(16383, u'x'), u"a"}}, {{std::u16string(16383, u'X'), u"b"}},
       {std::string(16383, 'x')}},
  };
  for (const TRow& row : rows) {
    Compare(row.Before, row.After);
    std::vector<std::string> names;
    for (const TChangeRecord& r : Records) names.push_back(r.ValueName);
    EXPECT_EQ(names, row.Names) << row.What;
  }
  Compare({{u"\uAC00", u"a"}}, {{u"\uAC00", u"a"}, {u"\uAC01", u"b"}});
  ASSERT_EQ(Records.size(), 1u);
  EXPECT_EQ(Records[0].Identity, u"\uAC01");  // what deleting it acts on
}

// What acts on a record reads its facts; the texts shown never best-fit a
// character 936 lacks into a plain letter, and two sides that show alike say so.
TEST_F(CompareTest, RecordsKeepTheFactsAndShowNoLookAlikes) {
  Compare({{u"A", u"C:\\\u00E2.exe"}}, {{u"A", u"C:\\\u00E4.exe"},
                                        {u"upd\u00E2te", u"\"C:\\upd\u00E2te.exe\" /x"},
                                        {u"", u"C:\\d.exe"}});
  ASSERT_EQ(Records.size(), 3u);
  EXPECT_EQ(Records[0].Line, ChangedLine("A", "C:\\?.exe", "C:\\?.exe") + texts::kChangedLookAlike);
  EXPECT_EQ(Records[0].OldText, u"C:\\\u00E2.exe");
  EXPECT_EQ(Records[0].NewText, u"C:\\\u00E4.exe");
  EXPECT_EQ(Records[0].Program, u"C:\\\u00E4.exe");
  EXPECT_EQ(Records[1].ValueName, "upd?te");
  EXPECT_EQ(Records[1].Line, "C:\\upd?te.exe ");
  EXPECT_EQ(Records[1].Program, u"C:\\upd\u00E2te.exe ");
  EXPECT_EQ(Records[1].NewText, u"\"C:\\upd\u00E2te.exe\" /x");
  EXPECT_EQ(Records[1].Key, u"\\Key");
  // A key's default value is an entry like any other, and named so.
  EXPECT_EQ(Records[2].ValueName, texts::kDefaultValue);
  EXPECT_EQ(Records[2].Identity, u"");
  EXPECT_EQ(Records[2].Line, "C:\\d.exe");
}

// Only the settings Windows needs to start are kept from "删除".
TEST(WatchedLocations, WhichValuesAreSettingsOfWindows) {
  std::vector<std::string> settings;
  for (const TLocation& location : WatchedLocations(WatchedKeyTable())) {
    if (location.Settings) {
      settings.push_back((location.Hive == kHkeyLocalMachine ? "HKLM" : "HKCU") +
                         location.Path.substr(location.Path.rfind('\\')));
    }
  }
  EXPECT_EQ(settings,
            (std::vector<std::string>{
                "HKLM\\Winlogon", "HKLM\\Winlogon", "HKLM\\User Shell Folders",
                "HKCU\\User Shell Folders", "HKLM\\Shell Folders", "HKCU\\Shell Folders",
                "HKLM\\Session Manager", "HKLM\\StartupApproved", "HKCU\\StartupApproved"}));
}

// Task Manager keeps a switch for the Run keys alone, in either view of the
// machine's hive; the guard watches the switches of both hives.
TEST(WatchedLocations, WhichKeysHaveSwitchesAndWhereTheyAreWatched) {
  std::vector<std::string> switched, switches;
  for (const TLocation& location : WatchedLocations(WatchedKeyTable())) {
    const std::string hive = location.Hive == kHkeyLocalMachine ? "HKLM" : "HKCU";
    if (!location.Switch.empty()) {
      switched.push_back(hive + location.Path + "=" +
                         std::string(location.Switch.begin(), location.Switch.end()));
    }
    if (location.Switches) switches.push_back(hive + location.Path);
  }
  const std::string key = "\\Microsoft\\Windows\\CurrentVersion\\Run=";
  EXPECT_EQ(switched,
            (std::vector<std::string>{
                "HKLM\\Software" + key + "Run", "HKLM\\SOFTWARE\\Wow6432Node" + key + "Run32",
                "HKCU\\Software" + key + "Run"}));
  EXPECT_EQ(switches,
            (std::vector<std::string>{"HKLM\\SOFTWARE\\" + std::string(kStartupApproved).substr(9),
                                      "HKCU\\" + std::string(kStartupApproved)}));
}

// A switch's record tells what it now does to its entry, and names the
// switch; an entry of a key with switches names its own.
TEST_F(CompareTest, SwitchesReadAsSwitchedOffAndOnAndEntriesNameTheirSwitch) {
  TRegSnapshot before, after;
  before.Entries.push_back(Entry(u"Run", u"Same", kRegBinary, u"off:3:03000000"));
  after.Entries.push_back(Entry(u"Run", u"Same", kRegBinary, u"off:3:03000000"));
  before.Entries.push_back(Entry(u"Run", u"TurnedOn", kRegBinary, u"off:3:03000000"));
  after.Entries.push_back(Entry(u"Run", u"TurnedOn", kRegBinary, u"on:3:02000000"));
  before.Entries.push_back(Entry(u"Run32", u"Gone", kRegBinary, u"off:3:03000000"));
  after.Entries.push_back(Entry(u"StartupFolder", u"new.lnk", kRegBinary, u"off:3:07000000"));
  CompareSnapshots(before, after, {kHkeyLocalMachine, "\\Switches", Text, true, u"", true},
                   Records);
  ASSERT_EQ(Records.size(), 3u);
  EXPECT_EQ(Records[0].Title, texts::kTitleSwitchedOn);
  EXPECT_EQ(Records[0].Line, texts::kSwitchedOnLine);
  EXPECT_EQ(Records[0].SwitchKey, u"Run");
  EXPECT_EQ(Records[1].Title, texts::kTitleSwitchedOn) << "a switch deleted switches on";
  EXPECT_EQ(Records[1].SwitchKey, u"Run32");
  EXPECT_EQ(Records[2].Title, texts::kTitleSwitchedOff);
  EXPECT_EQ(Records[2].Line, texts::kSwitchedOffLine);
  EXPECT_EQ(Records[2].SwitchKey, u"StartupFolder");
  for (const TChangeRecord& r : Records) {
    EXPECT_EQ(r.SwitchHive, kHkeyLocalMachine);
    EXPECT_EQ(r.Program, u"");
  }
  Records.clear();
  after.Entries = {Entry(u"", u"A", kRegSz, u"C:\\a.exe"),
                   Entry(u"0001", u"B", kRegSz, u"C:\\b.exe")};
  CompareSnapshots({}, after, {kHkeyCurrentUser, "\\Run", Text, false, u"Run"}, Records);
  ASSERT_EQ(Records.size(), 2u);
  EXPECT_EQ(Records[0].SwitchKey, u"Run");
  EXPECT_EQ(Records[0].SwitchHive, kHkeyCurrentUser);
  EXPECT_EQ(Records[1].SwitchKey, u"") << "a subkey's value has no switch";
}

TEST_F(CompareTest, ListsShowTheirItemsAndSubkeysTheirNames) {
  TRegSnapshot before, after;
  before.Entries.push_back(Entry(u"", u"BootExecute", kRegMultiSz, std::u16string(u"a\0", 2)));
  after.Entries.push_back(Entry(u"", u"BootExecute", kRegMultiSz, std::u16string(u"a\0b c\0", 6)));
  after.Entries.push_back(Entry(u"0001", u"Step", kRegSz, u"C:\\s.exe"));
  CompareSnapshots(before, after, {kHkeyLocalMachine, "\\Key", Text}, Records);
  ASSERT_EQ(Records.size(), 2u);
  EXPECT_EQ(Records[0].Line, ChangedLine("BootExecute", "a", "a | b c"));
  EXPECT_EQ(Records[1].Location, "\\Key\\0001");
  EXPECT_EQ(Records[1].IdentitySubKey, u"0001");
  EXPECT_EQ(Records[1].Line, "C:\\s.exe");
}

// An enumeration that raced a value deleted and written again behind it read
// that value twice; a value added after it must still be reported.
TEST_F(CompareTest, AValueReadTwiceHidesNoAddedValue) {
  Compare({{u"V2", u"C:\\2.exe"}, {u"first", u"C:\\first.exe"}, {u"v2", u"C:\\2.exe"}},
          {{u"first", u"C:\\first.exe"}, {u"V2", u"C:\\2.exe"}, {u"V5", u"C:\\5.exe"}});
  EXPECT_EQ(Lines(), std::vector<std::string>{"C:\\5.exe"});
}

// The comparison at its plainest: linear lookups by ASCII-folded names.
std::vector<std::string> ReferenceCompare(const std::vector<std::pair<std::string, std::string>>& old,
                                          const std::vector<std::pair<std::string, std::string>>& now) {
  auto fold = [](std::string s) {
    for (char& c : s) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    return s;
  };
  auto find = [&](const auto& list, const std::string& name, std::size_t before) {
    for (std::size_t i = 0; i < before && i < list.size(); ++i) {
      if (fold(list[i].first) == fold(name)) return static_cast<int>(i);
    }
    return -1;
  };
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < old.size(); ++i) {
    if (find(old, old[i].first, i) >= 0) continue;  // a second reading
    const int j = find(now, old[i].first, now.size());
    if (j < 0) {
      lines.push_back(PathLine(old[i].second));
    } else if (now[j].second != old[i].second) {
      const std::string name = old[i].first.empty() ? texts::kDefaultValue : old[i].first;
      lines.push_back(ChangedLine(name, old[i].second, now[j].second));
    }
  }
  for (std::size_t j = 0; j < now.size(); ++j) {
    if (find(now, now[j].first, j) < 0 && find(old, now[j].first, old.size()) < 0) {
      lines.push_back(PathLine(now[j].second));
    }
  }
  return lines;
}

TEST(CompareEquivalence, MatchesTheLinearAlgorithmOnRandomSnapshots) {
  // Few distinct names in mixed case, duplicates among them, so that
  // first-match order, case-only renames and collisions all occur.
  std::mt19937 random(20261209);
  const char* stems[] = {"run", "Run", "RUN", "app",  "App",   "x",
                         "X",   "",    "-",   "\x01", "tool;", "\"q\""};
  const char* datas[] = {"C:\\a.exe", "c:\\A.exe", "\"C:\\b c\\d.exe\" /x", "/s", "", "a.exe/b"};
  auto randomEntries = [&] {
    std::vector<std::pair<std::string, std::string>> entries;
    const int count = std::uniform_int_distribution<int>(0, 12)(random);
    for (int k = 0; k < count; ++k) {
      const unsigned suffix = random() % 4;  // 3: none
      entries.emplace_back(std::string(stems[random() % 12]) +
                               (suffix < 3 ? std::to_string(suffix) : ""),
                           datas[random() % 6]);
    }
    return entries;
  };
  FakeRegistryText text;
  auto snapshot = [&](const std::vector<std::pair<std::string, std::string>>& entries) {
    TRegSnapshot s;
    for (auto& [name, data] : entries) {
      const std::u16string wide = text.FromAnsi(name);
      s.Entries.push_back({u"", wide, kRegSz, text.FromAnsi(data),
                           IdentityOf(text.UpcaseTable(), u"", wide)});
    }
    return s;
  };
  for (int round = 0; round < 5000; ++round) {
    const auto old = randomEntries();
    const auto now = randomEntries();
    std::vector<TChangeRecord> records;
    CompareSnapshots(snapshot(old), snapshot(now), {kHkeyCurrentUser, "\\K", text}, records);
    std::vector<std::string> lines;
    for (const TChangeRecord& r : records) lines.push_back(r.Line);
    ASSERT_EQ(lines, ReferenceCompare(old, now)) << "round " << round;
  }
}

}  // namespace
}  // namespace kw
