#pragma once
// The options dialog.

#include "toolkit/Forms.h"
#include "ui/Services.h"

namespace kw {

class TForm3 : public vcl::TForm {
  KW_COMPONENT_CLASS(TForm3, vcl::TForm)
 public:
  TForm3(vcl::TComponent* owner, TServices& services);
  ~TForm3() override { DestroyForm(); }

 private:
  TServices& Services;
};

extern TForm3* Form3;

}  // namespace kw
