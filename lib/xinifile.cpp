#include "lib/xinifile.h"

#include <climits>

#include "toolkit/AnsiPaths.h"

namespace kw {

using namespace vcl;

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& fallback) {
  return Profile.ReadString(FileName, section, key, fallback);
}

void TIniFile::WriteString(const std::string& section, const std::string& key,
                           const std::string& value) {
  if (!Profile.WriteString(FileName, section, key, value)) {
    throw EIniFileException("Unable to write to " + FileName);
  }
}

int TIniFile::ReadInteger(const std::string& section, const std::string& key, int fallback) {
  std::string text = ReadString(section, key, "");
  if (text.size() >= 3 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text = "$" + text.substr(2);
  }
  int value = 0;
  return TryStrToInt(text, value) ? value : fallback;
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, int value) {
  WriteString(section, key, std::to_string(value));
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key, bool fallback) {
  return ReadInteger(section, key, fallback ? 1 : 0) != 0;
}

void TIniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

bool TryStrToInt(const std::string& text, int& value) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  int base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i == text.size()) return false;
  long long magnitude = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return false;
    }
    magnitude = magnitude * base + digit;
    // Hexadecimal may fill all 32 bits; decimal must fit a signed integer.
    if (magnitude > (base == 16 ? 0xFFFFFFFFLL : static_cast<long long>(INT_MAX) + negative))
      return false;
  }
  const long long signedValue = negative ? -magnitude : magnitude;
  value = static_cast<int>(static_cast<std::uint32_t>(signedValue));
  return true;
}

std::string IniFileNameFor(const std::string& programPath, const ICodePage& codePage) {
  return ExtractFilePath(programPath, codePage) + "/" +
         NameBeforeFirstDot(ExtractFileName(programPath, codePage), codePage) + ".ini";
}

TxIniFile::TxIniFile(IProfile& profile, const ICodePage& codePage, const std::string& programPath)
    : FFileName(IniFileNameFor(programPath, codePage)), IniFile(profile, FFileName) {}

// Check boxes and radio buttons alike: Checked as a Boolean, applied through
// SetChecked so that a change runs the control's click handler.
template <typename TCheckable>
void TxIniFile::SaveLoadChecked(TCheckable& control, const std::string& section,
                                const std::string& key, bool save) {
  if (save) {
    IniFile.WriteBool(section, key, control.Checked());
  } else {
    control.SetChecked(IniFile.ReadBool(section, key, control.Checked()));
  }
}

void TxIniFile::SaveLoad(bool save) {
  if (!Form) return;
  const std::string section = Form->Name();
  const std::size_t count = Form->Components().size();
  for (std::size_t i = 0; i < count; ++i) {
    TComponent* component = Form->Components()[i];
    const std::string& key = component->Name();
    if (Exclude.find(component->ClassName()) != std::string::npos) continue;

    if (component->InheritsFrom("TCustomEdit")) {
      auto* edit = static_cast<TCustomEdit*>(component);
      if (edit->PasswordChar != 0) {
        if (save) {
          IniFile.WriteString(section, key, "");
        } else {
          edit->SetText("");
        }
      } else if (save) {
        IniFile.WriteString(section, key, edit->Text());
      } else {
        edit->SetText(IniFile.ReadString(section, key, edit->Text()));
      }
    } else if (component->InheritsFrom("TCheckBox")) {
      SaveLoadChecked(*static_cast<TCheckBox*>(component), section, key, save);
    } else if (component->InheritsFrom("TRadioButton")) {
      SaveLoadChecked(*static_cast<TRadioButton*>(component), section, key, save);
    } else if (component->InheritsFrom("TComboBox")) {
      auto* combo = static_cast<TComboBox*>(component);
      if (save) {
        IniFile.WriteInteger(section, key, combo->ItemIndex);
      } else {
        combo->ItemIndex = IniFile.ReadInteger(section, key, combo->ItemIndex);
      }
    }
  }
}

}  // namespace kw
