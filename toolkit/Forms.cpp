#include "toolkit/Forms.h"

#include <stdexcept>

#include "toolkit/AnsiPaths.h"

namespace kw::vcl {

namespace {
TApplication* GApplication = nullptr;

void CreatePeers(TWinControl& parent, IWidgetFactory& factory) {
  for (TControl* control : parent.Controls()) {
    control->AttachPeer(factory.CreatePeer(*control));
    if (control->InheritsFrom("TWinControl")) {
      CreatePeers(static_cast<TWinControl&>(*control), factory);
    }
  }
}

void DestroyPeers(TWinControl& parent) {
  for (TControl* control : parent.Controls()) {
    if (control->InheritsFrom("TWinControl")) DestroyPeers(static_cast<TWinControl&>(*control));
    control->DetachPeer();
  }
}
}  // namespace

TForm::TForm(TComponent* owner, std::string name) : TWinControl(owner, std::move(name), nullptr) {
  SetVisible(false);
}

TForm::~TForm() {
  DestroyForm();
  DestroyComponents();  // while the form's control list still exists
}

void TForm::CreateWindowAndRun(IWidgetFactory& factory) {
  FFactory = &factory;
  AttachPeer(factory.CreatePeer(*this));
  CreatePeers(*this, factory);
  factory.ControlsCreated(*this);
  FormCreate();
}

void TForm::Show() {
  if (Visible()) {
    if (Peer()) Peer()->BringToFront();
    return;
  }
  SetVisible(true);
  FShownBefore = true;
  FormShow();
}

void TForm::Close() {
  // Closing the main form ends the program; it is neither hidden nor destroyed here.
  if (GApplication && GApplication->MainForm() == this) {
    GApplication->Terminate();
    return;
  }
  FormClose();
  Hide();
}

void TForm::Hide() {
  if (Visible()) SetVisible(false);
}

bool TForm::HandleMessage(std::uint32_t, std::uintptr_t, std::intptr_t) {
  return false;
}

void TForm::DestroyForm() {
  if (FDestroyed) return;
  FDestroyed = true;
  FormDestroy();
  DestroyPeers(*this);
  DetachPeer();
}

TApplication::TApplication(IApplicationHost& host, const ICodePage& codePage)
    : FHost(host),
      FTitle(ApplicationTitle(ExtractFileName(host.ProgramPath(), codePage), codePage)) {}

void TApplication::Run() {
  FHost.Run([this](std::exception_ptr error) { HandleException(error); });
}

void TApplication::HandleException(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    FHost.ShowErrorBox(FTitle, ErrorBoxText(e.what()));
  } catch (...) {
    FHost.ShowErrorBox(FTitle, ErrorBoxText("Unknown error"));
  }
}

void TApplication::Guard(const std::function<void()>& work) {
  try {
    work();
  } catch (...) {
    HandleException(std::current_exception());
  }
}

TApplication& Application() {
  if (!GApplication) throw std::logic_error("no application");
  return *GApplication;
}

void SetApplication(TApplication* application) {
  GApplication = application;
}

std::string ErrorBoxText(const std::string& message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + '.';
  return message;
}

std::string ApplicationTitle(const std::string& programFileName, const ICodePage& codePage) {
  return LowerCaseAfterFirst(NameBeforeFirstDot(programFileName, codePage), codePage);
}

}  // namespace kw::vcl
