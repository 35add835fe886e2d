// Reading snapshots, comparing them, and the lines the comparison reports.

#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "monitor/ChangeTexts.h"
#include "monitor/RegSnapshot.h"
#include "tests/fakes/AsciiCollation.h"
#include "tests/fakes/FakeRegistry.h"

namespace kw {
namespace {

using fake::AsciiCollation;
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
  TRegSnapshot Read() {
    TRegSnapshot snapshot(Collation);
    auto key = Registry.OpenKey(kHkeyCurrentUser, kPath, kKeyRead);
    TakeSnapshot(*key, snapshot, Buffer);
    return snapshot;
  }
  void Set(const std::string& name, const std::string& text) {
    Registry.SetString(kHkeyCurrentUser, kPath, name, text);
  }

  FakeSync Sync;
  FakeRegistry Registry{Sync};
  AsciiCollation Collation;
  std::vector<unsigned char> Buffer;
};

TEST_F(SnapshotTest, KeepsStringValuesOnlyWithTheirDataLessTheLastByte) {
  Set("A", "one");
  Registry.SetValue(kHkeyCurrentUser, kPath, "Expand", 2, std::string("%x%\0", 4));
  Registry.SetValue(kHkeyCurrentUser, kPath, "Dword", 4, std::string(4, '\1'));
  Registry.SetValue(kHkeyCurrentUser, kPath, "NoNul", kRegSz, "abc");
  Registry.SetValue(kHkeyCurrentUser, kPath, "Empty", kRegSz, "");
  Registry.SetValue(kHkeyCurrentUser, kPath, "Nul", kRegSz, std::string("\0", 1));
  Registry.SetValue(kHkeyCurrentUser, kPath, "Inner", kRegSz, std::string("a\0b\0", 4));
  Registry.SetValue(kHkeyCurrentUser, kPath, std::string(256, 'n'), kRegSz, "long name");
  Set(std::string(255, 'm'), "longest name that fits");

  const TRegSnapshot s = Read();
  const std::vector<std::string> names = {"A",   "NoNul", "Empty",
                                          "Nul", "Inner", std::string(255, 'm')};
  EXPECT_EQ(s.Names.Items(), names);
  const std::vector<std::string> data = {
      "one", "ab", "", "", std::string("a\0b", 3), "longest name that fits"};
  EXPECT_EQ(s.Data, data);
}

TEST_F(SnapshotTest, IsEmptyWhenTheKeyCannotBeQueried) {
  Set("A", "one");
  Registry.FailQueryInfo(true);
  EXPECT_EQ(Read().Names.Count(), 0u);
}

TEST_F(SnapshotTest, LeavesOutDataThatGrewAfterTheQuery) {
  Set("A", "12");
  Set("B", "34");
  Registry.OnEnumValue([this](std::uint32_t index) {
    if (index == 0) Set("A", "grown well past the size that was queried");
    return 0L;
  });
  const TRegSnapshot s = Read();
  EXPECT_EQ(s.Names.Items(), std::vector<std::string>{"B"});
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
      {"a run of names too long",
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
      if (c.Kept(i)) expected.push_back("V" + std::to_string(i));
    }
    EXPECT_EQ(Read().Names.Items(), expected) << c.What;
    EXPECT_EQ(calls, c.Calls) << c.What;
  }
}

// Comparison, with snapshots built by hand.
class CompareTest : public ::testing::Test {
 protected:
  using TEntries = std::vector<std::pair<std::string, std::string>>;
  static void Fill(TRegSnapshot& s, const TEntries& entries) {
    s.Names.Clear();
    s.Data.clear();
    for (auto& [name, data] : entries) {
      s.Names.Append(name);
      s.Data.push_back(data);
    }
  }
  void Compare(const TEntries& before, const TEntries& after) {
    Fill(Old, before);
    Fill(New, after);
    CompareSnapshots(Old, New, Change);
  }
  TEntries OldEntries() const {
    TEntries entries;
    for (std::size_t i = 0; i < Old.Names.Count(); ++i)
      entries.emplace_back(Old.Names[i], Old.Data[i]);
    return entries;
  }

  AsciiCollation Collation;
  TRegSnapshot Old{Collation}, New{Collation};
  TChangeData Change;
};

