#include "ui/Unit2.h"

#include "ui/UiTexts.h"

namespace kw {

using namespace vcl;

TForm2* Form2 = nullptr;

namespace {

template <typename T>
T* Place(TForm& form, const char* name, TWinControl* parent, int left, int top, int width,
         int height, int tabOrder = -1) {
  T* control = new T(&form, name, parent);
  control->SetBounds(left, top, width, height);
  control->TabOrder = tabOrder;
  return control;
}

TImage* ClickablePicture(TForm& form, const char* name, TWinControl* parent, int left, int top,
                         int width, int height, const char* hint) {
  TImage* image = Place<TImage>(form, name, parent, left, top, width, height);
  image->Hint = hint;
  image->Cursor = TCursor::HandPoint;
  return image;
}

}  // namespace

TForm2::TForm2(TComponent* owner, TServices& services)
    : TForm(owner, "Form2"), Services(services) {
  SetText(texts::kAlertCaption);
  ClientWidth = 355;
  ClientHeight = 364;
  CentreOnFirstShow = true;

  PageControl1 = Place<TPageControl>(*this, "PageControl1", this, 6, 16, 345, 298, 0);
  TabSheet1 = new TTabSheet(this, "TabSheet1", PageControl1);
  TabSheet1->SetText(texts::kAlertPage);
  // Drawn in this order where they overlap: the label, then Image5, then Image1.
  sLabelFX1 = Place<TsLabelFX>(*this, "sLabelFX1", TabSheet1, 71, 15, 0, 22);
  sLabelFX1->Font.Height = 12;
  sLabelFX1->Font.Bold = true;
  sLabelFX1->Font.Underline = true;
  Image5 = Place<TImage>(*this, "Image5", TabSheet1, 40, 3, 46, 42);
  Image1 = Place<TImage>(*this, "Image1", TabSheet1, 40, 4, 46, 41);
  Edit4 = Place<TEdit>(*this, "Edit4", TabSheet1, 40, 72, 249, 21, 3);
  Edit1 = Place<TEdit>(*this, "Edit1", TabSheet1, 40, 119, 249, 21, 0);
  Edit2 = Place<TEdit>(*this, "Edit2", TabSheet1, 40, 168, 249, 21, 1);
  Image3 = ClickablePicture(*this, "Image3", TabSheet1, 293, 171, 26, 21, texts::kOpenRegistryLocation);
  Edit3 = Place<TEdit>(*this, "Edit3", TabSheet1, 40, 216, 249, 21, 2);
  Image2 = ClickablePicture(*this, "Image2", TabSheet1, 293, 219, 26, 25, texts::kOpenProgramFolder);
  Image4 = ClickablePicture(*this, "Image4", TabSheet1, 315, 219, 19, 18, texts::kFileProperties);
  Button2 = Place<TButton>(*this, "Button2", this, 41, 327, 87, 29, 2);
  Button2->SetText(texts::kOk);
  Button1 = Place<TButton>(*this, "Button1", this, 134, 327, 87, 29, 1);
  Button1->SetText(texts::kDelete);
  Button3 = Place<TButton>(*this, "Button3", this, 227, 327, 88, 29, 3);
  Button3->SetText(texts::kScanFile);
}

void TForm2::FormCreate() {
  for (auto [image, resource] : {std::pair{Image1, "IMAGE1"}, {Image2, "IMAGE2"},
                                 {Image3, "IMAGE3"}, {Image4, "IMAGE4"}, {Image5, "IMAGE5"}}) {
    image->SetPicture(Factory()->LoadPicture(resource));
  }
  if (IControlPeer* peer = Peer()) peer->MakeTopmost();
}

void TForm2::FormClose() { Services.Sound.Stop(); }

}  // namespace kw
