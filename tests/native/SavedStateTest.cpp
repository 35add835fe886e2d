// The saved state's file format, its loading and setting aside, and the store.

#include <gtest/gtest.h>

#include "monitor/StateFile.h"
#include "monitor/StateStore.h"
#include "tests/fakes/FakeFiles.h"

namespace kw::test {
namespace {

TRegEntry Entry(std::u16string subKey, std::u16string name, std::uint32_t type,
                std::u16string data) {
  return {std::move(subKey), std::move(name), type, std::move(data)};
}

bool operator==(const TRegEntry& a, const TRegEntry& b) {
  return a.SubKey == b.SubKey && a.Name == b.Name && a.Type == b.Type && a.Data == b.Data;
}

void ExpectSame(const TSavedStates& a, const TSavedStates& b) {
  ASSERT_EQ(a.size(), b.size());
  for (auto i = a.begin(), j = b.begin(); i != a.end(); ++i, ++j) {
    EXPECT_EQ(i->first, j->first);
    ASSERT_EQ(i->second.Entries.size(), j->second.Entries.size()) << i->first;
    for (std::size_t k = 0; k < i->second.Entries.size(); ++k) {
      EXPECT_TRUE(i->second.Entries[k] == j->second.Entries[k]) << i->first << " " << k;
    }
  }
}

const std::string kRun = "\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// Each row a state that must come back exactly as it went.
std::vector<TSavedStates> RoundTripRows() {
  const std::u16string longName(16383, u'\x6D4B');  // the longest name the registry allows
  return {
      {},                                           // nothing watched yet
      {{StateKeyOf(kHkeyLocalMachine, kRun), {}}},  // a location read empty
      {{StateKeyOf(kHkeyCurrentUser, kRun),
        {{Entry(u"", u"\x5FAE\x4FE1", kRegSz, u"C:\\\x5FAE\x4FE1\\wx.exe /min")}}}},  // 微信
      {{StateKeyOf(kHkeyCurrentUser, kRun),
        {{Entry(u"", u"\xD800x\xDFFF", kRegExpandSz,
                u"%SystemRoot%\\a b~c.exe"),               // lone surrogates
          Entry(u"", u"\x00E9\x0410\x20AC", kRegSz, u""),  // not in 936
          Entry(u"", u"", kRegSz, u"default value"),       // the unnamed value
          Entry(u"", longName, kRegSz, longName)}}}},
      {{StateKeyOf(kHkeyLocalMachine, "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnceEx"),
        {{Entry(u"0001", u"x", kRegSz, u"a.exe"), Entry(u"Depend", u"y", kRegSz, u"b.exe")}}},
       {StateKeyOf(kHkeyLocalMachine, "\\SYSTEM\\CurrentControlSet\\Control\\Session Manager"),
        {{Entry(u"", u"BootExecute", kRegMultiSz, std::u16string(u"autocheck *\0x\0", 14))}}},
       {StateKeyOf(kHkeyCurrentUser, "\\Software\\\xD6\xD0\xCE\xC4 key"), {}}},  // a 936 path
  };
}

TEST(SavedState, EveryRowComesBackExactly) {
  for (const TSavedStates& states : RoundTripRows()) {
    TSavedStates read{{"stale", {}}};
    ASSERT_EQ(DecodeStates(EncodeStates(states), read), TDecodeResult::Read);
    ExpectSame(read, states);
  }
}

// Cut anywhere, or with any one byte changed, a file is refused whole.
TEST(SavedState, AFileCutShortOrChangedIsRefusedWhole) {
  const std::string text = EncodeStates(RoundTripRows()[4]);
  TSavedStates read;
  for (std::size_t size = 0; size < text.size(); ++size) {
    EXPECT_EQ(DecodeStates(text.substr(0, size), read), TDecodeResult::Damaged) << size;
    EXPECT_TRUE(read.empty());
  }
  for (std::size_t at = 0; at < text.size(); ++at) {
    std::string changed = text;
    changed[at] = static_cast<char>(changed[at] ^ 0x01);
    EXPECT_NE(DecodeStates(changed, read), TDecodeResult::Read) << at;
    EXPECT_TRUE(read.empty());
  }
}

TEST(SavedState, AnotherVersionIsToldApart) {
  TSavedStates read;
  EXPECT_EQ(DecodeStates("Keywarden saved state 2\nEnd 0000000000000000\n", read),
            TDecodeResult::OtherVersion);
  EXPECT_EQ(DecodeStates("Keywarden saved state 10\n", read), TDecodeResult::OtherVersion);
  EXPECT_EQ(DecodeStates("[Form3]\nCheckBox1=1\n", read), TDecodeResult::Damaged);
  EXPECT_EQ(DecodeStates("", read), TDecodeResult::Damaged);
}

const std::string kPath = "C:\\Keywarden\\/Keywarden.state";

TEST(StateFile, NoFileIsNoStateAndASavedOneReadsBack) {
  fake::FakeFiles files;
  TStateFile file(files, kPath);
  TSavedStates states;
  EXPECT_EQ(file.Load(states), TStateLoad::None);
  ASSERT_TRUE(file.Save(RoundTripRows()[2]));
  EXPECT_EQ(file.Load(states), TStateLoad::Read);
  ExpectSame(states, RoundTripRows()[2]);
}

// A damaged file is kept under a name of its own, never over an earlier one.
TEST(StateFile, ADamagedFileIsSetAsideUnderTheFirstFreeName) {
  fake::FakeFiles files;
  files.Files[kPath + ".bad-1"] = "earlier";
  files.Files[kPath] = EncodeStates(RoundTripRows()[2]).substr(0, 40);
  TStateFile file(files, kPath);
  TSavedStates states;
  EXPECT_EQ(file.Load(states), TStateLoad::SetAside);
  EXPECT_TRUE(states.empty());
  EXPECT_EQ(file.SetAsideName(), kPath + ".bad-2");
  EXPECT_EQ(files.Files[kPath + ".bad-1"], "earlier");
  EXPECT_EQ(files.Files[kPath + ".bad-2"], EncodeStates(RoundTripRows()[2]).substr(0, 40));
  EXPECT_EQ(files.Files.count(kPath), 0u);

  files.Files[kPath] = "Keywarden saved state 9\n";
  files.Unwritable = true;  // nor can it be moved
  EXPECT_EQ(file.Load(states), TStateLoad::Unusable);
  EXPECT_EQ(files.Files[kPath], "Keywarden saved state 9\n");
}

TEST(StateStore, ATakeGivesEveryStateOnceAfterEachChange) {
  TStateStore store(RoundTripRows()[4]);
  TSavedStates taken;
  EXPECT_FALSE(store.TakeChanged(taken));
  TRegSnapshot snapshot;
  ASSERT_TRUE(store.StateOf(
      StateKeyOf(kHkeyLocalMachine, "\\SYSTEM\\CurrentControlSet\\Control\\Session Manager"),
      snapshot));
  EXPECT_EQ(snapshot.Entries.size(), 1u);
  EXPECT_FALSE(store.StateOf(StateKeyOf(kHkeyCurrentUser, kRun), snapshot));

  store.Publish(StateKeyOf(kHkeyCurrentUser, kRun), {{Entry(u"", u"a", kRegSz, u"a.exe")}});
  EXPECT_TRUE(store.Changed());
  ASSERT_TRUE(store.TakeChanged(taken));
  EXPECT_EQ(taken.size(), 4u);  // the saved ones kept beside the new one
  EXPECT_FALSE(store.TakeChanged(taken));
  store.MarkChanged();
  EXPECT_TRUE(store.TakeChanged(taken));
}

}  // namespace
}  // namespace kw::test
