#pragma once
// One table of cases for any implementation of the profile functions: the
// Win32 one under Wine, and ours natively.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/Profile.h"

namespace kw::test {

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A write that fails leaves `file` byte for byte as it was, and no temporary file.
inline void ExpectWriteFailsAndKeeps(IProfile& profile, const std::string& file,
                                     const std::string& temporary) {
  const std::string before = ReadBytes(file);
  EXPECT_FALSE(profile.WriteString(file, "Form3", "CheckBox1", "changed")) << file;
  EXPECT_EQ(ReadBytes(file), before) << file;
  EXPECT_FALSE(std::filesystem::is_regular_file(temporary)) << temporary;
}

// `folder` ends with a path separator and may be written to.
inline void RunProfileCases(IProfile& profile, const std::string& folder) {
  const std::string file = folder + "cases.ini";
  std::remove(file.c_str());
  EXPECT_EQ(profile.ReadString(file, "Form3", "CheckBox1", "dflt"), "dflt");

  WriteBytes(file,
             "[Other]\r\nA=1\r\n[Form3]\r\nCheckBox1 = 1 \r\nCheckBox3=0\r\n[Last]\r\nZ=9\r\n");
  EXPECT_EQ(profile.ReadString(file, "form3", "CHECKBOX1", "dflt"), "1");
  EXPECT_EQ(profile.ReadString(file, "Form3", "Missing", "dflt"), "dflt");
  EXPECT_EQ(profile.ReadString(file, "Nowhere", "A", "dflt"), "dflt");

  // One write changes one entry; everything else stays.
  ASSERT_TRUE(profile.WriteString(file, "FORM3", "checkbox1", "0"));
  ASSERT_TRUE(profile.WriteString(file, "Form3", "New", "x y"));
  ASSERT_TRUE(profile.WriteString(file, "Fresh", "K", "\xD6\xD0\xCE\xC4"));  // 中文
  EXPECT_EQ(profile.ReadString(file, "Form3", "CheckBox1", ""), "0");
  EXPECT_EQ(profile.ReadString(file, "Form3", "CheckBox3", ""), "0");
  EXPECT_EQ(profile.ReadString(file, "Form3", "New", ""), "x y");
  EXPECT_EQ(profile.ReadString(file, "Other", "A", ""), "1");
  EXPECT_EQ(profile.ReadString(file, "Last", "Z", ""), "9");
  EXPECT_EQ(profile.ReadString(file, "Fresh", "K", ""), "\xD6\xD0\xCE\xC4");

  // Reads come through a 2048-byte buffer.
  ASSERT_TRUE(profile.WriteString(file, "Form3", "Long", std::string(3000, 'v')));
  EXPECT_EQ(profile.ReadString(file, "Form3", "Long", ""), std::string(2047, 'v'));

  // A new file: the section and its entries in the order written.
  const std::string fresh = folder + "fresh.ini";
  std::remove(fresh.c_str());
  ASSERT_TRUE(profile.WriteString(fresh, "Form3", "CheckBox1", "1"));
  ASSERT_TRUE(profile.WriteString(fresh, "Form3", "CheckBox3", "0"));
  std::ifstream in(fresh, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto first = text.find("CheckBox1=1"), second = text.find("CheckBox3=0");
  EXPECT_NE(first, std::string::npos) << text;
  EXPECT_NE(second, std::string::npos) << text;
  EXPECT_LT(first, second);
  EXPECT_LT(text.find("[Form3]"), first);

  // The new text cannot be written beside the file (a folder holds the
  // temporary file's name): the file stays as it was.
  const std::string blocked = folder + "blocked.ini";
  WriteBytes(blocked, "[Form3]\r\nCheckBox1=1\r\nCheckBox3=0\r\n");
  std::filesystem::create_directories(blocked + ".tmp/in");
  ExpectWriteFailsAndKeeps(profile, blocked, blocked + ".tmp");
  EXPECT_TRUE(std::filesystem::is_directory(blocked + ".tmp/in"));  // not ours: left alone
  std::filesystem::remove_all(blocked + ".tmp");
  ASSERT_TRUE(profile.WriteString(blocked, "Form3", "CheckBox1", "0"));
  EXPECT_EQ(ReadBytes(blocked), "[Form3]\r\nCheckBox1=0\r\nCheckBox3=0\r\n");
  EXPECT_FALSE(std::filesystem::exists(blocked + ".tmp"));
}

}  // namespace kw::test
