#include "ui/Unit3.h"

#include "ui/UiTexts.h"

namespace kw {

TForm3* Form3 = nullptr;

TForm3::TForm3(vcl::TComponent* owner, TServices& services)
    : TForm(owner, "Form3"), Services(services) {
  SetText(texts::kOptionsCaption);
  CentreOnFirstShow = true;
  ClientWidth = 300;
  ClientHeight = 120;
  (void)Services;
}

}  // namespace kw
