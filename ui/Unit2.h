#pragma once
// The alert dialog: the one window that comes up by itself, topmost, showing
// the latest reported change.

#include "toolkit/Forms.h"
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

  // Deletes `valueName` from the key named by Edit2 under the hive named by
  // Edit4, and tells the user the outcome.
  void DeleteReportedValue(const std::string& valueName);

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

 private:
  TServices& Services;
};

extern TForm2* Form2;

// The Windows directory, as the system reports it.
std::string GetWindowsDir(ISystem& system);

}  // namespace kw
