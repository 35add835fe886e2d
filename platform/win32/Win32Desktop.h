#pragma once
// The shell's icons, the program's sound and the locale's clock on Win32.

#include "lib/IniProfile.h"
#include "platform/Clock.h"
#include "platform/CodePage.h"
#include "platform/Profile.h"
#include "platform/Shell.h"
#include "platform/Sound.h"
#include "platform/System.h"
#include "platform/WindowFunctions.h"
#include "platform/win32/Win32FileStore.h"

namespace kw::win32 {

class TWin32Shell : public IShell {
 public:
  std::unique_ptr<vcl::IPicture> ExtractProgramIcon(const std::u16string& path) override;
  std::unique_ptr<vcl::IPicture> EmptyIcon() override;
  void Execute(std::uintptr_t owner, const std::string& verb, const std::string& file,
               const std::string* parameters) override;
  bool ShowProperties(std::uintptr_t owner, const std::u16string& file) override;
};

class TWin32Profile : public IProfile {
 public:
  std::string ReadString(const std::string& file, const std::string& section,
                         const std::string& key, const std::string& fallback) override;
  bool WriteString(const std::string& file, const std::string& section, const std::string& key,
                   const std::string& value) override;

 private:
  TWin32FileStore Files;
  TIniProfile Ini{Files};
};

class TWin32System : public ISystem {
 public:
  std::string ProgramPath() override;
  std::string WindowsDirectory() override;
  std::u16string ExpandEnvironment(const std::u16string& text) override;
  TFileKind FileKind(const std::u16string& path) override;
  // In Win32FileSecurity.cpp.
  TFileSecurity Security(const std::string& path) override;
  std::string FinalPath(const std::string& path) override;
  bool IsNetworkDrive(const std::string& root) override;
  std::string AccountName(const std::string& sid) override;
};

class TWin32CodePage : public ICodePage {
 public:
  bool IsLeadByte(unsigned char byte) const override;
};

class TWin32WindowFunctions : public IWindowFunctions {
 public:
  std::vector<WindowHandle> TopLevelWindows(const std::string& className) override;
  bool IsRegistryEditor(WindowHandle window) override;
  WindowHandle FindChild(WindowHandle parent, const std::string& className) override;
  WindowHandle FindDescendant(WindowHandle parent, const std::string& className) override;
  void ShowWindow(WindowHandle window, int command) override;
  void SetForegroundWindow(WindowHandle window) override;
  void SetFocus(WindowHandle window) override;
  bool Send(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
            std::intptr_t lParam) override;
  bool TypeCharacter(WindowHandle window, std::u16string_view character) override;
  void Sleep(std::uint32_t milliseconds) override;
};

class TWin32ProcessLauncher : public IProcessLauncher {
 public:
  std::unique_ptr<IProcess> Start(const std::u16string& commandLine) override;
};

class TWin32Sound : public ISound {
 public:
  void Play(const std::string& path, std::uint32_t flags) override;
  void Stop() override;
};

class TWin32Clock : public IClock {
 public:
  TLocalTime Now() override;
  std::uint64_t FileTimeNow() override;
  std::string ShortDate(const TLocalTime& time) override;
  std::string LongTime(const TLocalTime& time) override;
};

}  // namespace kw::win32
