#pragma once
// A control's window on Win32: it mirrors the control's state, and finds the
// control again from the window.

#include <windows.h>

#include <string>

#include "toolkit/Forms.h"

namespace kw::win32 {

// The control of any window: null for a window the toolkit did not make.
vcl::TControl* ControlOf(HWND window);
// The control of a window of the toolkit's own classes, which keep it in
// their user data as well: a property is a trip to the window server under
// Wine, and the window procedures ask for it on every message.
vcl::TControl* OwnControlOf(HWND window);
// On a form's window: the tooltip that shows its controls' hints.
inline constexpr wchar_t kTooltipProperty[] = L"KeywardenTooltip";

// The window of a control, or null while it has none.
HWND HandleOf(const vcl::TControl* control);

inline bool IsGraphic(const vcl::TControl& c) {
  return vcl::IsGraphicControl(c);
}

class TWindowPeer : public vcl::IControlPeer {
 public:
  TWindowPeer(vcl::TControl& control, HWND window);
  ~TWindowPeer() override;
  void SetText(const std::string& ansiText) override;
  std::string Text() const override;
  void SetVisible(bool visible) override;
  void BringToFront() override;
  void Refresh() override;
  void SetBounds(int left, int top, int width, int height) override;
  void MakeTopmost() override;

  HWND Handle() const { return Window; }
  std::uintptr_t NativeHandle() const override { return reinterpret_cast<std::uintptr_t>(Window); }

 private:
  void UpdateTabCaption(const std::string& text);
  void Centre();
  bool AlreadyInFront() const;
  bool IsOwnedBy(HWND window) const;

  vcl::TControl& Control;
  HWND Window;
  bool Centred = false;
};

}  // namespace kw::win32
