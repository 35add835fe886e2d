// The saved state's file format, its keyed checksum, its loading and setting
// aside, the store, and the file of the alert's unconfirmed changes.

#include <gtest/gtest.h>

#include "monitor/Digest.h"
#include "monitor/PendingRecords.h"
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

bool operator==(const TFolderEntry& a, const TFolderEntry& b) {
  return a.Name == b.Name && a.Size == b.Size && a.WriteTime == b.WriteTime &&
         a.Program == b.Program && a.Arguments == b.Arguments && a.Content == b.Content;
}

void ExpectSame(const TStateContents& a, const TStateContents& b) {
  ASSERT_EQ(a.Keys.size(), b.Keys.size());
  for (auto i = a.Keys.begin(), j = b.Keys.begin(); i != a.Keys.end(); ++i, ++j) {
    EXPECT_EQ(i->first, j->first);
    ASSERT_EQ(i->second.Entries.size(), j->second.Entries.size()) << i->first;
    for (std::size_t k = 0; k < i->second.Entries.size(); ++k) {
      EXPECT_TRUE(i->second.Entries[k] == j->second.Entries[k]) << i->first << " " << k;
    }
  }
  ASSERT_EQ(a.Folders.size(), b.Folders.size());
  for (auto i = a.Folders.begin(), j = b.Folders.begin(); i != a.Folders.end(); ++i, ++j) {
    EXPECT_EQ(i->first, j->first);
    EXPECT_TRUE(i->second.Path == j->second.Path) << i->first;
    ASSERT_EQ(i->second.Snapshot.Entries.size(), j->second.Snapshot.Entries.size()) << i->first;
    for (std::size_t k = 0; k < i->second.Snapshot.Entries.size(); ++k) {
      EXPECT_TRUE(i->second.Snapshot.Entries[k] == j->second.Snapshot.Entries[k]) << k;
    }
  }
}

const std::string kSecret = "the user's secret";