TEST_F(CompareTest, EmptyOrEqualSnapshotsReportNothing) {
  Compare({}, {});
  EXPECT_TRUE(Change.Changes.empty());
  EXPECT_EQ(Change.Title, "");
  Compare({{"Name", "C:\\a.exe"}}, {{"NAME", "C:\\a.exe"}});
  EXPECT_TRUE(Change.Changes.empty());
  EXPECT_EQ(OldEntries(), (TEntries{{"Name", "C:\\a.exe"}}));  // the old form of the name stays
}

TEST_F(CompareTest, DeletedThenAddedGivesBothLinesAndTheAddedTitle) {
  Compare({{"Gone", "\"C:\\gone.exe\" /s"}}, {{"New", "C:\\new.exe;"}});
  EXPECT_EQ(Change.Changes, (std::vector<std::string>{"C:\\gone.exe ", "C:\\new.exe"}));
  EXPECT_EQ(Change.Title, texts::kTitleAdded);
  EXPECT_EQ(Change.ValueName, "New");
  EXPECT_EQ(OldEntries(), (TEntries{{"New", "C:\\new.exe;"}}));
}

TEST_F(CompareTest, ChangedEntryKeepsTheDeletedTitleAndNamesTheLastInOldOrder) {
  Compare({{"A", "a"}, {"B", "b"}, {"C", "c"}}, {{"C", "C"}});
  ASSERT_EQ(Change.Changes.size(), 3u);
  EXPECT_EQ(Change.Changes[0], "a");
  EXPECT_EQ(Change.Changes[1], "b");
  EXPECT_EQ(Change.Changes[2], ChangedLine("C", "c", "C"));  // case in data counts
  EXPECT_EQ(Change.Title, texts::kTitleDeleted);
  EXPECT_EQ(Change.ValueName, "C");
}

TEST_F(CompareTest, EmptyDataGivesAnEmptyLine) {
  Compare({}, {{"E", ""}});
  EXPECT_EQ(Change.Changes, std::vector<std::string>{""});
  EXPECT_EQ(Change.ValueName, "E");
}

TEST_F(CompareTest, ChangesOnlyGrowAndTitlesDescribeTheLatestPass) {
  Compare({}, {{"A", "a"}});
  Compare({{"A", "a"}}, {{"A", "a"}});
  EXPECT_EQ(Change.Changes.size(), 1u);
  EXPECT_EQ(Change.Title, "");
  EXPECT_EQ(Change.ValueName, "");
}

// An enumeration that raced a value deleted and written again behind it read
// that value twice; a value added after it must still be reported, although
// every old name finds a new one and the old names outnumber the new ones.
TEST_F(CompareTest, AValueReadTwiceHidesNoAddedValue) {
  Compare({{"V2", "C:\\2.exe"}, {"first", "C:\\first.exe"}, {"V2", "C:\\2.exe"}},
          {{"first", "C:\\first.exe"}, {"V2", "C:\\2.exe"}});
  EXPECT_TRUE(Change.Changes.empty());
  Compare({{"V2", "C:\\2.exe"}, {"first", "C:\\first.exe"}, {"v2", "C:\\2.exe"}},
          {{"first", "C:\\first.exe"}, {"V2", "C:\\2.exe"}, {"V5", "C:\\5.exe"}});
  EXPECT_EQ(Change.Changes, std::vector<std::string>{"C:\\5.exe"});
  EXPECT_EQ(Change.Title, texts::kTitleAdded);
  EXPECT_EQ(Change.ValueName, "V5");
  EXPECT_EQ(OldEntries(),
            (TEntries{{"first", "C:\\first.exe"}, {"V2", "C:\\2.exe"}, {"V5", "C:\\5.exe"}}));
}

// The comparison at its plainest: linear lookups, a copy of the new snapshot.
struct TReference {
  std::vector<std::string> Names, Data;
};

int LinearLookup(const ICollation& c, const std::vector<std::string>& names, const std::string& n) {
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (c.EqualIgnoreCase(names[i], n)) return static_cast<int>(i);
  }
  return -1;
}

