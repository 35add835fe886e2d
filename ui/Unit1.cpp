#include "ui/Unit1.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "lib/Hives.h"
#include "lib/xinifile.h"
#include "monitor/ChangeTexts.h"
#include "monitor/WatchedKeys.h"
#include "ui/ActionPaths.h"
#include "ui/UiTexts.h"
#include "ui/Unit2.h"
#include "ui/Unit3.h"

namespace kw {

using namespace vcl;

TForm1* Form1 = nullptr;

namespace {

std::u16string InStateFolder(const TStatePlace& place, const char16_t* name) {
  return place.Folder + u'\\' + name;
}

}  // namespace

TForm1::TForm1(TServices& services) : TForm(nullptr, "Form1"), Services(services) {
  SetText(texts::kMainCaption);
  ClientWidth = 138;
  ClientHeight = 26;
  Button1 = new TButton(this, "Button1", this);
  Button1->SetText(texts::kStartMonitoring);
  Button1->SetVisible(false);
  Button2 = new TButton(this, "Button2", this);
  Button2->SetText(texts::kStopMonitoring);
  Button2->SetVisible(false);
  ListBox1 = new TListBox(this, "ListBox1", this);
  ListBox1->Items = WatchedKeyTable();
  ListBox1->SetVisible(false);
  Button3 = new TButton(this, "Button3", this);
  Button3->SetText("Button3");
  Button3->SetVisible(false);

  // The icon is in the notification area before any monitor starts.
  CoolTrayIcon1 = new TCoolTrayIcon(this, "CoolTrayIcon1", services.Tray, services.Timers);
  CoolTrayIcon1->SetHint(kTrayHint);
  CoolTrayIcon1->SetIcon(services.Tray.ProgramIcon());
  CoolTrayIcon1->SetIconVisible(true);
  PopupMenu1 = new TPopupMenu(this, "PopupMenu1");
  Exit1 = new TMenuItem(this, "Exit1", texts::kExit);
  Options1 = new TMenuItem(this, "Options1", texts::kOptionsCaption);
  N1 = new TMenuItem(this, "N1", "-");
  Home1 = new TMenuItem(this, "Home1", texts::kHome);
  N2 = new TMenuItem(this, "N2", "-");
  PopupMenu1->Items = {Options1, N1, Home1, N2, Exit1};
  Options1->OnClick = [this] { Options1Click(); };
  Home1->OnClick = [this] { Home1Click(); };
  Exit1->OnClick = [this] { Exit1Click(); };
  CoolTrayIcon1->SetPopupMenu(PopupMenu1);
  CoolTrayIcon1->Loaded();
  DetailsTimer = std::make_unique<TSimpleTimer>(
      services.Timers, kDetailsDelayMs, [this](TSimpleTimer&) { ShowDetails(); }, true);
}

void TForm1::FormCreate() {
  LoadSavedState();
  FController = std::make_unique<TMonitorController>(Services.Monitor, Handle(),
                                                     WatchedLocations(ListBox1->Items), FQueue);
  FController->States = States;
  FController->StartMonitors(kHkeyLocalMachine);
  FController->StartMonitors(kHkeyCurrentUser);
  FController->StartFolderMonitors();
  // Runs once the message loop does, when the alert exists.
  StartTimer = std::make_unique<TSimpleTimer>(
      Services.Timers, 1, [this](TSimpleTimer&) { AfterStart(); }, true);
  StartTimer->Start();
}

// Saved before the monitors are stopped: their last notices would make the
// queue look unseen, and the state would go unsaved.
void TForm1::FormDestroy() {
  SaveState();
  if (FController) FController->StopMonitors();
}

// Only a first start takes what is there as the starting point: a state
// that cannot be read or trusted, or that is gone after an earlier run, makes
// every location report what it holds, and the user is told why.
void TForm1::LoadSavedState() {
  Place = Services.StatePlace.Open();
  StateFile = std::make_unique<TStateFile>(Services.Files, InStateFolder(Place, u"Keywarden.state"),
                                           Place.Secret);
  PendingFile = std::make_unique<TPendingFile>(
      Services.Files, InStateFolder(Place, u"Keywarden.pending"), Place.Secret);
  TStateContents saved;
  StateLoad = StateFile->Load(saved);
  // Where programs of the user can change the place, a state and a secret
  // that are not there may be ones they removed: no start there is a first.
  const bool firstStart = StateLoad == TStateLoad::None && !Place.RanBefore && Place.Protected;
  States =
      std::make_shared<TStateStore>(std::move(saved), StateLoad != TStateLoad::Read && !firstStart);
  // A damaged file that could not be moved aside is not overwritten either.
  MaySave = StateLoad != TStateLoad::Unusable;
  SaveTimer = std::make_unique<TSimpleTimer>(
      Services.Timers, SaveDelayMs, [this](TSimpleTimer&) { SaveState(); }, true);
}

void TForm1::AfterStart() {
  // The changes the user had not yet confirmed when the guard last ended,
  // before what the first reads reported.
  std::vector<TChangeRecord> unconfirmed;
  const TPendingLoad pending = PendingFile->Load(unconfirmed);
  if (Form2 && !unconfirmed.empty()) {
    Form2->ShowChanges(unconfirmed);
    ScheduleDetails();
  }
  WMRegChange();
  const IRegistryText& text = Services.Monitor.Text;
  std::string why;
  auto tell = [&](const char* line, const std::u16string& path) {
    why += line + text.ToAnsi(path) + "\n";
  };
  if (!Place.Protected) tell(texts::kStateNotProtected, Place.Folder);
  switch (StateLoad) {
    case TStateLoad::None:
      if (Place.RanBefore) tell(texts::kSavedStateMissing, StateFile->FileName());
      break;
    case TStateLoad::Unreadable:
      tell(texts::kSavedStateLocked, StateFile->FileName());
      break;
    case TStateLoad::SetAside:
      tell(texts::kSavedStateSetAside, StateFile->SetAsideName());
      break;
    case TStateLoad::Unusable:
      tell(texts::kSavedStateUnusable, StateFile->FileName());
      break;
    case TStateLoad::Read:
      break;
  }
  if (States->FoundIsNewAtStart()) why += std::string(texts::kStateFoundIsNew) + "\n";
  if (pending == TPendingLoad::Unreadable) tell(texts::kPendingUnreadable, PendingFile->FileName());
  StateLoad = TStateLoad::Read;  // told once
  if (!why.empty()) {
    why.pop_back();
    Application().Host().ShowMessage(Handle(), why);
  }
}

void TForm1::ScheduleSave() {
  if (MaySave && SaveTimer && !SaveTimer->Running()) SaveTimer->Start();
}

void TForm1::ChangesConfirmed() {
  PendingDirty = true;
  ScheduleSave();
}

// Saves what the monitors last reported once this window has taken every
// record that led there (a monitor queues its records before it hands on
// its state): a saved state never hides a change the user was not shown.
// The alert's unconfirmed changes are kept first, and while they cannot be,
// the state waits: anything left unsaved is reported again at the next start.
void TForm1::SaveState() {
  if (!States || !StateFile || !MaySave) return;
  if (PendingDirty && Form2) {
    const TChangeList& changes = Form2->Changes();
    if (!PendingFile->Save({changes.begin(), changes.end()})) {
      ScheduleSave();
      return;
    }
    PendingDirty = false;
  }
  TStateContents states;
  if (!States->TakeChanged(states)) return;
  const auto began = std::chrono::steady_clock::now();
  if (!FQueue->Empty() || !StateFile->Save(states)) States->MarkChanged();
  // A huge state costs the main window at most a twentieth of its time.
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - began);
  SaveDelayMs =
      static_cast<std::uint32_t>(std::clamp<long long>(took.count() * 20, kMinSaveDelayMs, 60000));
  if (SaveTimer) SaveTimer->SetPeriod(SaveDelayMs);
}

