// How registry names fold and show: the system's upper-case table against the
// registry's own judgement, and code page 936 whatever the system's.

#include <gtest/gtest.h>
#include <windows.h>

#include <utility>

#include "platform/win32/Win32Desktop.h"
#include "platform/win32/Win32RegistryText.h"
#include "tests/win32/Win32Harness.h"

namespace kw::test {
namespace {

// Whether the registry takes two value names for one.
bool RegistryFoldsAlike(TScratchKey& scratch, const std::wstring& a, const std::wstring& b) {
  scratch.SetText(a, L"x");
  const bool alike = scratch.Has(b);
  ::RegDeleteValueW(scratch.Key, a.c_str());
  return alike;
}

std::wstring Named(char16_t unit) {
  return std::wstring(L"x") + static_cast<wchar_t>(unit);
}

TEST(Win32RegistryText, TheUpperCaseTableFoldsNamesAsTheRegistryDoes) {
  win32::TWin32RegistryText text;
  const char16_t* upcase = text.UpcaseTable();
  EXPECT_EQ(upcase[u'a'], u'A');
  EXPECT_EQ(upcase[u'Z'], u'Z');
  EXPECT_EQ(upcase[0x00E9], 0x00C9);  // é, É
  EXPECT_EQ(upcase[0xFF41], 0xFF21);  // full-width a, A
  EXPECT_EQ(upcase[0x0001], 0x0001);

  TScratchKey scratch("Fold");
  // Where a locale's rules, or Unicode's full folding, would differ: dotless
  // and dotted i, long s, the Kelvin sign, final sigma, title case, sharp s.
  const std::pair<char16_t, char16_t> pairs[] = {
      {u'a', u'A'},     {0x00E9, 0x00C9}, {0x0131, u'I'},   {0x0131, u'i'},   {0x0130, u'i'},
      {0x017F, u's'},   {0x212A, u'k'},   {0xFF41, 0xFF21}, {0x03C2, 0x03A3}, {0x03C3, 0x03A3},
      {0x01C5, 0x01C4}, {0x01C6, 0x01C4}, {0x00FF, 0x0178}, {0x0430, u'a'},   {0x00DF, 0x1E9E},
  };
  for (const auto& [a, b] : pairs) {
    EXPECT_EQ(RegistryFoldsAlike(scratch, Named(a), Named(b)), upcase[a] == upcase[b])
        << std::hex << +a << " " << +b;
  }
  // Every letter the table folds, the registry folds alike.
  for (char16_t unit = 0x20; unit < 0x0600; ++unit) {
    if (upcase[unit] == unit) continue;
    EXPECT_TRUE(RegistryFoldsAlike(scratch, Named(unit), Named(upcase[unit]))) << std::hex << +unit;
  }
  // A character without sort weight still tells two names apart.
  EXPECT_FALSE(RegistryFoldsAlike(scratch, L"x\x0001y", L"xy"));
}

// Read as code page 1252, 木 (C4 BE) and 渚 (E4 BE) would be Ä¾ and ä¾.
TEST(Win32RegistryText, ShowsCodePage936WhateverTheSystemsCodePage) {
  win32::TWin32RegistryText text;
  const std::u16string trojan = u"\u6728\u9A6C\u7A0B\u5E8F";  // 木马程序
  const std::string trojanAnsi = "\xC4\xBE\xC2\xED\xB3\xCC\xD0\xF2";
  EXPECT_EQ(text.ToAnsi(trojan), trojanAnsi);
  EXPECT_EQ(text.FromAnsi(trojanAnsi), trojan);
  EXPECT_EQ(text.FromAnsi("\xE4\xBE"), u"\u6E1A");
  EXPECT_EQ(text.ToAnsi(u"\u6728\u9A6C\uAC00"), "\xC4\xBE\xC2\xED?");  // 木马 and a Hangul syllable
  // No best fit: a look-alike of a plain letter shows as "?", never as that letter.
  EXPECT_EQ(text.ToAnsi(u"C:\\upd\u00E2te.exe"), "C:\\upd?te.exe");
  EXPECT_EQ(text.ToAnsi(u""), "");
}

// Lead bytes are code page 936's whatever the system's: 昞's second byte is
// a backslash's, and 0x80 (€) stands alone.
TEST(Win32CodePage, KnowsTheLeadBytesOfCodePage936OnAnySystem) {
  win32::TWin32CodePage codePage;
  for (unsigned char lead : {0x81, 0x95, 0xC4, 0xFE}) {
    EXPECT_TRUE(codePage.IsLeadByte(lead)) << +lead;
  }
  for (unsigned char single : {0x00, 0x5C, 0x61, 0x80, 0xFF}) {
    EXPECT_FALSE(codePage.IsLeadByte(single)) << +single;
  }
}

}  // namespace
}  // namespace kw::test
