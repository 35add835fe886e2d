#pragma once
// The options dialog: start with Windows, which registers or removes the
// autostart value and the logon task at once, and the alarm; both kept in
// the INI file.

#include <memory>

#include "lib/xinifile.h"
#include "toolkit/Forms.h"
#include "ui/Services.h"

namespace kw {

class ERegistryException : public Exception {
 public:
  using Exception::Exception;
};

inline constexpr char kAutostartKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr char kAutostartName[] = "Keywarden";

class TForm3 : public vcl::TForm {
  KW_COMPONENT_CLASS(TForm3, vcl::TForm)
 public:
  TForm3(vcl::TComponent* owner, TServices& services);
  ~TForm3() override { DestroyForm(); }

  vcl::TPageControl* PageControl1;
  vcl::TTabSheet* TabSheet1;
  vcl::TGroupBox* GroupBox1;
  vcl::TCheckBox* CheckBox1;
  vcl::TCheckBox* CheckBox3;
  vcl::TButton* Button1;

  // Writes the autostart value under HKCU's Run key, creating the key if needed.
  void WriteAutostartValue(const std::string& name, const std::string& data);
  // Deletes it and tells the user the outcome.
  void DeleteAutostartValue(const std::string& name);

 protected:
  void FormCreate() override;
  void FormClose() override;
  void Button1Click();
  void CheckBox1Click();

 private:
  TServices& Services;
  std::unique_ptr<TxIniFile> Store;
  // While the saved options are applied at start-up: a refusal is then not
  // shown, as nothing the user did asked for it.
  bool Loading = false;
};

extern TForm3* Form3;

}  // namespace kw