// The message carries nothing the handler reads: another program can post
// it too, and then only makes the guard look at its own queue.
bool TForm1::HandleMessage(std::uint32_t message, std::uintptr_t, std::intptr_t) {
  if (message == WM_SIGNERKNOWN) {
    WMSignerKnown();
    return true;
  }
  if (message != WM_REGCHANGE) return false;
  WMRegChange();
  return true;
}

void TForm1::WMRegChange() {
  if ((States && States->Changed()) || PendingDirty) ScheduleSave();
  // A wake-up can come in a nested message loop (an error box) before the
  // alert exists or after it is gone. The records then stay queued for the
  // next one.
  if (!Form2) return;
  std::vector<TChangeRecord> records = FQueue->TakeAll();
  // Nothing new: no field changes, and the alert neither comes up nor sounds.
  if (records.empty()) return;
  const TLocalTime now = Services.Clock.Now();
  // Of a flood, only the newest can wait for their signer: the lookup keeps
  // no more asks than that, and older ones would only push them out again.
  const std::size_t firstAsked =
      records.size() > kMaxAwaitingSigner ? records.size() - kMaxAwaitingSigner : 0;
  for (std::size_t i = 0; i < records.size(); ++i) {
    TChangeRecord& record = records[i];
    record.Time = now;
    FollowWatchState(record);
    // Queued for the log's own thread: the alert below does not wait for it.
    if (Services.ChangeLog) Services.ChangeLog->Write(record);
    if (i >= firstAsked && LogWaitsForSigner(record)) AwaitingAsk.push_back(record);
  }
  if (AwaitingAsk.size() > kMaxAwaitingSigner) {
    AwaitingAsk.erase(AwaitingAsk.begin(), AwaitingAsk.end() - kMaxAwaitingSigner);
  }
  // What a flood pushed out of the queue before this window could take it is
  // counted on the alert and in the log: never a silent loss.
  const std::size_t lost = FQueue->LostCount();
  const std::size_t dropped = lost - std::exchange(LostReported, lost);
  if (dropped > 0 && Services.ChangeLog) Services.ChangeLog->RecordsLost(dropped);
  // Only the newest is put into the fields: a flood of thousands of records
  // costs one icon lookup, and the monitors waiting to send are not held.
  Form2->ShowChanges(records, dropped);
  ScheduleDetails();
  PendingDirty = true;
  ScheduleSave();
}