void ReferenceCompare(const ICollation& c, TReference& old, const TReference& now,
                      TChangeData& change) {
  change.Title.clear();
  change.ValueName.clear();
  bool difference = false;
  for (std::size_t i = 0; i < old.Names.size(); ++i) {
    const int j = LinearLookup(c, now.Names, old.Names[i]);
    if (j < 0) {
      change.Changes.push_back(PathLine(old.Data[i]));
      change.ValueName = old.Names[i];
      change.Title = texts::kTitleDeleted;
      difference = true;
    } else {
      if (now.Data[j] != old.Data[i]) {
        change.Changes.push_back(ChangedLine(old.Names[i], old.Data[i], now.Data[j]));
        change.ValueName = old.Names[i];
        difference = true;
      }
    }
  }
  for (std::size_t i = 0; i < now.Names.size(); ++i) {
    if (LinearLookup(c, old.Names, now.Names[i]) < 0) {
      change.Changes.push_back(PathLine(now.Data[i]));
      change.ValueName = now.Names[i];
      change.Title = texts::kTitleAdded;
      difference = true;
    }
  }
  if (difference) old = now;
}

TEST(CompareEquivalence, MatchesTheLinearAlgorithmOnRandomSnapshots) {
  // Few distinct names in mixed case, duplicates among them, so that
  // first-match order, case-only renames and collisions all occur; the empty
  // name and names that only weightless bytes make equal to it; and, in the
  // second row, the user choosing another locale between or within passes.
  struct TLocales {
    const char* What;
    std::vector<std::string> Weightless;  // the locales chosen in turn; none: one locale
  };
  const TLocales rows[] = {{"one locale", {}}, {"changing locales", {"\x01", "\x01-0"}}};
  std::mt19937 random(20261209);
  const char* stems[] = {"run", "Run", "RUN", "app",  "App",   "x",
                         "X",   "",    "-",   "\x01", "tool;", "\"q\""};
  const char* datas[] = {"C:\\a.exe", "c:\\A.exe", "\"C:\\b c\\d.exe\" /x", "/s", "", "a.exe/b"};
  auto randomEntries = [&](TReference& r) {
    r = {};
    const int count = std::uniform_int_distribution<int>(0, 12)(random);
    for (int k = 0; k < count; ++k) {
      const unsigned suffix = random() % 4;  // 3: none
      r.Names.push_back(std::string(stems[random() % 12]) +
                        (suffix < 3 ? std::to_string(suffix) : ""));
      r.Data.push_back(datas[random() % 6]);
    }
  };
  for (const TLocales& row : rows) {
    AsciiCollation collation;
    std::size_t locale = 0;
    auto maybeChooseAnotherLocale = [&] {
      if (row.Weightless.empty() || random() % 3) return;
      locale = (locale + 1) % row.Weightless.size();
      collation.SetWeightless(row.Weightless[locale]);
    };
    for (int round = 0; round < 3000; ++round) {
      TReference oldRef, newRef;
      randomEntries(oldRef);
      TRegSnapshot old(collation), now(collation);
      for (std::size_t i = 0; i < oldRef.Names.size(); ++i) {
        old.Names.Append(oldRef.Names[i]);
        old.Data.push_back(oldRef.Data[i]);
      }
      TChangeData expected, actual;
      for (int pass = 0; pass < 4; ++pass) {  // passes chained on the same old snapshot
        maybeChooseAnotherLocale();
        randomEntries(newRef);
        now.Names.Clear();
        now.Data.clear();
        for (std::size_t i = 0; i < newRef.Names.size(); ++i) {
          now.Names.Append(newRef.Names[i]);
          now.Data.push_back(newRef.Data[i]);
        }
        maybeChooseAnotherLocale();
        ReferenceCompare(collation, oldRef, newRef, expected);
        CompareSnapshots(old, now, actual);
        ASSERT_EQ(actual.Changes, expected.Changes)
            << row.What << ", round " << round << " pass " << pass;
        ASSERT_EQ(actual.Title, expected.Title);
        ASSERT_EQ(actual.ValueName, expected.ValueName);
        ASSERT_EQ(old.Names.Items(), oldRef.Names);
        ASSERT_EQ(old.Data, oldRef.Data);
      }
    }
  }
}

}  // namespace
}  // namespace kw
