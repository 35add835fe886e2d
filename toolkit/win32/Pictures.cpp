#include "toolkit/win32/Pictures.h"

#include <cstring>

namespace kw::win32 {

namespace {

class TIconPicture : public TWin32Picture {
 public:
  explicit TIconPicture(HICON icon) : Icon(icon) {}
  ~TIconPicture() override {
    if (Icon) ::DestroyIcon(Icon);
  }
  bool IsEmpty() const override { return Icon == nullptr; }
  void Draw(HDC dc, int x, int y) const override {
    if (Icon) {
      ::DrawIconEx(dc, x, y, Icon, ::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON), 0,
                   nullptr, DI_NORMAL);
    }
  }

 private:
  HICON Icon;
};

// Kept premultiplied, as AlphaBlend wants it; the resource holds straight alpha.
class TBitmapPicture : public TWin32Picture {
 public:
  TBitmapPicture(HBITMAP bitmap, int width, int height)
      : Bitmap(bitmap), Width(width), Height(height) {}
  ~TBitmapPicture() override { ::DeleteObject(Bitmap); }
  bool IsEmpty() const override { return false; }
  void Draw(HDC dc, int x, int y) const override {
    HDC memory = ::CreateCompatibleDC(dc);
    HGDIOBJ old = ::SelectObject(memory, Bitmap);
    const BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    ::AlphaBlend(dc, x, y, Width, Height, memory, 0, 0, Width, Height, blend);
    ::SelectObject(memory, old);
    ::DeleteDC(memory);
  }

 private:
  HBITMAP Bitmap;
  int Width, Height;
};

}  // namespace

std::unique_ptr<TWin32Picture> MakeIconPicture(HICON icon) {
  return std::make_unique<TIconPicture>(icon);
}

std::unique_ptr<TWin32Picture> LoadBitmapPicture(const std::string& name) {
  HRSRC resource = ::FindResourceA(nullptr, name.c_str(), MAKEINTRESOURCEA(10));  // RT_RCDATA
  if (!resource) return nullptr;
  const DWORD size = ::SizeofResource(nullptr, resource);
  const auto* bytes =
      static_cast<const unsigned char*>(::LockResource(::LoadResource(nullptr, resource)));
  if (!bytes || size < sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER)) return nullptr;
  BITMAPFILEHEADER file;
  BITMAPINFOHEADER info;
  std::memcpy(&file, bytes, sizeof file);
  std::memcpy(&info, bytes + sizeof file, sizeof info);
  const int width = info.biWidth, height = info.biHeight < 0 ? -info.biHeight : info.biHeight;
  if (info.biBitCount != 32 || width <= 0 || height <= 0 ||
      file.bfOffBits + std::uint64_t(width) * height * 4 > size) {
    return nullptr;
  }
  BITMAPINFO dib{};
  dib.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  dib.bmiHeader.biWidth = width;
  dib.bmiHeader.biHeight = info.biHeight;
  dib.bmiHeader.biPlanes = 1;
  dib.bmiHeader.biBitCount = 32;
  dib.bmiHeader.biCompression = BI_RGB;
  void* pixels = nullptr;
  HBITMAP bitmap = ::CreateDIBSection(nullptr, &dib, DIB_RGB_COLORS, &pixels, nullptr, 0);
  if (!bitmap) return nullptr;
  auto* out = static_cast<unsigned char*>(pixels);
  const unsigned char* in = bytes + file.bfOffBits;
  for (int i = 0; i < width * height; ++i, in += 4, out += 4) {
    const unsigned alpha = in[3];
    for (int c = 0; c < 3; ++c) out[c] = static_cast<unsigned char>((in[c] * alpha + 127) / 255);
    out[3] = static_cast<unsigned char>(alpha);
  }
  return std::make_unique<TBitmapPicture>(bitmap, width, height);
}

}  // namespace kw::win32
