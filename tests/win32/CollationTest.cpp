// The user locale's comparison under code page 936, and the name index built on it.

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <random>

#include "monitor/NameList.h"
#include "platform/win32/Win32Collation.h"
#include "platform/win32/Win32Desktop.h"

namespace kw {
namespace {

// Names as autostart entries have them: ASCII in both cases, GBK Chinese,
// full-width letters, digits, punctuation that word sort weighs lightly.
std::string RandomName(std::mt19937& random) {
  static const char* pieces[] = {"a",        "A", "b", "B", "z", "Z", "-", "'", " ", "1", "_",
                                 "\x01",       // no sort weight on Windows
                                 "\xD6\xD0",   // 中
                                 "\xCE\xC4",   // 文
                                 "\xA3\xC1",   // Ａ (full width)
                                 "\xA3\xE1",   // ａ (full width)
                                 "\xA6\xC1",   // α
                                 "\xA6\xA1"};  // Α
  std::string name;
  const int length = std::uniform_int_distribution<int>(0, 4)(random);
  for (int i = 0; i < length; ++i) name += pieces[random() % (sizeof pieces / sizeof *pieces)];
  return name;
}

// The names are code page 936 whatever the system's code page: read as code
// page 1252, 木 (C4 BE) and 渚 (E4 BE) would be Ä¾ and ä¾, equal ignoring case.
TEST(Win32Collation, ReadsCodePage936OnAnySystem) {
  win32::TWin32Collation collation;
  EXPECT_FALSE(collation.EqualIgnoreCase("\xC4\xBE", "\xE4\xBE"));
  EXPECT_TRUE(collation.EqualIgnoreCase("\xC4\xBE", "\xC4\xBE"));
  EXPECT_TRUE(collation.EqualIgnoreCase("\xA3\xC1", "\xA3\xE1"));  // Ａ and ａ
  std::string a, b;
  collation.SortKeyIgnoreCase("\xC4\xBE", a);
  collation.SortKeyIgnoreCase("\xE4\xBE", b);
  EXPECT_NE(a, b);
}

// Lead bytes are code page 936's whatever the system's: 昞's second byte is
// a backslash's, and 0x80 (€) stands alone.
TEST(Win32CodePage, KnowsTheLeadBytesOfCodePage936OnAnySystem) {
  win32::TWin32CodePage codePage;
  for (unsigned char lead : {0x81, 0x95, 0xC4, 0xFE})
    EXPECT_TRUE(codePage.IsLeadByte(lead)) << +lead;
  for (unsigned char single : {0x00, 0x5C, 0x61, 0x80, 0xFF}) {
    EXPECT_FALSE(codePage.IsLeadByte(single)) << +single;
  }
}

TEST(Win32Collation, EqualNamesHaveEqualSortKeys) {
  win32::TWin32Collation collation;
  EXPECT_TRUE(collation.EqualIgnoreCase("", ""));
  EXPECT_TRUE(collation.EqualIgnoreCase("Run", "rUN"));
  EXPECT_FALSE(collation.EqualIgnoreCase("Run", "Runs"));
  std::mt19937 random(936);
  std::string keyA, keyB;
  int equalPairs = 0;
  for (int i = 0; i < 40000; ++i) {
    const std::string a = RandomName(random), b = RandomName(random);
    // LCMapStringA refuses the empty name; the name index treats it apart.
    if (a.empty() || b.empty() || !collation.EqualIgnoreCase(a, b)) continue;
    ++equalPairs;
    collation.SortKeyIgnoreCase(a, keyA);
    collation.SortKeyIgnoreCase(b, keyB);
    ASSERT_EQ(keyA, keyB) << a << " / " << b;
  }
  EXPECT_GT(equalPairs, 100);
}

TEST(Win32Collation, TheNameIndexFindsTheFirstMatchALinearSearchFinds) {
  win32::TWin32Collation collation;
  std::mt19937 random(2997);
  for (int round = 0; round < 300; ++round) {
    TNameList list(collation);
    std::vector<std::string> names;
    const int count = std::uniform_int_distribution<int>(0, 40)(random);
    for (int i = 0; i < count; ++i) {
      names.push_back(RandomName(random));
      list.Append(names.back());
    }
    for (int probe = 0; probe < 40; ++probe) {
      const std::string name = RandomName(random);
      int expected = -1;
      for (std::size_t i = 0; i < names.size() && expected < 0; ++i) {
        if (collation.EqualIgnoreCase(names[i], name)) expected = static_cast<int>(i);
      }
      ASSERT_EQ(list.IndexOf(name), expected) << name;
    }
  }
}

}  // namespace
}  // namespace kw
