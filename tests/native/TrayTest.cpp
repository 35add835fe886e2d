// The tray icon component and its menu, against a fake notification area and timers.

#include <gtest/gtest.h>

#include "lib/CoolTrayIcon.h"
#include "tests/native/UiHarness.h"
#include "ui/UiTexts.h"
#include "ui/Unit1.h"
#include "ui/Unit3.h"

namespace kw::test {
namespace {

constexpr std::uint32_t kMove = 0x200, kLDown = 0x201, kLUp = 0x202, kLDbl = 0x203, kRDown = 0x204,
                        kRUp = 0x205, kMDown = 0x207, kMUp = 0x208, kContextMenu = 0x7B,
                        kBalloonShow = 0x402, kBalloonClick = 0x405;

class TrayTest : public ::testing::Test, protected TFakeServices {
 protected:
  TrayTest() {
    Icon->OnClick = [this](TCoolTrayIcon&) { Events.push_back("click"); };
    Icon->OnMouseDown = [this](TCoolTrayIcon&, TMouseButton b, unsigned shift, int x, int y) {
      Events.push_back("down " + std::to_string(int(b)) + " " + std::to_string(shift) + " " +
                       std::to_string(x) + "," + std::to_string(y));
    };
    Icon->OnMouseUp = [this](TCoolTrayIcon&, TMouseButton b, unsigned, int, int) {
      Events.push_back("up " + std::to_string(int(b)));
    };
  }
  void Callback(std::uint32_t message) {
    TTrayIconHandler::Instance()->HandleCallback(Icon->Id(), message);
  }