const std::string kRun = "\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// Each row a state that must come back exactly as it went.
std::vector<TStateContents> RoundTripRows() {
  const std::u16string longName(16383, u'\x6D4B');  // the longest name the registry allows
  const std::u16string startup = u"C:\\Users\\\x5F20\\Start Menu\\Programs\\StartUp";
  std::vector<TSavedStates> keys{
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
  std::vector<TStateContents> rows;
  for (TSavedStates& states : keys) rows.push_back({std::move(states), {}});
  // Folders: one read empty, one with a file and a shortcut, one whose content was unreadable.
  rows.push_back({{}, {{FolderStateKeyOf(TStartupFolder::Common), {u"C:\\All\\StartUp", {}}}}});
  rows.push_back({rows[2].Keys,
                  {{FolderStateKeyOf(TStartupFolder::User),
                    {startup,
                     {{{u"a b.exe", 123456789012ull, 0xFFFFFFFFFFFFFFFFull, startup + u"\\a b.exe",
                        u"", Sha256Hex("MZ")},
                       {u"\x5FAE\x4FE1.lnk", 1024, 0, u"C:\\wx.exe", u"/min %1", Sha256Hex("L")},
                       {u"locked.cmd", 0, 1, startup + u"\\locked.cmd", u"", ""}}}}}}});
  return rows;
}

TEST(SavedState, EveryRowComesBackExactly) {
  for (const TStateContents& states : RoundTripRows()) {
    TStateContents read{{{"stale", {}}}, {}};
    ASSERT_EQ(DecodeStates(EncodeStates(states, kSecret), kSecret, read), TDecodeResult::Read);
    ExpectSame(read, states);
  }
}

// RFC 4231, cases 1, 2 and 6 (a key longer than a block); FIPS 180-2's "abc".
TEST(SavedState, TheChecksumIsHmacSha256) {
  EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(Sha256Hex(std::string(1000000, 'a')),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  EXPECT_EQ(HmacSha256Hex(std::string(20, '\x0b'), "Hi There"),
            "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7");
  EXPECT_EQ(HmacSha256Hex("Jefe", "what do ya want for nothing?"),
            "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
  EXPECT_EQ(HmacSha256Hex(std::string(131, '\xaa'),
                          "Test Using Larger Than Block-Size Key - Hash Key First"),
            "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54");
}

// A file written with another secret, or with none, is refused: a program
// without the user's secret cannot forge a state.
TEST(SavedState, AFileOfAnotherSecretIsRefused) {
  const std::string text = EncodeStates(RoundTripRows()[2], "another secret");
  TStateContents read;
  EXPECT_EQ(DecodeStates(text, kSecret, read), TDecodeResult::Damaged);
  EXPECT_TRUE(read.Keys.empty());
  EXPECT_EQ(DecodeStates(EncodeStates(RoundTripRows()[2], ""), kSecret, read),
            TDecodeResult::Damaged);
}

// Cut anywhere, or with any one byte changed, a file is refused whole.
TEST(SavedState, AFileCutShortOrChangedIsRefusedWhole) {
  for (const std::size_t row : {4u, 6u}) {
    const std::string text = EncodeStates(RoundTripRows()[row], kSecret);
    TStateContents read;
    for (std::size_t size = 0; size < text.size(); ++size) {
      EXPECT_EQ(DecodeStates(text.substr(0, size), kSecret, read), TDecodeResult::Damaged) << size;
      EXPECT_TRUE(read.Keys.empty() && read.Folders.empty());
    }
    for (std::size_t at = 0; at < text.size(); ++at) {
      std::string changed = text;
      changed[at] = static_cast<char>(changed[at] ^ 0x01);
      EXPECT_NE(DecodeStates(changed, kSecret, read), TDecodeResult::Read) << at;
      EXPECT_TRUE(read.Keys.empty() && read.Folders.empty());
    }
  }
}

TEST(SavedState, AnotherVersionIsToldApart) {
  TStateContents read;
  EXPECT_EQ(DecodeStates("Keywarden saved state 1\nEnd 0000000000000000\n", kSecret, read),
            TDecodeResult::OtherVersion);
  EXPECT_EQ(DecodeStates("Keywarden saved state 10\n", kSecret, read), TDecodeResult::OtherVersion);
  EXPECT_EQ(DecodeStates("[Form3]\nCheckBox1=1\n", kSecret, read), TDecodeResult::Damaged);
  EXPECT_EQ(DecodeStates("", kSecret, read), TDecodeResult::Damaged);
}

const std::u16string kPath = u"C:\\ProgramData\\Keywarden\\S-1-5-21-1\\Keywarden.state";

TEST(StateFile, NoFileIsNoStateAndASavedOneReadsBack) {
  fake::FakeFiles files;
  TStateFile file(files, kPath, kSecret);
  TStateContents states;
  EXPECT_EQ(file.Load(states), TStateLoad::None);
  ASSERT_TRUE(file.Save(RoundTripRows()[6]));
  EXPECT_EQ(file.Load(states), TStateLoad::Read);
  ExpectSame(states, RoundTripRows()[6]);
}

// Held open by another program however long it was tried, or with no secret
// to check it by, a file is unreadable: never taken for none, nor set aside.
TEST(StateFile, ALockedFileOrOneWithoutTheSecretIsUnreadable) {
  fake::FakeFiles files;
  TStateFile file(files, kPath, kSecret);
  ASSERT_TRUE(file.Save(RoundTripRows()[2]));
  files.Locked.insert(kPath);
  TStateContents states;
  EXPECT_EQ(file.Load(states), TStateLoad::Unreadable);
  EXPECT_TRUE(states.Keys.empty());
  files.Locked.clear();
  TStateFile keyless(files, kPath, "");
  EXPECT_EQ(keyless.Load(states), TStateLoad::Unreadable);
  EXPECT_FALSE(keyless.Save(RoundTripRows()[2]));
  EXPECT_EQ(files.Files.size(), 1u);
  EXPECT_EQ(file.Load(states), TStateLoad::Read);
}

// A damaged file is kept under a name of its own, never over an earlier one.
TEST(StateFile, ADamagedFileIsSetAsideUnderTheFirstFreeName) {
  fake::FakeFiles files;
  files.Files[kPath + u".bad-1"] = "earlier";
  files.Files[kPath] = EncodeStates(RoundTripRows()[2], kSecret).substr(0, 40);
  TStateFile file(files, kPath, kSecret);
  TStateContents states;
  EXPECT_EQ(file.Load(states), TStateLoad::SetAside);
  EXPECT_TRUE(states.Keys.empty());
  EXPECT_TRUE(file.SetAsideName() == kPath + u".bad-2");
  EXPECT_EQ(files.Files[kPath + u".bad-1"], "earlier");
  EXPECT_EQ(files.Files[kPath + u".bad-2"],
            EncodeStates(RoundTripRows()[2], kSecret).substr(0, 40));
  EXPECT_EQ(files.Files.count(kPath), 0u);

  files.Files[kPath] = "Keywarden saved state 9\n";
  files.Unwritable = true;  // nor can it be moved
  EXPECT_EQ(file.Load(states), TStateLoad::Unusable);
  EXPECT_EQ(files.Files[kPath], "Keywarden saved state 9\n");
}

TEST(StateStore, ATakeGivesEveryStateOnceAfterEachChange) {
  TStateStore store(RoundTripRows()[4]);
  EXPECT_FALSE(store.FoundIsNewAtStart());
  TStateContents taken;
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
  EXPECT_EQ(taken.Keys.size(), 4u);  // the saved ones kept beside the new one
  EXPECT_FALSE(store.TakeChanged(taken));
  store.MarkChanged();
  EXPECT_TRUE(store.TakeChanged(taken));

  TSavedFolder folder;
  EXPECT_FALSE(store.FolderStateOf(FolderStateKeyOf(TStartupFolder::User), folder));
  store.PublishFolder(FolderStateKeyOf(TStartupFolder::User), {u"C:\\S", {}});
  ASSERT_TRUE(store.FolderStateOf(FolderStateKeyOf(TStartupFolder::User), folder));
  EXPECT_TRUE(folder.Path == u"C:\\S");
  ASSERT_TRUE(store.TakeChanged(taken));
  EXPECT_EQ(taken.Folders.size(), 1u);
}

// Every field of a record comes back as it was kept, in order; a file cut,
// changed or of another secret gives none.
TEST(PendingFile, TheUnconfirmedChangesComeBackExactly) {
  std::vector<TChangeRecord> records(3);
  records[0].Kind = TChangeKind::Deleted;
  records[0].Time = {2026, 12, 10, 23, 59, 58, 999};
  records[0].RootKey = kHkeyLocalMachine;
  records[0].View = 0x100;
  records[0].Location = "\\SOFTWARE\\\xD6\xD0 Run";
  records[0].ValueName = "a?b";
  records[0].Identity =
      u"a\xD800"
      u"b";
  records[0].IdentitySubKey = u"";
  records[0].OldData = "C:\\old.exe /x";
  records[0].Type = kRegExpandSz;
  records[0].Line = "C:\\old.exe";
  records[0].ProgramPath = "C:\\old.exe";
  records[0].Title = "\xBE\xAF";
  records[0].Key = u"\\SOFTWARE\\\u4E2D Run";
  records[0].OldText = u"C:\\upd\u00E2te.exe /x";
  records[0].Program = u"C:\\upd\u00E2te.exe";
  records[1].Where = TLocationKind::StartupFolder;
  records[1].Kind = TChangeKind::Changed;
  records[1].Identity = u"x.lnk";
  records[1].IdentitySubKey = u"C:\\S";
  records[1].NewData = "/min";
  records[1].Setting = true;
  records[2].Kind = TChangeKind::NotWatched;
  records[2].Line = std::string(5000, 'z');

  fake::FakeFiles files;
  const std::u16string path = u"C:\\P\\Keywarden.pending";
  TPendingFile file(files, path, kSecret);
  std::vector<TChangeRecord> read;
  EXPECT_EQ(file.Load(read), TPendingLoad::None);
  ASSERT_TRUE(file.Save(records));
  ASSERT_EQ(file.Load(read), TPendingLoad::Read);
  ASSERT_EQ(read.size(), records.size());
  for (std::size_t i = 0; i < records.size(); ++i) {
    std::string again;
    EXPECT_EQ(EncodePendingRecords({read[i]}, kSecret), EncodePendingRecords({records[i]}, kSecret))
        << i;
  }
  EXPECT_EQ(read[0].Time.Milliseconds, 999);
  EXPECT_TRUE(read[0].Identity == records[0].Identity);
  EXPECT_TRUE(read[0].Program == records[0].Program);  // the facts the actions use
  EXPECT_TRUE(read[0].Key == records[0].Key);
  EXPECT_EQ(read[1].Where, TLocationKind::StartupFolder);
  EXPECT_TRUE(read[1].Setting);

  const std::string text = files.Files[path];
  for (std::size_t size = 0; size < text.size(); size += 7) {
    files.Files[path] = text.substr(0, size);
    EXPECT_EQ(file.Load(read), TPendingLoad::Unreadable) << size;
    EXPECT_TRUE(read.empty());
  }
  files.Files[path] = EncodePendingRecords(records, "another secret");
  EXPECT_EQ(file.Load(read), TPendingLoad::Unreadable);
  files.Files[path] = text;
  files.Locked.insert(path);
  EXPECT_EQ(file.Load(read), TPendingLoad::Unreadable);
  files.Locked.clear();
  ASSERT_TRUE(file.Save({}));
  EXPECT_EQ(file.Load(read), TPendingLoad::Read);
  EXPECT_TRUE(read.empty());
}

}  // namespace
}  // namespace kw::test