void TForm1::ScheduleDetails() {
  if (!DetailsTimer || DetailsTimer->Running()) return;
  DetailsTimer->Start();
  // Without a timer, now rather than never.
  if (!DetailsTimer->Running()) ShowDetails();
}

void TForm1::ShowDetails() {
  if (Form2) Form2->ShowPickedDetails();
  // After the alert's own ask, which then answers the log too: one check
  // of the program for both.
  for (TChangeRecord& record : std::exchange(AwaitingAsk, {})) AskForSignerToLog(std::move(record));
}

bool TForm1::LogWaitsForSigner(const TChangeRecord& record) const {
  return Services.Signers && Services.ChangeLog && !record.Program.empty() &&
         (record.Kind == TChangeKind::Added || record.Kind == TChangeKind::Changed ||
          record.Kind == TChangeKind::Deleted);
}

// The log is told the signer in an event of its own once the check has
// found it: the change's event is written at once and never waits for it.
// In a flood the oldest waiting go without one, as the lookup drops their
// asks too.
void TForm1::AskForSignerToLog(TChangeRecord record) {
  if (AwaitingSigner.size() >= kMaxAwaitingSigner) {
    AwaitingSigner.erase(std::min_element(
        AwaitingSigner.begin(), AwaitingSigner.end(),
        [](const auto& a, const auto& b) { return a.second.first < b.second.first; }));
  }
  const std::u16string file = SignedFileOf(Services.System, record.Program);
  if (file.empty()) {
    Services.ChangeLog->WriteSigner(record, {});
    return;
  }
  std::uint64_t asked = Form2 ? Form2->SignerAskFor(file) : 0;
  if (asked == 0) asked = Services.Signers->Ask(file);
  AwaitingSigner.emplace(file, std::pair{asked, std::move(record)});
}

void TForm1::WMSignerKnown() {
  if (!Services.Signers) return;
  for (const TSignerFinding& finding : Services.Signers->TakeFinished()) {
    auto [first, last] = AwaitingSigner.equal_range(finding.Program);
    while (first != last) {
      if (first->second.first > finding.Asked) {
        ++first;
        continue;
      }
      if (Services.ChangeLog)
        Services.ChangeLog->WriteSigner(first->second.second, finding.Signature);
      first = AwaitingSigner.erase(first);
    }
  }
  if (Form2) Form2->ShowKnownSigner();
}

void TForm1::FollowWatchState(const TChangeRecord& record) {
  const std::string location = HiveToName(record.RootKey) + record.Location;
  if (record.Kind == TChangeKind::NotWatched) {
    NotWatched.insert(location);
  } else if (record.Kind == TChangeKind::WatchedAgain) {
    NotWatched.erase(location);
  } else {
    return;
  }
  ShowWatchState();
}

// The tray tells at a glance that some location is not watched: a warning
// icon, and how many in the tooltip.
void TForm1::ShowWatchState() {
  if (NotWatched.empty()) {
    CoolTrayIcon1->SetHint(kTrayHint);
    CoolTrayIcon1->SetIcon(Services.Tray.ProgramIcon());
    return;
  }
  CoolTrayIcon1->SetHint(std::string(kTrayHint) + " - " + std::to_string(NotWatched.size()) +
                         texts::kLocationsNotWatched);
  CoolTrayIcon1->SetIcon(Services.Tray.WarningIcon());
}

void TForm1::Options1Click() {
  if (Form3) Form3->Show();
}

void TForm1::Home1Click() {
  Services.Shell.Execute(Handle(), "open", kHomePage, nullptr);
}

void TForm1::Exit1Click() {
  Close();
}

void TForm1::ShowProgramIcon(const std::u16string& path) {
  // Reading the icon opens the file. A share can keep the UI thread waiting
  // on the network, and with it every watcher that reports through it: the
  // icon of such a path is not looked for, nor of a bare name, which the
  // search path may lead to one. The shell refuses a network drive itself.
  Form2->Image1->SetPicture(IsDrivePath(path) ? Services.Shell.ExtractProgramIcon(path)
                                              : Services.Shell.EmptyIcon());
}

}  // namespace kw
