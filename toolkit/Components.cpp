#include "toolkit/Components.h"

#include <algorithm>

namespace kw::vcl {

TComponent::TComponent(TComponent* owner, std::string name)
    : FOwner(owner), FName(std::move(name)) {
  if (FOwner) FOwner->FComponents.push_back(this);
}

TComponent::~TComponent() {
  DestroyComponents();
  if (FOwner) {
    auto& siblings = FOwner->FComponents;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
  }
}

void TComponent::DestroyComponents() {
  while (!FComponents.empty()) {
    TComponent* last = FComponents.back();
    FComponents.pop_back();
    last->FOwner = nullptr;
    delete last;
  }
}

TControl::TControl(TComponent* owner, std::string name, TWinControl* parent)
    : TComponent(owner, std::move(name)), FParent(parent) {
  if (FParent) FParent->FControls.push_back(this);
}

TControl::~TControl() {
  FPeer.reset();
  if (FParent) {
    auto& siblings = FParent->FControls;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
  }
}

std::string TControl::Text() const {
  return FPeer ? FPeer->Text() : FText;
}

void TControl::SetText(const std::string& text) {
  FText = text;
  if (FPeer) FPeer->SetText(text);
}

void TControl::SetVisible(bool visible) {
  FVisible = visible;
  if (FPeer) FPeer->SetVisible(visible);
}

void TControl::SetBounds(int left, int top, int width, int height) {
  Left = left;
  Top = top;
  Width = width;
  Height = height;
  if (FPeer) FPeer->SetBounds(left, top, width, height);
}

void TControl::Click() {
  if (OnClick) OnClick();
}

bool TCheckBox::Checked() const {
  return FChecked;
}

void TCheckBox::SetChecked(bool checked) {
  if (checked == FChecked) return;
  FChecked = checked;
  if (Peer()) Peer()->Refresh();
  TControl::Click();
}

void TCheckBox::Click() {
  FChecked = !FChecked;
  if (Peer()) Peer()->Refresh();
  TControl::Click();
}

void TRadioButton::SetChecked(bool checked) {
  if (checked == FChecked) return;
  FChecked = checked;
  if (checked && Parent()) {
    for (TControl* sibling : Parent()->Controls()) {
      if (sibling != this && sibling->InheritsFrom("TRadioButton")) {
        static_cast<TRadioButton*>(sibling)->FChecked = false;
        if (sibling->Peer()) sibling->Peer()->Refresh();
      }
    }
  }
  if (Peer()) Peer()->Refresh();
  if (checked) TControl::Click();
}

void TRadioButton::Click() {
  SetChecked(true);
}

void TImage::SetPicture(std::unique_ptr<IPicture> picture) {
  FPicture = std::move(picture);
  if (Peer()) Peer()->Refresh();
}

}  // namespace kw::vcl
