#pragma once
// The form state store: writes the states of a form's edits, check boxes,
// radio buttons and combo boxes into the INI file beside the program, one
// section per form, and reads them back through the controls' own properties.

#include <stdexcept>
#include <string>

#include "lib/Exception.h"
#include "platform/CodePage.h"
#include "platform/Profile.h"
#include "toolkit/Forms.h"

namespace kw {

class EIniFileException : public Exception {
 public:
  using Exception::Exception;
};

// One INI file through the profile functions, with the toolkit's conversions.
class TIniFile {
 public:
  TIniFile(IProfile& profile, std::string fileName)
      : Profile(profile), FileName(std::move(fileName)) {}

  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& fallback);
  // Throws EIniFileException "Unable to write to <file>" when the write fails.
  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  int ReadInteger(const std::string& section, const std::string& key, int fallback);
  void WriteInteger(const std::string& section, const std::string& key, int value);
  bool ReadBool(const std::string& section, const std::string& key, bool fallback);
  void WriteBool(const std::string& section, const std::string& key, bool value);

 private:
  IProfile& Profile;
  std::string FileName;
};

// Text to integer as the toolkit converts it: leading blanks, a sign, decimal
// digits, or hexadecimal digits after "$" or "0x"; false for anything else.
bool TryStrToInt(const std::string& text, int& value);

// The INI file beside a program: its folder with the trailing backslash,
// "/", the file name cut before its first ".", then ".ini".
std::string IniFileNameFor(const std::string& programPath, const ICodePage& codePage);

class TxIniFile {
 public:
  TxIniFile(IProfile& profile, const ICodePage& codePage, const std::string& programPath);

  void SetForm(vcl::TForm* form) { Form = form; }
  // Save: writes every stored control's state; else reads and applies them.
  void SaveLoad(bool save);
  const std::string& FileName() const { return FFileName; }

 private:
  template <typename TCheckable>
  void SaveLoadChecked(TCheckable& control, const std::string& section, const std::string& key,
                       bool save);

  std::string FFileName;
  vcl::TForm* Form = nullptr;
  TIniFile IniFile;
  const std::string Exclude = "TLabel, TButton";
};

}  // namespace kw
