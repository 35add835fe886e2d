#pragma once
// The component model of the windowing toolkit: components with designer
// names owned by their form in creation order, controls that keep their
// state in the object and mirror it into a peer window when there is one.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/Peer.h"

namespace kw::vcl {

#define KW_COMPONENT_CLASS(Class, Base)                          \
 public:                                                         \
  const char* ClassName() const override {                       \
    return #Class;                                               \
  }                                                              \
  bool InheritsFrom(std::string_view className) const override { \
    return className == #Class || Base::InheritsFrom(className); \
  }

enum class TOperation { opInsert, opRemove };

class TComponent {
 public:
  TComponent(TComponent* owner, std::string name);
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;
  virtual ~TComponent();

  const std::string& Name() const { return FName; }
  TComponent* Owner() const { return FOwner; }
  // Owned components, in creation order.
  const std::vector<TComponent*>& Components() const { return FComponents; }

  virtual const char* ClassName() const { return "TComponent"; }
  // Whether this is of class `className` or derived from it.
  virtual bool InheritsFrom(std::string_view className) const { return className == "TComponent"; }

  // `component` keeps a reference to this one and is told (Notification,
  // opRemove) when this one is destroyed, whoever owns either. The link
  // goes both ways, so whichever of the two goes first, the other forgets it.
  void FreeNotification(TComponent* component);
  void RemoveFreeNotification(TComponent* component);

 protected:
  // Deletes the owned components, the last created first. A class whose
  // components refer to it calls this while it is still whole.
  void DestroyComponents();
  // `component` is going (opRemove): a component that refers to it clears
  // its reference here. An owner passes the notice on to what it owns, so
  // components of one form learn of each other's end without asking.
  virtual void Notification(TComponent* component, TOperation operation);

 private:
  // Tells those linked to this one, and the owner, that it is going.
  void NotifyRemoval();

  TComponent* FOwner;
  std::string FName;
  std::vector<TComponent*> FComponents;
  std::vector<TComponent*> FFreeNotifies;
};

enum class TCursor { Default, HandPoint };

struct TFont {
  std::string Name = "Tahoma";
  int Height = 11;  // character height in pixels
  bool Bold = false;
  bool Underline = false;
  int Charset = 134;  // GB2312
};

class TWinControl;

class TControl : public TComponent {
  KW_COMPONENT_CLASS(TControl, TComponent)
 public:
  TControl(TComponent* owner, std::string name, TWinControl* parent);
  ~TControl() override;

  TWinControl* Parent() const { return FParent; }
  int Left = 0, Top = 0, Width = 0, Height = 0;
  int TabOrder = -1;  // -1: not a tab stop
  std::string Hint;
  TCursor Cursor = TCursor::Default;
  TFont Font;
  std::function<void()> OnClick;

  std::string Text() const;
  void SetText(const std::string& text);
  bool Visible() const { return FVisible; }
  void SetVisible(bool visible);
  void SetBounds(int left, int top, int width, int height);

  // What a click on the control does.
  virtual void Click();

  IControlPeer* Peer() const { return FPeer.get(); }
  void AttachPeer(std::unique_ptr<IControlPeer> peer) { FPeer = std::move(peer); }
  void DetachPeer() { FPeer.reset(); }

 private:
  TWinControl* FParent;
  std::string FText;
  bool FVisible = true;
  std::unique_ptr<IControlPeer> FPeer;
};

// Pictures and labels: drawn by their parent, one over the other in the
// order of the parent's controls, the last on top.
bool IsGraphicControl(const TControl& control);

class TWinControl : public TControl {
  KW_COMPONENT_CLASS(TWinControl, TControl)
 public:
  using TControl::TControl;
  const std::vector<TControl*>& Controls() const { return FControls; }

  // The visible graphic control drawn on top at (x, y) of the client area; null when none.
  TControl* GraphicControlAt(int x, int y) const;
  // The left button on the graphic controls, at (x, y) of the client area.
  // The control drawn on top there takes it; a click is a press and a
  // release on the same control.
  void GraphicMouseDown(int x, int y);
  void GraphicMouseUp(int x, int y);

