#pragma once
// What a control needs of the windowing system it is shown on. Natively a
// control has no peer and lives on its state alone; on Win32 each control's
// peer is a real window that mirrors that state.

#include <cstdint>
#include <memory>
#include <string>

namespace kw::vcl {

class TControl;

// A picture a TImage shows: a bitmap with straight alpha, or an icon. Owns its handle.
class IPicture {
 public:
  virtual ~IPicture() = default;
  // True for the empty icon that draws nothing.
  virtual bool IsEmpty() const = 0;
};

class IControlPeer {
 public:
  virtual ~IControlPeer() = default;
  virtual void SetText(const std::string& ansiText) = 0;
  // The text the window holds now: what the user may have typed.
  virtual std::string Text() const = 0;
  virtual void SetVisible(bool visible) = 0;
  virtual void BringToFront() = 0;
  // The control's look changed (a picture, the label's size): draw again.
  virtual void Refresh() = 0;
  virtual void SetBounds(int left, int top, int width, int height) = 0;
  virtual void MakeTopmost() = 0;
  // The window's handle, as the platform names it.
  virtual std::uintptr_t NativeHandle() const = 0;
};

class IWidgetFactory {
 public:
  virtual ~IWidgetFactory() = default;
  // Creates the window of `control`; its parent's peer exists already.
  virtual std::unique_ptr<IControlPeer> CreatePeer(TControl& control) = 0;
  // Every control of `form` has its window: settle what depends on all of them (tab order).
  virtual void ControlsCreated(TControl& form) = 0;
  virtual std::unique_ptr<IPicture> LoadPicture(const std::string& resourceName) = 0;
};

}  // namespace kw::vcl
