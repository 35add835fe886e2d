#pragma once
// The hidden main window: holds the watched-key table and the monitor
// controller, receives the monitors' notices and fills the alert with them.

#include <map>
#include <memory>
#include <set>
#include <string>

#include "lib/CoolTrayIcon.h"
#include "lib/SimpleTimer.h"
#include "monitor/ChangeRecord.h"
#include "monitor/MonitorController.h"
#include "monitor/PendingRecords.h"
#include "monitor/StateFile.h"
#include "monitor/StateStore.h"
#include "toolkit/Forms.h"
#include "ui/Services.h"

namespace kw {

// Where "主页" leads: a placeholder under a reserved name until the product has its own site.
inline constexpr char kHomePage[] = "https://keywarden.example/";
inline constexpr char kTrayHint[] = "Keywarden Registry Monitor";

class TForm1 : public vcl::TForm {
  KW_COMPONENT_CLASS(TForm1, vcl::TForm)
 public:
  static constexpr std::uint32_t kMinSaveDelayMs = 1000;
  // The shortest a timer waits on Windows (USER_TIMER_MINIMUM).
  static constexpr std::uint32_t kDetailsDelayMs = 10;
  explicit TForm1(TServices& services);
  ~TForm1() override { DestroyForm(); }

  vcl::TButton* Button1;
  vcl::TButton* Button2;
  vcl::TListBox* ListBox1;
  vcl::TButton* Button3;
  TCoolTrayIcon* CoolTrayIcon1;
  vcl::TPopupMenu* PopupMenu1;
  vcl::TMenuItem* Exit1;
  vcl::TMenuItem* Options1;
  vcl::TMenuItem* N1;
  vcl::TMenuItem* Home1;
  vcl::TMenuItem* N2;

  bool HandleMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override;
  // Takes what the monitors have queued and shows it in the alert.
  void WMRegChange();
  // Logs what the finished signature checks found and shows the alert's.
  void WMSignerKnown();
  void ShowProgramIcon(const std::u16string& path);
  // "选项": shows the options dialog, or brings it to the front.
  void Options1Click();
  // "主页": the home page in the default browser.
  void Home1Click();
  // "退出": closes the main window, which ends the program.
  void Exit1Click();

  // "确定" emptied the alert's list: the next save keeps it empty.
  void ChangesConfirmed();
  // Keeps the state and the alert's unconfirmed changes now, as far as they
  // can be: at the end, while the alert still exists.
  void SaveState();

  TMonitorController* Controller() const { return FController.get(); }
  // Where the monitors leave their records for WMRegChange.
  TChangeQueue& Queue() { return *FQueue; }

 protected:
  void FormCreate() override;
  void FormDestroy() override;

 private:
  void FollowWatchState(const TChangeRecord& record);
  void ShowWatchState();
  void LoadSavedState();
  void AfterStart();
  void ScheduleSave();
  bool LogWaitsForSigner(const TChangeRecord& record) const;
  void AskForSignerToLog(TChangeRecord record);
  // The icon and the signer asks once the alert's fields are painted.
  void ScheduleDetails();
  void ShowDetails();

  TServices& Services;
  std::shared_ptr<TChangeQueue> FQueue = std::make_shared<TChangeQueue>();
  std::unique_ptr<TMonitorController> FController;
  // The locations that cannot be watched now, by hive and path.
  std::set<std::string> NotWatched;
  // How many of the records the queue dropped the alert and the log were told of.
  std::size_t LostReported = 0;
  // The logged changes whose program's signer the log is still to be told,
  // by program, with the number of the ask that will answer.
  static constexpr std::size_t kMaxAwaitingSigner = TSignerLookup::kMaxWaiting;
  std::multimap<std::u16string, std::pair<std::uint64_t, TChangeRecord>> AwaitingSigner;
  // What the monitors last reported, and the file it is kept in between
  // runs, in the user's state folder with the alert's unconfirmed changes.
  TStatePlace Place;
  std::shared_ptr<TStateStore> States;
  std::unique_ptr<TStateFile> StateFile;
  std::unique_ptr<TPendingFile> PendingFile;
  bool PendingDirty = false;  // the alert's list changed since it was last kept
  bool MaySave = false;       // false: the file is damaged and stays as it is
  TStateLoad StateLoad = TStateLoad::None;
  // The saves are coalesced: one at most per SaveDelayMs, however many
  // records come. The delay grows with what a save costs.
  std::unique_ptr<TSimpleTimer> SaveTimer;
  std::uint32_t SaveDelayMs = kMinSaveDelayMs;
  std::unique_ptr<TSimpleTimer> StartTimer;
  // What reading the programs costs (the alert's icon, the signer checks of
  // the alert and the log) waits until the alert's new fields are on the
  // screen: a timer ticks only once the thread's windows are painted.
  std::unique_ptr<TSimpleTimer> DetailsTimer;
  std::vector<TChangeRecord> AwaitingAsk;
};

extern TForm1* Form1;

}  // namespace kw
