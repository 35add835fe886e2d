#pragma once
// Pictures on Win32: 32-bit bitmaps with straight alpha from the resources,
// drawn blended at their natural size, and icons.

#include <windows.h>

#include <memory>
#include <string>

#include "toolkit/Peer.h"

namespace kw::win32 {

class TWin32Picture : public vcl::IPicture {
 public:
  virtual void Draw(HDC dc, int x, int y) const = 0;
};

// Takes ownership of `icon`; null is the empty icon that draws nothing.
std::unique_ptr<TWin32Picture> MakeIconPicture(HICON icon);
// A 32-bit BMP stored as RCDATA under `name`; null when there is none.
std::unique_ptr<TWin32Picture> LoadBitmapPicture(const std::string& name);

}  // namespace kw::win32