  vcl::TForm Owner{nullptr, "Owner"};
  TCoolTrayIcon* Icon = new TCoolTrayIcon(&Owner, "CoolTrayIcon1", Tray, Tray);
  std::vector<std::string> Events;
};

TEST_F(TrayTest, AClickWithoutADoubleClickHandlerIsReportedAtTheRelease) {
  Tray.KeysDown = {kVkShift};
  Callback(kLDown);
  Callback(kLUp);
  EXPECT_EQ(Events, (std::vector<std::string>{"down 0 9 1014,758", "click", "up 0"}));
  EXPECT_TRUE(Tray.Timers.empty());
}

TEST_F(TrayTest, WithADoubleClickHandlerTheClickWaitsForTheDelay) {
  Icon->OnDblClick = [this](TCoolTrayIcon&) { Events.push_back("double"); };
  Callback(kLDown);
  Callback(kLUp);
  EXPECT_EQ(Events.size(), 2u);  // down, up: the click waits
  ASSERT_EQ(Tray.Timers.size(), 1u);
  EXPECT_EQ(Tray.Timers.begin()->second, 500u);
  Tray.TickAll();
  EXPECT_EQ(Events.back(), "click");
  EXPECT_TRUE(Tray.Timers.empty());

  Events.clear();
  Callback(kLDown);
  Callback(kLUp);
  Callback(kLDbl);
  Callback(kLUp);
  Tray.TickAll();
  EXPECT_EQ(Events, (std::vector<std::string>{"down 0 8 1014,758", "up 0", "double", "up 0"}));
}

TEST_F(TrayTest, TheRightButtonOpensTheMenuAtOnceAndTheMiddleOnlyReports) {
  vcl::TPopupMenu menu(nullptr, "Menu");
  vcl::TMenuItem one(nullptr, "One", "one"), line(nullptr, "N1", "-"), two(nullptr, "Two", "two");
  menu.Items = {&one, &line, &two};
  two.OnClick = [this] { Events.push_back("two chosen"); };
  Icon->SetPopupMenu(&menu);
  Tray.Choose = 2;
  Callback(kRDown);
  EXPECT_EQ(Tray.Log, (std::vector<std::string>{"foreground", "foreground", "process messages",
                                                "menu at 1014,758 with 3"}));
  Callback(kRUp);
  Callback(kMDown);
  Callback(kMUp);
  EXPECT_EQ(Events, (std::vector<std::string>{"down 1 16 1014,758", "two chosen", "up 1",
                                              "down 2 32 1014,758", "up 2"}));
}

TEST_F(TrayTest, TheMenuReferenceIsClearedWhenTheMenuGoesWhoeverGoesFirst) {
  auto* loose = new vcl::TPopupMenu(nullptr, "Loose");
  Icon->SetPopupMenu(loose);
  delete loose;
  EXPECT_EQ(Icon->PopupMenu(), nullptr);
  Callback(kRDown);
  EXPECT_TRUE(Tray.Log.empty());  // no menu to open

  auto* owned = new vcl::TPopupMenu(&Owner, "Owned");
  auto* item = new vcl::TMenuItem(&Owner, "Item", "item");
  owned->Items = {item};
  Icon->SetPopupMenu(owned);
  delete item;  // a sibling: the owner passes the notice on
  EXPECT_TRUE(owned->Items.empty());
  delete owned;
  EXPECT_EQ(Icon->PopupMenu(), nullptr);

  vcl::TPopupMenu survivor(nullptr, "Survivor");
  {
    TCoolTrayIcon first(nullptr, "First", Tray, Tray);
    first.SetPopupMenu(&survivor);
  }  // the survivor forgets the icon: its own end tells no one freed
}

TEST_F(TrayTest, CallbackVersionsAndBalloonsAndDisabled) {
  Callback(kContextMenu);  // version 0: ignored
  Icon->CallbackVersion = 1;
  Callback(kRUp);  // version 1: ignored
  Callback(kContextMenu);
  EXPECT_EQ(Events, std::vector<std::string>{"up 1"});
  int balloons = 0;
  Icon->OnBalloonHintShow = [&](TCoolTrayIcon&) { ++balloons; };
  Icon->OnBalloonHintClick = [&](TCoolTrayIcon&) { balloons += 10; };
  Icon->Enabled = false;
  Callback(kBalloonShow);  // balloons come whatever Enabled says
  Callback(kBalloonClick);
  Callback(kLDown);
  EXPECT_EQ(balloons, 11);
  EXPECT_EQ(Events.size(), 1u);
}

TEST_F(TrayTest, EnterAndLeaveWhenWanted) {
  Icon->SetWantEnterExitEvents(true);
  Icon->OnMouseEnter = [this](TCoolTrayIcon&) { Events.push_back("enter"); };
  Icon->OnMouseExit = [this](TCoolTrayIcon&) { Events.push_back("exit"); };
  Callback(kMove);
  Callback(kMove);
  Tray.TickAll();  // the cursor is still there
  Tray.Cursor = {10, 10};
  Tray.TickAll();
  EXPECT_EQ(Events, (std::vector<std::string>{"enter", "exit"}));
}

TEST_F(TrayTest, TheTipIsCutAt127BytesAndAnEmptyHintHasNone) {
  Icon->SetHint(std::string(200, 'h'));
  Icon->SetIconVisible(true);
  const TNotifyIconData& added = Tray.Calls.back().Data;
  EXPECT_EQ(Tray.Calls.back().Message, kNimAdd);
  EXPECT_EQ(std::string(added.Tip), std::string(127, 'h'));
  EXPECT_EQ(added.Flags, 7u);
  EXPECT_EQ(added.CallbackMessage, 0x800u);
  Icon->SetHint("");
  EXPECT_EQ(Tray.Calls.back().Data.Tip[0], 0);
}

TEST_F(TrayTest, TaskbarCreatedPutsAVisibleIconBackAndAnUnknownIdIsIgnored) {
  // Let through to the application window; the filter's refusal changes nothing.
  EXPECT_EQ(Tray.Allowed, std::vector<WindowHandle>{0xA99});
  Icon->SetIconVisible(true);
  Tray.Icons.clear();  // the taskbar was lost
  Host.SendToApplicationWindow(0xC123);
  EXPECT_EQ(Tray.Icons.count(Icon->Id()), 1u);
  TTrayIconHandler::Instance()->HandleCallback(Icon->Id() + 99, kLDown);
  EXPECT_TRUE(Events.empty());
}

TEST_F(TrayTest, CyclingStepsThroughTheListAndBackToTheFirst) {
  std::vector<int> steps;
  Icon->OnCycle = [&](TCoolTrayIcon&, int next) { steps.push_back(next); };
  Icon->SetIconList({0xA1, 0xA2, 0xA3});
  Icon->SetIconIndex(7);  // beyond the list: its last
  EXPECT_EQ(Icon->IconIndex(), 2);
  Icon->SetCycleInterval(250);
  Icon->SetCycleIcons(true);
  EXPECT_EQ(Icon->IconIndex(), 0);
  ASSERT_EQ(Tray.Timers.size(), 1u);
  EXPECT_EQ(Tray.Timers.begin()->second, 250u);
  for (int i = 0; i < 3; ++i) Tray.TickAll();
  EXPECT_EQ(steps, (std::vector<int>{1, 2, 0}));
  EXPECT_EQ(Tray.Calls.back().Data.Icon, 0xA1u);
  Icon->SetCycleIcons(false);
  EXPECT_TRUE(Tray.Timers.empty());
}

TEST_F(TrayTest, ALeftPopupOpensOnTheLeftPressAndTheDoubleClickRunsTheDefaultOtherwise) {
  vcl::TPopupMenu menu(nullptr, "Menu");
  vcl::TMenuItem item(nullptr, "Item", "item");
  item.Default = true;
  item.OnClick = [this] { Events.push_back("default"); };
  menu.Items = {&item};
  Icon->SetPopupMenu(&menu);
  Callback(kLDbl);
  EXPECT_EQ(Events.back(), "default");
  Icon->LeftPopup = true;
  Events.clear();
  Callback(kLDown);
  Callback(kLDbl);
  EXPECT_EQ(std::count(Tray.Log.begin(), Tray.Log.end(), "menu at 1014,758 with 1"), 1);
  EXPECT_EQ(std::count(Events.begin(), Events.end(), "default"), 0);
}

TEST_F(TrayTest, StartupCanHideTheOwnerAndMinimisingGoesToTheTray) {
  Owner.Show();
  Icon->OnStartup = [](TCoolTrayIcon&, bool& showMainForm) { showMainForm = false; };
  Icon->Loaded();
  EXPECT_FALSE(Owner.Visible());
  EXPECT_EQ(Tray.Calls.back().Message, kNimSetVersion);

  Owner.Show();
  int minimised = 0;
  Icon->OnMinimizeToTray = [&](TCoolTrayIcon&) { ++minimised; };
  Host.SendToApplicationWindow(5, 1);  // switched off: nothing
  EXPECT_TRUE(Owner.Visible());
  Icon->MinimizeToTray = true;
  Host.SendToApplicationWindow(5, 1);
  EXPECT_EQ(minimised, 1);
  EXPECT_FALSE(Owner.Visible());
  EXPECT_TRUE(Icon->IconVisible());
}

TEST(SimpleTimer, PeriodsStartsAndStops) {
  fake::FakeTray host;
  int ticks = 0;
  TSimpleTimer zero(host, 0, [&](TSimpleTimer&) { ++ticks; });
  zero.Start();
  EXPECT_FALSE(zero.Running());
  TSimpleTimer once(
      host, 100, [&](TSimpleTimer&) { ++ticks; }, true);
  once.Start();
  EXPECT_EQ(TSimpleTimerHandler::Instance()->RunningCount(), 1);
  host.TickAll();
  EXPECT_FALSE(once.Running());
  host.TickAll();
  EXPECT_EQ(ticks, 1);
  once.Start();
  once.SetPeriod(0);  // stops, still marked running
  EXPECT_TRUE(once.Running());
  EXPECT_TRUE(host.Timers.empty());
  EXPECT_EQ(TSimpleTimerHandler::Instance()->RunningCount(), 0);
  TSimpleTimerHandler::Instance()->Tick(0xDEAD);  // no such timer
}

TEST(TrayIconHandler, LivesWhileAComponentDoes) {
  TFakeServices fakes;
  {
    TCoolTrayIcon a(nullptr, "A", fakes.Tray, fakes.Tray), b(nullptr, "B", fakes.Tray, fakes.Tray);
    EXPECT_EQ(TTrayIconHandler::Instance()->IconCount(), 2);
    EXPECT_NE(a.Id(), b.Id());
  }
  EXPECT_EQ(TTrayIconHandler::Instance(), nullptr);
  EXPECT_EQ(TSimpleTimerHandler::Instance(), nullptr);
}

// The main window's design: the icon first, then the monitors; the menu's commands.
class MainWindowTrayTest : public ::testing::Test, protected TFakeServices {
 protected:
  MainWindowTrayTest() {
    Form1 = Main.get();
    Form3 = &Options;
  }
  ~MainWindowTrayTest() override {
    Main.reset();
    Form1 = nullptr;
    Form3 = nullptr;
  }
  std::unique_ptr<TForm1> Main = std::make_unique<TForm1>(Services);
  TForm3 Options{nullptr, Services};
};

TEST_F(MainWindowTrayTest, TheIconIsAddedWithItsTipAndRemovedAtTheEnd) {
  ASSERT_EQ(Tray.Icons.size(), 1u);
  const auto add = std::find_if(Tray.Calls.begin(), Tray.Calls.end(),
                                [](auto& c) { return c.Message == kNimAdd; });
  ASSERT_NE(add, Tray.Calls.end());
  EXPECT_EQ(std::string(add->Data.Tip), "Keywarden Registry Monitor");
  EXPECT_EQ(add->Data.Icon, 0x1C0u);
  EXPECT_EQ(Tray.Calls.back().Message, kNimSetVersion);
  EXPECT_TRUE(Fake.Registry.OpenedAccessRights().empty());  // no monitor yet

  std::vector<std::string> items;
  for (auto* item : Main->PopupMenu1->Items) items.push_back(item->Name());
  EXPECT_EQ(items, (std::vector<std::string>{"Options1", "N1", "Home1", "N2", "Exit1"}));
  Main.reset();
  EXPECT_TRUE(Tray.Icons.empty());
}

TEST_F(MainWindowTrayTest, ACallbackWhileTheIconIsRemovedAtExitReachesNoFreedMenu) {
  TCoolTrayIcon* icon = Main->CoolTrayIcon1;
  const std::uint32_t id = icon->Id();
  bool menuCleared = false;
  Tray.WhileNotifying = [&](std::uint32_t message) {
    if (message != kNimDelete) return;
    menuCleared = icon->PopupMenu() == nullptr;
    if (auto* handler = TTrayIconHandler::Instance()) handler->HandleCallback(id, kRDown);
    Host.SendToApplicationWindow(Tray.TaskbarCreatedMessage());
  };
  Main.reset();  // the menu goes first, then the icon
  EXPECT_TRUE(menuCleared);
  EXPECT_EQ(std::count(Tray.Log.begin(), Tray.Log.end(), "foreground"), 0);
  EXPECT_TRUE(Tray.Icons.empty());  // not added back
}

TEST_F(MainWindowTrayTest, TheMenuCommands) {
  Main->Options1->OnClick();
  EXPECT_TRUE(Options.Visible());
  Main->Home1->OnClick();
  EXPECT_EQ(Shell.Requests.back(), "0 open [https://keywarden.example/] NULL");
  App.SetMainForm(Main.get());
  Main->Exit1->OnClick();
  EXPECT_EQ(Host.Terminations, 1);
}

}  // namespace
}  // namespace kw::test
