#pragma once
// Forms and the application object.

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/CodePage.h"
#include "toolkit/Components.h"

namespace kw::vcl {

// What the application needs of the windowing system beyond control windows.
class IApplicationHost : public IWidgetFactory {
 public:
  // Runs the message loop until Terminate; errors escaping a handler go to `onError`.
  virtual void Run(const std::function<void(std::exception_ptr)>& onError) = 0;
  virtual void Terminate() = 0;
  // Every message box of the program is above every window of the program,
  // a topmost alert included, and keeps them all disabled while it is open.
  // Plain modal message box with the one button "确定", shown for `owner`
  // (0: the active window).
  virtual void ShowMessage(std::uintptr_t owner, const std::string& text) = 0;
  // The same box with the buttons "是" and "否": true for "是".
  virtual bool Confirm(std::uintptr_t owner, const std::string& text) = 0;
  // Error icon, OK button, `title` as caption.
  virtual void ShowErrorBox(const std::string& title, const std::string& text) = 0;
  // The full path of the program's file.
  virtual std::string ProgramPath() = 0;
  // The hidden top-level window that owns the program's windows.
  virtual std::uintptr_t ApplicationWindow() = 0;
  // Sees every message of the application window before the toolkit does.
  using THook = std::function<void(std::uint32_t, std::uintptr_t, std::intptr_t)>;
  virtual int AddApplicationHook(THook hook) = 0;
  virtual void RemoveApplicationHook(int id) = 0;
};

class TForm : public TWinControl {
  KW_COMPONENT_CLASS(TForm, TWinControl)
 public:
  TForm(TComponent* owner, std::string name);
  ~TForm() override;

  int ClientWidth = 0, ClientHeight = 0;
  bool CentreOnFirstShow = false;

  // Creates the form's window and those of its controls, then runs FormCreate.
  void CreateWindowAndRun(IWidgetFactory& factory);
  // Hidden → visible runs FormShow; a visible form is brought to the front.
  void Show();
  // The close box, Alt+F4, or a program's request: FormClose, then hidden.
  void Close();
  // Hidden without running FormClose (the program's end).
  void Hide();
  bool Showing() const { return Visible(); }
  bool ShownBefore() const { return FShownBefore; }
  // The window system the form was created on; null before.
  IWidgetFactory* Factory() const { return FFactory; }
  // The form's window handle as the platform names it; 0 without a window.
  std::uintptr_t Handle() const { return Peer() ? Peer()->NativeHandle() : 0; }

  // A window message the form handles itself; false passes it on.
  virtual bool HandleMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);

 protected:
  virtual void FormCreate() {}
  virtual void FormShow() {}
  virtual void FormClose() {}
  virtual void FormDestroy() {}

  // Destroys windows, then runs FormDestroy; the derived destructor calls it.
  void DestroyForm();

 private:
  IWidgetFactory* FFactory = nullptr;
  bool FShownBefore = false;
  bool FDestroyed = false;
};

class TApplication {
 public:
  // Names are cut by the double-byte rules of `codePage`.
  TApplication(IApplicationHost& host, const ICodePage& codePage);

  // The title: the program file's name cut before its first ".", every
  // character after the first in lower case.
  const std::string& Title() const { return FTitle; }
  IApplicationHost& Host() { return FHost; }
  TForm* MainForm() const { return FMainForm; }
  void SetMainForm(TForm* form) { FMainForm = form; }

  void Run();
  void Terminate() { FHost.Terminate(); }
  // The general error handler: an error box; the program goes on.
  void HandleException(std::exception_ptr error);
  // Runs `work`, sending any error to HandleException.
  void Guard(const std::function<void()>& work);

 private:
  IApplicationHost& FHost;
  std::string FTitle;
  TForm* FMainForm = nullptr;
};

TApplication& Application();
void SetApplication(TApplication* application);

// The error box's text: a full stop is added when the last character sorts after ".".
std::string ErrorBoxText(const std::string& message);
// The application title for a program file name (without its folder).
std::string ApplicationTitle(const std::string& programFileName, const ICodePage& codePage);

}  // namespace kw::vcl
