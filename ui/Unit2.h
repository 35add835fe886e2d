#pragma once
// The alert dialog: the one window that comes up by itself, topmost, showing
// the latest reported change. Every change reported since the user last
// pressed "确定" stays reachable: "<" and ">" step through them, the tab
// counts them, and the fields and actions follow the one picked.

#include <vector>

#include "monitor/ChangeRecord.h"
#include "toolkit/Forms.h"
#include "ui/ChangeList.h"
#include "ui/Services.h"

namespace kw {

class TForm2 : public vcl::TForm {
  KW_COMPONENT_CLASS(TForm2, vcl::TForm)
 public:
  TForm2(vcl::TComponent* owner, TServices& services);
  ~TForm2() override { DestroyForm(); }

  vcl::TPageControl* PageControl1;
  vcl::TTabSheet* TabSheet1;
  vcl::TsLabelFX* sLabelFX1;
  vcl::TImage* Image5;
  vcl::TImage* Image1;
  vcl::TEdit* Edit4;
  vcl::TEdit* Edit1;
  vcl::TEdit* Edit2;
  vcl::TImage* Image3;
  vcl::TEdit* Edit3;
  vcl::TImage* Image2;
  vcl::TImage* Image4;
  vcl::TButton* Button2;
  vcl::TButton* Button1;
  vcl::TButton* Button3;
  // The picked change's whole data, where Edit3 shows only its program path.
  vcl::TEdit* Edit5;
  // "<" and ">": the change before and after the one picked; shown while
  // there is more than one.
  vcl::TButton* Button4;
  vcl::TButton* Button5;
  // "恢复": the picked changed or deleted value put back as it was; shown
  // only for such a change.
  vcl::TButton* Button6;
  // "禁用": the picked entry switched off as Task Manager does it; shown
  // only where Windows keeps such a switch.
  vcl::TButton* Button7;
  // Who signed the picked change's program, once the check has found out.
  vcl::TsLabelFX* sLabelFX2;

  // Adds the changes just reported, picks the newest and shows it.
  // `dropped` more were reported but pushed out before the alert took them.
  void ShowChanges(std::vector<TChangeRecord>& records, std::size_t dropped = 0);
  const TChangeList& Changes() const { return FChanges; }

  // Deletes the picked change's value, shown as `valueName`, from the key
  // named by Edit2 under the hive named by Edit4, and tells the user the outcome.
  void DeleteReportedValue(const std::string& valueName);
  // Deletes `fileName` from the startup folder of the picked change, and
  // tells the user the outcome.
  void DeleteReportedFile(const std::string& fileName);
  // Puts the picked change's value back as it was before the change, and
  // tells the user the outcome.
  void PutBackReportedValue();
  // Deletes the picked task through the Task Scheduler once the user
  // confirms it, and tells the user the outcome.
  void DeleteReportedTask();
  // Switches the picked entry off, and tells the user the outcome.
  void SwitchOffReportedEntry();
  // A signature check has finished: the line shows it if it is of the
  // program the picked change names, checked since it was picked.
  void ShowKnownSigner();
  // The picked change's program: its icon, and an ask for its signer.
  void ShowPickedDetails();
  // The alert's ask for `file`'s signer, made since the picked change came;
  // 0 when it asked for none.
  std::uint64_t SignerAskFor(const std::u16string& file) const;

 protected:
  void FormCreate() override;
  void FormShow() override;
  void FormClose() override;
  void Button1Click();
  void Button2Click();
  void Button3Click();
  void Image2Click();
  void Image3Click();
  void Image4Click();
  void Button4Click();
  void Button5Click();
  void Button6Click();
  void Button7Click();

 private:
  // Fills every field from the picked change; all of them from that one.
  void ShowPickedChange();
  void ShowPickedChangeWhole();
  void ShowWhereAndWhat(const TChangeRecord& change);
  void ShowWholeTexts(const TChangeRecord& change);
  void ShowChangeCount();
  void ForgetDetails();
  void ForgetSigner();
  void AskForSigner(const TChangeRecord& change);
  std::u16string IdentityOf(const std::string& shownName) const;
  // What an action acts on: the picked change's exact text while `edit`
  // still shows it, what the user typed into it otherwise.
  std::u16string FactOf(const vcl::TEdit& edit, const std::string& shown,
                        const std::u16string& exact) const;
  std::u16string ProgramFact() const;
  std::unique_ptr<IRegKey> OpenReportedKey();
  // Whether the picked change is of a file in a startup folder.
  bool PickedIsFile() const;
  bool PickedIsTask() const;
  bool PickedIsSetting() const;

  TServices& Services;
  TChangeList FChanges;
  // The ask whose answer the signer line waits for; 0: none.
  std::uint64_t SignerAsked = 0;
  std::u16string SignerFile;
};

// The signer line's text for `signature`, the name in code page 936 as
// `view` converts it.
std::string SignerLine(const IRegistryText& view, const TSignature& signature);

extern TForm2* Form2;

// "注册表更改" and the date, then the time unless it is midnight.
std::string TimeLine(IClock& clock, const TLocalTime& time);

// The Windows directory, as the system reports it.
std::string GetWindowsDir(ISystem& system);

}  // namespace kw