 private:
  friend class TControl;
  std::vector<TControl*> FControls;
  const TControl* FGraphicPressed = nullptr;  // compared, never followed
};

class TCustomEdit : public TWinControl {
  KW_COMPONENT_CLASS(TCustomEdit, TWinControl)
 public:
  using TWinControl::TWinControl;
  char PasswordChar = 0;  // not 0: a masked edit
};

class TEdit : public TCustomEdit {
  KW_COMPONENT_CLASS(TEdit, TCustomEdit)
 public:
  using TCustomEdit::TCustomEdit;
};

class TButton : public TWinControl {
  KW_COMPONENT_CLASS(TButton, TWinControl)
 public:
  using TWinControl::TWinControl;
};

class TCheckBox : public TWinControl {
  KW_COMPONENT_CLASS(TCheckBox, TWinControl)
 public:
  using TWinControl::TWinControl;
  bool Checked() const;
  // Setting a new state runs the click handler, as a user's click would.
  void SetChecked(bool checked);
  void Click() override;

 private:
  bool FChecked = false;
};

// Checking one unchecks the other radio buttons of the same parent.
class TRadioButton : public TWinControl {
  KW_COMPONENT_CLASS(TRadioButton, TWinControl)
 public:
  using TWinControl::TWinControl;
  bool Checked() const { return FChecked; }
  void SetChecked(bool checked);
  void Click() override;

 private:
  bool FChecked = false;
};

class TComboBox : public TWinControl {
  KW_COMPONENT_CLASS(TComboBox, TWinControl)
 public:
  using TWinControl::TWinControl;
  std::vector<std::string> Items;
  int ItemIndex = -1;  // -1: nothing selected
};

class TGroupBox : public TWinControl {
  KW_COMPONENT_CLASS(TGroupBox, TWinControl)
 public:
  using TWinControl::TWinControl;
};

class TListBox : public TWinControl {
  KW_COMPONENT_CLASS(TListBox, TWinControl)
 public:
  using TWinControl::TWinControl;
  std::vector<std::string> Items;
};

class TPageControl : public TWinControl {
  KW_COMPONENT_CLASS(TPageControl, TWinControl)
 public:
  using TWinControl::TWinControl;
};

// A page of a TPageControl; its Text is the tab's caption. It fills the
// page control's display area.
class TTabSheet : public TWinControl {
  KW_COMPONENT_CLASS(TTabSheet, TWinControl)
 public:
  using TWinControl::TWinControl;
};

class TImage : public TControl {
  KW_COMPONENT_CLASS(TImage, TControl)
 public:
  using TControl::TControl;
  const IPicture* Picture() const { return FPicture.get(); }
  // Takes ownership; the picture replaced is released.
  void SetPicture(std::unique_ptr<IPicture> picture);

 private:
  std::unique_ptr<IPicture> FPicture;
};

// A label that sizes itself to its text (its window does) and draws it bold and underlined.
class TsLabelFX : public TControl {
  KW_COMPONENT_CLASS(TsLabelFX, TControl)
 public:
  using TControl::TControl;
};

class TMenuItem : public TComponent {
  KW_COMPONENT_CLASS(TMenuItem, TComponent)
 public:
  TMenuItem(TComponent* owner, std::string name, std::string caption)
      : TComponent(owner, std::move(name)), Caption(std::move(caption)) {}
  std::string Caption;  // "-" is a separator line
  bool Default = false;
  std::function<void()> OnClick;
};

class TPopupMenu : public TComponent {
  KW_COMPONENT_CLASS(TPopupMenu, TComponent)
 public:
  using TComponent::TComponent;
  std::vector<TMenuItem*> Items;  // top to bottom; an item destroyed leaves the list
  bool AutoPopup = true;
  std::function<void()> OnPopup;

 protected:
  void Notification(TComponent* component, TOperation operation) override;
};

}  // namespace kw::vcl
