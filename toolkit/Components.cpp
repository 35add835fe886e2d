#include "toolkit/Components.h"

#include <algorithm>

namespace kw::vcl {

TComponent::TComponent(TComponent* owner, std::string name)
    : FOwner(owner), FName(std::move(name)) {
  if (FOwner) FOwner->FComponents.push_back(this);
}

namespace {
void Erase(std::vector<TComponent*>& list, TComponent* component) {
  list.erase(std::remove(list.begin(), list.end(), component), list.end());
}
}  // namespace

TComponent::~TComponent() {
  DestroyComponents();
  if (FOwner) Erase(FOwner->FComponents, this);
  NotifyRemoval();
}

void TComponent::DestroyComponents() {
  while (!FComponents.empty()) {
    TComponent* last = FComponents.back();
    FComponents.pop_back();
    // The owner and the siblings hear of it while the component is still whole.
    Notification(last, TOperation::opRemove);
    last->FOwner = nullptr;
    delete last;
  }
}

void TComponent::NotifyRemoval() {
  if (FOwner) FOwner->Notification(this, TOperation::opRemove);
  while (!FFreeNotifies.empty()) {
    TComponent* other = FFreeNotifies.back();
    FFreeNotifies.pop_back();
    Erase(other->FFreeNotifies, this);
    other->Notification(this, TOperation::opRemove);
  }
}

void TComponent::FreeNotification(TComponent* component) {
  if (!component || component == this) return;
  if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), component) == FFreeNotifies.end()) {
    FFreeNotifies.push_back(component);
    component->FFreeNotifies.push_back(this);
  }
}

void TComponent::RemoveFreeNotification(TComponent* component) {
  if (!component) return;
  Erase(FFreeNotifies, component);
  Erase(component->FFreeNotifies, this);
}

void TComponent::Notification(TComponent* component, TOperation operation) {
  if (operation != TOperation::opRemove) return;
  RemoveFreeNotification(component);
  const std::vector<TComponent*> owned = FComponents;  // a handler may change the list
  for (TComponent* c : owned) {
    if (c != component) c->Notification(component, operation);
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
    if (FParent->FGraphicPressed == this) FParent->FGraphicPressed = nullptr;
  }
}

bool IsGraphicControl(const TControl& control) {
  return control.InheritsFrom("TImage") || control.InheritsFrom("TsLabelFX");
}

TControl* TWinControl::GraphicControlAt(int x, int y) const {
  for (auto it = FControls.rbegin(); it != FControls.rend(); ++it) {
    TControl& c = **it;
    if (IsGraphicControl(c) && c.Visible() && x >= c.Left && x < c.Left + c.Width && y >= c.Top &&
        y < c.Top + c.Height) {
      return &c;
    }
  }
  return nullptr;
}

void TWinControl::GraphicMouseDown(int x, int y) {
  FGraphicPressed = GraphicControlAt(x, y);
}

void TWinControl::GraphicMouseUp(int x, int y) {
  TControl* released = GraphicControlAt(x, y);
  const bool click = released && released == FGraphicPressed;
  FGraphicPressed = nullptr;
  if (click) released->Click();
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
  // No picture after none: the screen stays as it is, so nothing is repainted.
  const auto blank = [](const IPicture* p) { return !p || p->IsEmpty(); };
  const bool unchanged = blank(FPicture.get()) && blank(picture.get());
  FPicture = std::move(picture);
  if (Peer() && !unchanged) Peer()->Refresh();
}

void TPopupMenu::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == TOperation::opRemove) {
    Items.erase(std::remove(Items.begin(), Items.end(), component), Items.end());
  }
}

}  // namespace kw::vcl
