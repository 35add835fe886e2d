// What the alert shows for each kind of notice, on windowless forms.

#include <gtest/gtest.h>

#include "lib/Hives.h"
#include "monitor/ChangeTexts.h"
#include "tests/native/UiHarness.h"
#include "ui/UiTexts.h"
#include "ui/Unit1.h"
#include "ui/Unit2.h"

namespace kw::test {
namespace {

class AlertTest : public ::testing::Test, protected TFakeServices {
 protected:
  AlertTest() {
    Form1 = &Main;
    Form2 = &Alert;
  }
  ~AlertTest() override {
    Form1 = nullptr;
    Form2 = nullptr;
  }
  TChangeData Notice(std::vector<std::string> lines, std::string title = "",
                     std::string valueName = "") {
    TChangeData data;
    data.Key = "\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    data.RootKey = kHkeyCurrentUser;
    data.Changes = std::move(lines);
    data.Title = std::move(title);
    data.ValueName = std::move(valueName);
    return data;
  }
  std::string Icon() const {
    auto* picture = static_cast<const fake::FakePicture*>(Alert.Image1->Picture());
    return picture ? picture->Source : "<none>";
  }

  TForm1 Main{Services};
  TForm2 Alert{&Main, Services};
};

TEST_F(AlertTest, ShowsTheLastNewLineAndThePassAsAWhole) {
  EXPECT_EQ(Alert.Text(), texts::kAlertCaption);
  TChangeData data = Notice({"C:\\a.exe", "C:\\b.exe"}, texts::kTitleAdded, "B");
  Main.WMRegChange(data);
  EXPECT_TRUE(Alert.Visible());
  EXPECT_EQ(data.Shown, 2);
  // The first line would be replaced before anyone could see it: no window work for it.
  EXPECT_EQ(Shell.IconRequests, (std::vector<std::string>{"C:\\b.exe"}));
  EXPECT_EQ(Alert.Edit3->Text(), "C:\\b.exe");
  EXPECT_EQ(Icon(), "C:\\b.exe");
  EXPECT_EQ(Alert.Edit4->Text(), "HKEY_CURRENT_USER");
  EXPECT_EQ(Alert.Edit2->Text(), data.Key);
  EXPECT_EQ(Alert.Edit1->Text(), std::string(texts::kRegistryChange) + "2026/12/9 13:05:09");
  EXPECT_EQ(Alert.Text(), texts::kTitleAdded);
  EXPECT_EQ(Alert.sLabelFX1->Text(), "B");

  // Only the lines since the last handling are shown; an empty title or
  // name leaves caption and label as they were.
  data.Changes.push_back(ChangedLine("B", "C:\\b.exe", "C:\\c.exe"));
  data.Title.clear();
  data.ValueName = "B";
  Main.WMRegChange(data);
  EXPECT_EQ(Shell.IconRequests.size(), 2u);
  EXPECT_EQ(Icon(), "");  // a change line names no file: the question mark shows
  EXPECT_EQ(Alert.Text(), texts::kTitleAdded);

  // A flood: the end state of showing every line in turn, for one icon lookup.
  for (int i = 0; i < 5000; ++i) data.Changes.push_back("C:\\flood\\" + std::to_string(i) + ".exe");
  data.Title = texts::kTitleDeleted;
  data.ValueName = "Flood4999";
  Main.WMRegChange(data);
  EXPECT_EQ(data.Shown, 5003);
  EXPECT_EQ(Shell.IconRequests.size(), 3u);
  EXPECT_EQ(Alert.Edit3->Text(), "C:\\flood\\4999.exe");
  EXPECT_EQ(Icon(), "C:\\flood\\4999.exe");
  EXPECT_EQ(Alert.Edit4->Text(), "HKEY_CURRENT_USER");
  EXPECT_EQ(Alert.Text(), texts::kTitleDeleted);
  EXPECT_EQ(Alert.sLabelFX1->Text(), "Flood4999");
}

TEST_F(AlertTest, AWakeWithoutADifferenceRefreshesOnlyTheTimeAndTheKey) {
  TChangeData first = Notice({"C:\\a.exe"}, texts::kTitleDeleted, "A");
  Main.WMRegChange(first);
  TChangeData other = Notice({});
  other.Key = "\\Control Panel\\Desktop";
  other.RootKey = kHkeyLocalMachine;
  Clock.Time.Second = 10;
  Main.WMRegChange(other);
  EXPECT_EQ(Alert.Edit2->Text(), "\\Control Panel\\Desktop");
  EXPECT_EQ(Alert.Edit1->Text(), std::string(texts::kRegistryChange) + "2026/12/9 13:05:10");
  EXPECT_EQ(Alert.Edit3->Text(), "C:\\a.exe");
  EXPECT_EQ(Alert.Edit4->Text(), "HKEY_CURRENT_USER");
  EXPECT_EQ(Alert.sLabelFX1->Text(), "A");
  EXPECT_EQ(Alert.Text(), texts::kTitleDeleted);
}

TEST_F(AlertTest, AtMidnightTheTimeLineHoldsTheDateAlone) {
  Clock.Time = {2026, 1, 2, 0, 0, 0, 731};
  TChangeData data = Notice({});
  Main.WMRegChange(data);
  EXPECT_EQ(Alert.Edit1->Text(), std::string(texts::kRegistryChange) + "2026/1/2");
}

TEST_F(AlertTest, TheStopNoticeAndAnUnknownHive) {
  TChangeData data = Notice({texts::kMonitoringStopped});
  data.RootKey = 0x12345678;
  Main.WMRegChange(data);
  EXPECT_EQ(Alert.Edit3->Text(), texts::kMonitoringStopped);
  EXPECT_EQ(Alert.Edit4->Text(), "");
  EXPECT_EQ(Icon(), "");
}

TEST_F(AlertTest, ANoticeBeforeTheAlertExistsOrAfterItIsGoneIsKeptForTheNext) {
  Form2 = nullptr;
  TChangeData data = Notice({"C:\\a.exe"}, texts::kTitleAdded, "A");
  Main.WMRegChange(data);
  EXPECT_EQ(data.Shown, 0);
  Form2 = &Alert;
  Main.WMRegChange(data);
  EXPECT_EQ(data.Shown, 1);
  EXPECT_EQ(Alert.Edit3->Text(), "C:\\a.exe");
}

TEST_F(AlertTest, ClosingStopsTheSoundAndHides) {
  TChangeData data = Notice({});
  Main.WMRegChange(data);
  Alert.Close();
  EXPECT_FALSE(Alert.Visible());
  EXPECT_EQ(Sound.Calls, std::vector<std::string>{"stop"});
}

TEST(Hives, NamesAndHandles) {
  EXPECT_EQ(HiveToName(0x80000000), "HKEY_CLASSES_ROOT");
  EXPECT_EQ(HiveToName(0x80000006), "HKEY_DYN_DATA");
  EXPECT_EQ(HiveToName(0x80000007), "");
  EXPECT_EQ(HiveToName(0x7FFFFFFF), "");
  EXPECT_EQ(NameToHive("hkey_local_MACHINE"), 0x80000002u);
  EXPECT_EQ(NameToHive("HKEY_LOCAL_MACHINE "), 0u);
  EXPECT_EQ(NameToHive(""), 0u);
}

TEST(Toolkit, OwnsComponentsInCreationOrderAndKnowsTheirClasses) {
  TFakeServices fakes;
  TForm2 form(nullptr, fakes.Services);
  std::vector<std::string> names;
  for (vcl::TComponent* c : form.Components()) names.push_back(c->Name());
  EXPECT_EQ(names, (std::vector<std::string>{"PageControl1", "TabSheet1", "sLabelFX1", "Image5",
                                             "Image1", "Edit4", "Edit1", "Edit2", "Image3", "Edit3",
                                             "Image2", "Image4", "Button2", "Button1", "Button3"}));
  EXPECT_TRUE(form.Edit1->InheritsFrom("TEdit"));
  EXPECT_TRUE(form.Edit1->InheritsFrom("TWinControl"));
  EXPECT_FALSE(form.Edit1->InheritsFrom("TCheckBox"));
  EXPECT_TRUE(form.InheritsFrom("TForm"));
  EXPECT_STREQ(form.ClassName(), "TForm2");
  EXPECT_EQ(form.Image3->Cursor, vcl::TCursor::HandPoint);
}

TEST(Toolkit, ACheckBoxSetToANewStateRunsItsClickHandler) {
  vcl::TCheckBox box(nullptr, "CheckBox1", nullptr);
  int clicks = 0;
  box.OnClick = [&] { ++clicks; };
  box.SetChecked(true);
  box.SetChecked(true);
  EXPECT_EQ(clicks, 1);
  box.Click();
  EXPECT_FALSE(box.Checked());
  EXPECT_EQ(clicks, 2);
}

TEST(Toolkit, ErrorBoxTextAndApplicationTitle) {
  EXPECT_EQ(vcl::ErrorBoxText("Unable to write"), "Unable to write.");
  EXPECT_EQ(vcl::ErrorBoxText("Done."), "Done.");
  EXPECT_EQ(vcl::ErrorBoxText("Stop!"), "Stop!");
  EXPECT_EQ(vcl::ErrorBoxText(texts::kCannotOpenKey), std::string(texts::kCannotOpenKey) + ".");
  fake::FakeCodePage gbk;
  const std::pair<const char*, const char*> titles[] = {
      {"KEYWARDEN.EXE", "Keywarden"},
      {"key.warden.exe", "key"},
      {"\xB1\x4F\x9C\x5C.exe", "\xB1\x4F\x9C\x5C"},  // 監淺: no byte lowered, none cut
      {"\xB1\x4FKEY.EXE", "\xB1\x4Fkey"},            // 監 is the first character
      {"AB\xB1\x4F", "Ab\xB1\x4F"},
  };
  for (const auto& [file, title] : titles) EXPECT_EQ(vcl::ApplicationTitle(file, gbk), title);
  TFakeServices fakes;  // the title from the program's full path
  EXPECT_EQ(fakes.App.Title(), "Keywarden");
}

}  // namespace
}  // namespace kw::test
