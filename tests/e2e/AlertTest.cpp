// The alert dialog as a user meets it: the real program, real registry writes.

#include <gtest/gtest.h>

#include <cwchar>
#include <random>
#include <string>
#include <vector>

#include "tests/e2e/Program.h"

#include <shlobj.h>
#include <wincrypt.h>

namespace kw::e2e {
namespace {

const std::wstring kRunKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const std::wstring kAddedTitle = L"警告！注册表更改 - 添加启动项";
const std::wstring kDeletedTitle = L"警告！注册表更改 - 删除启动项";

// A value below a hive's Run key, written in this process: no tool start per write.
class TRunKey {
 public:
  explicit TRunKey(HKEY hive, const std::wstring& sub = L"") {
    const std::wstring path = sub.empty() ? kRunKey : kRunKey + L"\\" + sub;
    ::RegCreateKeyExW(hive, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr,
                      &Key, nullptr);
  }
  ~TRunKey() { ::RegCloseKey(Key); }
  void Set(const std::wstring& name, const std::wstring& data, DWORD type = REG_SZ) {
    ::RegSetValueExW(Key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.c_str()),
                     static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
  }
  void SetDword(const std::wstring& name, DWORD value) {
    ::RegSetValueExW(Key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                     sizeof value);
  }
  void Delete(const std::wstring& name) { ::RegDeleteValueW(Key, name.c_str()); }

 private:
  HKEY Key = nullptr;
};

// A key renamed as a program may rename it (ntdll's NtRenameKey: the
// documented functions have no rename), and named back at the end.
class TRenamedKey {
 public:
  TRenamedKey(const std::wstring& path, const std::wstring& away) : Path(path) {
    const auto slash = path.rfind(L'\\');
    Parent = path.substr(0, slash);
    Name = path.substr(slash + 1);
    Away = away;
    Renamed = Rename(Path, Away);
  }
  ~TRenamedKey() {
    if (!Renamed) return;
    EXPECT_TRUE(Rename(Parent + L"\\" + Away, Name)) << "renaming back failed";
  }
  bool Renamed = false;

 private:
  static bool Rename(const std::wstring& path, std::wstring to) {
    struct TCountedName {
      USHORT Length, MaximumLength;
      wchar_t* Buffer;
    } name{static_cast<USHORT>(to.size() * sizeof(wchar_t)),
           static_cast<USHORT>(to.size() * sizeof(wchar_t)), to.data()};
    using TRenameKey = LONG(WINAPI*)(HANDLE, TCountedName*);
    const auto rename = reinterpret_cast<TRenameKey>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtRenameKey")));
    HKEY key = nullptr;
    if (!rename || ::RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_ALL_ACCESS, &key) != 0)
      return false;
    const LONG status = rename(key, &name);
    ::RegCloseKey(key);
    return status == 0;
  }
  std::wstring Path, Parent, Name, Away;
};

// For messages: what the alert shows, in UTF-8.
std::string Narrow(const std::wstring& text) {
  std::string utf8(text.size() * 3 + 1, '\0');
  utf8.resize(static_cast<std::size_t>(
      ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), utf8.data(),
                            static_cast<int>(utf8.size()), nullptr, nullptr)));
  return utf8;
}

// The alert's fields, found as a user sees them: the edits top to bottom.
struct TAlert {
  explicit TAlert(HWND dialog) : Dialog(dialog) {}
  HWND Edit(int row) const {
    auto edits = ChildrenOfClass(Dialog, L"TEdit");
    return edits.size() >= 4 ? edits[static_cast<std::size_t>(row)] : nullptr;
  }
  std::wstring Hive() const { return TextOf(Edit(0)); }
  std::wstring Time() const { return TextOf(Edit(1)); }
  std::wstring Key() const { return TextOf(Edit(2)); }
  std::wstring Path() const { return TextOf(Edit(3)); }
  // The picked change's whole data, shown where the path leaves some out.
  HWND DataField() const {
    auto edits = ChildrenOfClass(Dialog, L"TEdit");
    return edits.size() >= 5 ? edits[4] : nullptr;
  }
  void Click(const std::wstring& caption) const {
    for (HWND button : ChildrenOfClass(Dialog, L"TButton")) {
      if (TextOf(button) == caption) ::PostMessageW(button, BM_CLICK, 0, 0);
    }
  }
  std::wstring Label() const {
    auto labels = ChildrenOfClass(Dialog, L"TsLabelFX");
    return labels.empty() ? L"" : TextOf(labels[0]);
  }
  // Who signed the picked change's program: the line above its path.
  std::wstring Signer() const {
    auto labels = ChildrenOfClass(Dialog, L"TsLabelFX");
    return labels.size() < 2 ? L"" : TextOf(labels[1]);
  }
  std::wstring Caption() const { return TextOf(Dialog); }
  bool Visible() const { return ::IsWindowVisible(Dialog); }
  // The tab: "启动项信息", and "k/n" while there is more than one change.
  std::wstring Page() const {
    const auto pages = ChildrenOfClass(Dialog, L"TTabSheet");
    return pages.empty() ? L"" : TextOf(pages[0]);
  }
  // Steps back with "<" through the list until the change of `name` is picked.
  bool Pick(const std::wstring& name) const {
    for (int step = 0; step < 500; ++step) {
      if (Label() == name) return true;
      const std::wstring page = Page();
      Click(L"<");
      if (!WaitFor([&] { return Page() != page; }, 2000)) return false;  // the oldest
    }
    return false;
  }

  HWND Dialog;
};

class AlertTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Program.Running());
    ASSERT_NE(Program.AlertWindow(), nullptr);
  }
  void Screenshot(const wchar_t* name) { SaveScreenshot(ArtifactPath(name)); }

  TProgram Program;
  TAlert Alert{Program.AlertWindow()};
};

TEST(AlertAtStart, StartsWithoutShowingAnyWindow) {
  TProgram program(ProgramPath(), false);
  ASSERT_NE(program.AlertWindow(), nullptr);
  for (HWND window : TopLevelWindows(program.Pid())) {
    EXPECT_FALSE(::IsWindowVisible(window)) << ClassOf(window).c_str();
  }
  TAlert alert(program.AlertWindow());
  EXPECT_EQ(alert.Caption(), L"启动项检测");
  EXPECT_EQ(alert.Path(), L"");
}

void CheckAddedChangedDeleted(TKeywarden& program, TAlert& alert, HKEY hive,
                              const std::wstring& hiveName, const wchar_t* shot) {
  TRunKey run(hive);
  const std::wstring name = L"KeywardenE2E" + hiveName.substr(5, 4);
  run.Delete(name);
  run.Set(name, L"\"C:\\windows\\notepad.exe\" /min");
  ASSERT_TRUE(WaitFor([&] { return alert.Path() == L"C:\\windows\\notepad.exe "; }))
      << alert.Path().size();
  EXPECT_TRUE(alert.Visible());
  EXPECT_EQ(alert.Caption(), kAddedTitle);
  EXPECT_EQ(alert.Label(), name);
  EXPECT_EQ(alert.Key(), L"\\" + kRunKey);
  EXPECT_EQ(alert.Hive(), hiveName);
  EXPECT_EQ(alert.Time().rfind(L"注册表更改", 0), 0u);
  EXPECT_GT(alert.Time().size(), 10u);
  if (shot) SaveScreenshot(ArtifactPath(shot));

  run.Set(name, L"C:\\Tools\\new.exe");
  const std::wstring changed =
      L" 程序 (" + name +
      L") 路径更改从 \"\"C:\\windows\\notepad.exe\" /min\" 到 \"C:\\Tools\\new.exe\"; ";
  ASSERT_TRUE(WaitFor([&] { return alert.Path() == changed; })) << alert.Path().size();
  EXPECT_EQ(alert.Caption(), kAddedTitle);  // a change sets no title
  EXPECT_EQ(alert.Label(), name);

  run.Delete(name);
  ASSERT_TRUE(WaitFor([&] { return alert.Path() == L"C:\\Tools\\new.exe"; }));
  EXPECT_EQ(alert.Caption(), kDeletedTitle);
  EXPECT_EQ(alert.Label(), name);
  EXPECT_EQ(alert.Hive(), hiveName);
  (void)program;
}

// Chinese in a value's name and path reads right whatever the system's code page.
void CheckChineseNameAndPath(TAlert& alert) {
  TRunKey run(HKEY_CURRENT_USER);
  const std::wstring name = L"木马程序", path = L"C:\\临时\\木马.exe";
  run.Delete(name);
  run.Set(name, path);
  ASSERT_TRUE(WaitFor([&] { return alert.Path() == path; })) << alert.Path().size();
  EXPECT_EQ(alert.Caption(), kAddedTitle);
  EXPECT_EQ(alert.Label(), name);
  EXPECT_EQ(alert.Hive(), L"HKEY_CURRENT_USER");
  EXPECT_EQ(alert.Key(), L"\\" + kRunKey);
  EXPECT_EQ(alert.Time().rfind(L"注册表更改", 0), 0u);
  SaveScreenshot(ArtifactPath(L"alert-chinese.bmp"));
  run.Delete(name);
  ASSERT_TRUE(WaitFor([&] { return alert.Caption() == kDeletedTitle; }));
  EXPECT_EQ(alert.Path(), path);
  EXPECT_EQ(alert.Label(), name);
}

// The certificate the signed programs were made with, trusted for this
// user as a root, as an organisation trusts its own signer.
bool TrustForUser(const std::wstring& certificateFile) {
  HANDLE file = ::CreateFileW(certificateFile.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  std::vector<BYTE> der(65536);
  DWORD read = 0;
  const bool ok = ::ReadFile(file, der.data(), static_cast<DWORD>(der.size()), &read, nullptr);
  ::CloseHandle(file);
  HCERTSTORE root =
      ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
  if (!ok || !root) return false;
  const bool added = ::CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING, der.data(), read,
                                                        CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  ::CertCloseStore(root, 0);
  return added;
}

// Who signed the program a new entry starts, read from the alert: a signed
// copy, one changed after it was signed, and one never signed.
// scripts/make-signed.sh makes them into the folder KW_SIGNED names.
void CheckSignerLines(TProgram& program, TAlert& alert) {
  const std::wstring folder = EnvironmentPath(L"KW_SIGNED");
  ASSERT_FALSE(folder.empty()) << "KW_SIGNED names no folder of signed programs";
  ASSERT_TRUE(TrustForUser(folder + L"\\signer.cer"));
  TRunKey run(HKEY_CURRENT_USER);
  const std::pair<std::wstring, std::wstring> rows[] = {
      {L"good.exe", L"签名：Keywarden Test Signer"},
      {L"tampered.exe", L"签名无效"},
      {L"plain.exe", L"未签名"},
      {L"missing.exe", L"未能检查签名"},
      // Never looked for: the check reads nothing beyond this machine.
      {L"\\\\keywarden-nohost\\share\\x.exe", L"未能检查签名"},
  };
  for (const auto& [file, line] : rows) {
    const std::wstring name = L"KeywardenSigned" + file.substr(file.rfind(L'\\') + 1);
    const std::wstring path = file[0] == L'\\' ? file : folder + L"\\" + file;
    run.Delete(name);
    run.Set(name, path);
    ASSERT_TRUE(WaitFor([&] { return alert.Path() == path && alert.Label() == name; }))
        << Narrow(alert.Path());
    EXPECT_TRUE(WaitFor([&] { return alert.Signer() == line; }))
        << Narrow(file) << ": " << Narrow(alert.Signer());
    if (file == L"good.exe") SaveScreenshot(ArtifactPath(L"alert-signed.bmp"));
  }

  // Another file put in the signed one's place, of the same size and times:
  // picked again, the alert checks it afresh rather than keep the verdict.
  const std::wstring swap = folder + L"\\swap.exe", held = folder + L"\\swap.tmp";
  ASSERT_TRUE(::CopyFileW((folder + L"\\good.exe").c_str(), swap.c_str(), FALSE));
  run.Set(L"KeywardenSignedSwap", swap);
  ASSERT_TRUE(WaitFor([&] { return alert.Label() == L"KeywardenSignedSwap"; }));
  EXPECT_TRUE(WaitFor([&] { return alert.Signer() == rows[0].second; })) << Narrow(alert.Signer());
  ASSERT_TRUE(::CopyFileW((folder + L"\\tampered.exe").c_str(), held.c_str(), FALSE));
  WIN32_FILE_ATTRIBUTE_DATA before{};
  ASSERT_TRUE(::GetFileAttributesExW(swap.c_str(), GetFileExInfoStandard, &before));
  HANDLE file =
      ::CreateFileW(held.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  ::SetFileTime(file, &before.ftCreationTime, &before.ftLastAccessTime, &before.ftLastWriteTime);
  ::CloseHandle(file);
  ASSERT_TRUE(::MoveFileExW(held.c_str(), swap.c_str(), MOVEFILE_REPLACE_EXISTING));
  const std::wstring page = alert.Page();
  alert.Click(L"<");
  ASSERT_TRUE(WaitFor([&] { return alert.Page() != page; }));
  alert.Click(L">");
  EXPECT_TRUE(WaitFor([&] { return alert.Signer() == L"签名无效"; })) << Narrow(alert.Signer());

  run.Delete(L"KeywardenSignedSwap");
  for (const auto& [file, line] : rows) {
    run.Delete(L"KeywardenSigned" + file.substr(file.rfind(L'\\') + 1));
  }

  // A file far too big to check soon: the alert does not wait for it, nor
  // does the guard's end.
  const std::wstring huge = folder + L"\\huge.exe";
  run.Set(L"KeywardenSignedHuge", huge);
  ASSERT_TRUE(WaitFor([&] { return alert.Path() == huge; }));
  ::Sleep(300);
  EXPECT_EQ(alert.Signer(), L"") << "the check of 8 GiB ended already";
  const ULONGLONG began = ::GetTickCount64();
  EXPECT_EQ(program.End(), 0u);
  EXPECT_LT(::GetTickCount64() - began, 5000u);
  run.Delete(L"KeywardenSignedHuge");
}

TEST_F(AlertTest, ReportsAddedChangedAndDeletedValuesOfBothHives) {
  // A second start while this one runs ends at once, cleanly, and leaves
  // this one watching.
  EXPECT_EQ(TKeywarden::RunAnotherCopy(), 0u);
  CheckAddedChangedDeleted(Program, Alert, HKEY_CURRENT_USER, L"HKEY_CURRENT_USER",
                           L"alert-added-hkcu.bmp");
  CheckAddedChangedDeleted(Program, Alert, HKEY_LOCAL_MACHINE, L"HKEY_LOCAL_MACHINE", nullptr);

  // Bursts of 2 to 10 new values, 0 to 5 ms apart, as a program hiding its
  // entry right behind harmless ones would write them: however the monitor's
  // wakes fall among the writes, the last of each burst is shown. The names
  // sort in the order written, so Wine (which enumerates values by name) and
  // Windows (in the order written) report them alike.
  TRunKey run(HKEY_CURRENT_USER);
  std::mt19937 random(2997);
  std::vector<std::wstring> written;
  for (int burst = 0; burst < 40; ++burst) {
    const int writes = 2 + static_cast<int>(random() % 9);
    std::wstring name, path;
    for (int i = 0; i < writes; ++i) {
      name = L"KeywardenBurst" + std::to_wstring(100 + burst) + std::to_wstring(100 + i);
      path = L"C:\\burst\\" + name + L".exe";
      run.Set(name, path);
      written.push_back(name);
      ::Sleep(random() % 6);  // the gap between two writes
    }
    ASSERT_TRUE(WaitFor([&] { return Alert.Path() == path && Alert.Label() == name; }))
        << "burst " << burst << " of " << writes << " writes; shown: " << Narrow(Alert.Label())
        << " " << Narrow(Alert.Path());
  }
  for (const std::wstring& name : written) run.Delete(name);

  CheckChineseNameAndPath(Alert);
  CheckSignerLines(Program, Alert);  // last: it ends the program
}

// What a program of the same user might write to hide its entry from the
// alert or to mislead it.
TEST_F(AlertTest, NothingAProgramWritesHidesAnEntryOrMisleadsTheAlert) {
  TRunKey run(HKEY_CURRENT_USER);
  const std::wstring runKey = L"\\" + kRunKey;
  // An expandable string starts with Windows like any other entry.
  run.Set(L"KeywardenExpand", L"%SystemRoot%\\notepad.exe", REG_EXPAND_SZ);
  ASSERT_TRUE(WaitFor([&] { return Alert.Path() == L"%SystemRoot%\\notepad.exe"; }));
  EXPECT_EQ(Alert.Label(), L"KeywardenExpand");
  run.Delete(L"KeywardenExpand");

  // A name of 300 characters.
  const std::wstring longName(300, L'k');
  run.Set(longName, L"C:\\long.exe");
  ASSERT_TRUE(WaitFor([&] { return Alert.Path() == L"C:\\long.exe"; }));
  EXPECT_EQ(Alert.Label(), longName);
  run.Delete(longName);

  // An entry with a harmless value right behind it: the newest shows, and
  // "<" brings back the entry, every field from it.
  run.Set(L"KeywardenPair1Hidden", L"C:\\hidden.exe");
  ::Sleep(1);
  run.Set(L"KeywardenPair2Harmless", L"C:\\harmless.exe");
  ASSERT_TRUE(WaitFor([&] { return Alert.Label() == L"KeywardenPair2Harmless"; }));
  Alert.Click(L"<");
  ASSERT_TRUE(WaitFor([&] { return Alert.Label() == L"KeywardenPair1Hidden"; }));
  EXPECT_EQ(Alert.Path(), L"C:\\hidden.exe");
  EXPECT_EQ(Alert.Key(), runKey);
  run.Delete(L"KeywardenPair1Hidden");
  run.Delete(L"KeywardenPair2Harmless");

  // A command line shows whole beneath its program path.
  const std::wstring command = L"regsvr32 /s /i:http://host/x.sct scrobj.dll";
  run.Set(L"KeywardenCommand", command);
  ASSERT_TRUE(WaitFor([&] { return Alert.Path() == L"regsvr32 "; }));
  ASSERT_NE(Alert.DataField(), nullptr);
  EXPECT_TRUE(::IsWindowVisible(Alert.DataField()));
  EXPECT_EQ(TextOf(Alert.DataField()), command);
  SaveScreenshot(ArtifactPath(L"alert-command-line.bmp"));
  // The whole key, which the field cuts, as its hint.
  RECT keyField;
  ::GetWindowRect(Alert.Edit(2), &keyField);
  HWND tip = nullptr;
  const auto hintShown = [&] {
    for (HWND w : TopLevelWindows(Program.Pid(), L"tooltips_class32")) {
      if (::IsWindowVisible(w)) tip = w;
    }
    return tip && TextOf(tip) == L"HKEY_CURRENT_USER" + runKey;
  };
  // The mouse comes onto the field from beside it, as a user's would; again
  // if the first arrival went unseen.
  bool shown = false;
  for (int attempt = 0; attempt < 3 && !shown; ++attempt) {
    MoveMouse({keyField.left - 15, keyField.bottom + 15});
    MoveMouse({keyField.left + 20 + attempt, keyField.top + 5});
    shown = WaitFor(hintShown, 3000);
  }
  EXPECT_TRUE(shown) << (tip ? Narrow(TextOf(tip)) : "no hint shown");
  SaveScreenshot(ArtifactPath(L"alert-key-hint.bmp"));
  MoveMouse({0, 0});
  run.Delete(L"KeywardenCommand");

  // A number written under Control Panel\Desktop wakes its monitor but is no
  // entry: the fields stay on the Run entry, and "删除" deletes that entry
  // and nothing under Desktop.
  run.Set(L"Wallpaper", L"C:\\w.exe");
  ASSERT_TRUE(WaitFor([&] { return Alert.Label() == L"Wallpaper"; }));
  const DWORD one = 1;
  ::RegSetKeyValueW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", L"KeywardenNumber", REG_DWORD,
                    &one, sizeof one);
  EXPECT_FALSE(WaitFor([&] { return Alert.Key() != runKey; }, 300));
  Alert.Click(L"删除");
  HWND box = nullptr;
  ASSERT_TRUE(WaitFor([&] {
    for (HWND w : TopLevelWindows(Program.Pid(), L"#32770")) {
      if (::IsWindowVisible(w)) box = w;
    }
    return box != nullptr;
  }));
  EXPECT_EQ(TextOf(::GetDlgItem(box, 0xFFFF)), L"删除：Wallpaper");
  ::PostMessageW(::GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
  EXPECT_NE(::RegGetValueW(HKEY_CURRENT_USER, kRunKey.c_str(), L"Wallpaper", RRF_RT_ANY, nullptr,
                           nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(::RegGetValueW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", L"KeywardenNumber",
                           RRF_RT_ANY, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  ::RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", L"KeywardenNumber");

  // RunOnce made after the start, deleted, and made again: every value shows.
  const std::wstring runOnce = L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
  ::RegDeleteTreeW(HKEY_CURRENT_USER, runOnce.c_str());
  ::RegDeleteKeyW(HKEY_CURRENT_USER, runOnce.c_str());
  for (const wchar_t* path : {L"C:\\once.exe", L"C:\\again.exe"}) {
    ::RegSetKeyValueW(HKEY_CURRENT_USER, runOnce.c_str(), L"KeywardenOnce", REG_SZ, path,
                      static_cast<DWORD>((std::wcslen(path) + 1) * sizeof(wchar_t)));
    ASSERT_TRUE(WaitFor([&] { return Alert.Path() == path && Alert.Caption() == kAddedTitle; }))
        << path;
    EXPECT_EQ(Alert.Key(), L"\\" + runOnce);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, runOnce.c_str());
    ::RegDeleteKeyW(HKEY_CURRENT_USER, runOnce.c_str());
    ASSERT_TRUE(WaitFor([&] { return Alert.Caption() == kDeletedTitle; })) << path;
    EXPECT_EQ(Alert.Path(), path);
  }

  // Run renamed away and a new Run made in its place: the new Run's value
  // shows; and once the real Run is named back, it is watched again.
  {
    TRenamedKey away(kRunKey, L"KeywardenRunAway");
    ASSERT_TRUE(away.Renamed);
    ::RegSetKeyValueW(HKEY_CURRENT_USER, kRunKey.c_str(), L"KeywardenInANewRun", REG_SZ,
                      L"C:\\new-run.exe", sizeof L"C:\\new-run.exe");
    EXPECT_TRUE(WaitFor([&] { return Alert.Path() == L"C:\\new-run.exe"; }))
        << Narrow(Alert.Path());
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kRunKey.c_str());
    ::RegDeleteKeyW(HKEY_CURRENT_USER, kRunKey.c_str());
    EXPECT_TRUE(WaitFor([&] { return Alert.Caption() == kDeletedTitle; }));
  }
  {
    TRunKey back(HKEY_CURRENT_USER);
    back.Set(L"KeywardenInTheRealRun", L"C:\\real-run.exe");
    EXPECT_TRUE(WaitFor([&] { return Alert.Path() == L"C:\\real-run.exe"; }))
        << Narrow(Alert.Path());
    back.Delete(L"KeywardenInTheRealRun");
    // Shown before "确定" below, which it would otherwise bring the alert back after.
    EXPECT_TRUE(WaitFor(
        [&] { return Alert.Caption() == kDeletedTitle && Alert.Path() == L"C:\\real-run.exe"; }));
  }

  // A flood after "确定": the last value written is the one shown, and the
  // tab counts every one of them.
  Alert.Click(L"确定");
  ASSERT_TRUE(WaitFor([&] { return !Alert.Visible(); }));
  const auto pages = ChildrenOfClass(Alert.Dialog, L"TTabSheet");
  ASSERT_EQ(pages.size(), 1u);
  {
    TRunKey flood(HKEY_CURRENT_USER);
    for (int i = 0; i < 2000; ++i) {
      flood.Set(L"KeywardenFlood" + std::to_wstring(10000 + i),
                L"C:\\flood\\" + std::to_wstring(i) + L".exe");
    }
    ASSERT_TRUE(WaitFor([&] { return Alert.Path() == L"C:\\flood\\1999.exe"; }, 30000))
        << Narrow(Alert.Label()) << " " << Narrow(Alert.Path());
    EXPECT_EQ(Alert.Label(), L"KeywardenFlood11999");
    EXPECT_EQ(TextOf(pages[0]), L"启动项信息 2000/2000");
    for (int i = 0; i < 2000; ++i) flood.Delete(L"KeywardenFlood" + std::to_wstring(10000 + i));
  }
  // Its deletions, each once: a value a read passed over, as the deletions
  // moved the others up, is not reported gone. Then a flood spread over
  // three of the user's keys at once, which share a waiting thread, one key
  // made by the flood itself: none of it is lost.
  ASSERT_TRUE(WaitFor([&] { return TextOf(pages[0]) == L"启动项信息 4000/4000"; }, 30000))
      << Narrow(TextOf(pages[0]));
  Alert.Click(L"确定");
  ASSERT_TRUE(WaitFor([&] { return !Alert.Visible(); }));
  const std::wstring policies =
      L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer\\Run";
  const std::wstring spread[] = {kRunKey, L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
                                 policies};
  HKEY probe = nullptr;
  const bool policiesThere =
      ::RegOpenKeyExW(HKEY_CURRENT_USER, policies.c_str(), 0, KEY_READ, &probe) == ERROR_SUCCESS;
  if (policiesThere) ::RegCloseKey(probe);
  const auto name = [](int i) { return L"KeywardenSpread" + std::to_wstring(10000 + i); };
  for (int i = 0; i < 2000; ++i) {
    const std::wstring data = L"C:\\spread\\" + std::to_wstring(i) + L".exe";
    ::RegSetKeyValueW(HKEY_CURRENT_USER, spread[i % 3].c_str(), name(i).c_str(), REG_SZ,
                      data.c_str(), static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
  }
  EXPECT_TRUE(WaitFor([&] { return TextOf(pages[0]) == L"启动项信息 2000/2000"; }, 30000))
      << Narrow(TextOf(pages[0]));
  for (int i = 0; i < 2000; ++i) {
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, spread[i % 3].c_str(), name(i).c_str());
  }
  if (!policiesThere) ::RegDeleteKeyW(HKEY_CURRENT_USER, policies.c_str());
}

// The places beyond the seven keys report through the same alert; of a key
// where only some values start programs, the others raise nothing.
TEST_F(AlertTest, FurtherAutostartLocationsReportThroughTheSameAlert) {
  auto set = [](HKEY hive, const std::wstring& key, const wchar_t* name, DWORD type,
                const std::wstring& data) {
    ::RegSetKeyValueW(hive, key.c_str(), name, type, data.c_str(),
                      static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
  };
  const std::wstring version = L"Software\\Microsoft\\Windows\\CurrentVersion";
  const std::wstring policyRun = version + L"\\Policies\\Explorer\\Run";
  // The first location the test writes to may not have had its first look
  // yet (the start waits for HKCU's Run only), and what a key holds at that
  // look is its starting point: each try is a new value.
  bool shown = false;
  for (int attempt = 0; attempt < 10 && !shown; ++attempt) {
    const std::wstring data = L"C:\\policy" + std::to_wstring(attempt) + L".exe";
    set(HKEY_CURRENT_USER, policyRun, (L"KeywardenPolicy" + std::to_wstring(attempt)).c_str(),
        REG_SZ, data);
    shown = WaitFor([&] { return Alert.Path() == data; }, 1000);
  }
  ASSERT_TRUE(shown) << Narrow(Alert.Path());
  EXPECT_EQ(Alert.Key(), L"\\" + policyRun);
  EXPECT_EQ(Alert.Hive(), L"HKEY_CURRENT_USER");
  ::RegDeleteTreeW(HKEY_CURRENT_USER, (version + L"\\Policies").c_str());
  ::RegDeleteKeyW(HKEY_CURRENT_USER, (version + L"\\Policies").c_str());
  // Its values reported gone before the next step, whose entry must be the newest.
  ASSERT_TRUE(WaitFor([&] { return Alert.Caption() == kDeletedTitle; }));

  // "删除" answers in a box above the alert; this is its text, once answered.
  const auto answerBox = [&] {
    HWND box = nullptr;
    if (!WaitFor([&] {
          for (HWND w : TopLevelWindows(Program.Pid(), L"#32770")) {
            if (::IsWindowVisible(w)) box = w;
          }
          return box != nullptr;
        })) {
      return std::wstring(L"(no box)");
    }
    const std::wstring text = TextOf(::GetDlgItem(box, 0xFFFF));
    ::PostMessageW(::GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
    WaitFor([&] { return !::IsWindow(box) || !::IsWindowVisible(box); });
    return text;
  };

  // A step's subkey named with a character code page 936 lacks shows it as
  // "?", and "删除" still finds the subkey by its own name.
  const std::wstring steps = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnceEx";
  const std::wstring step = steps + L"\\0001\xD55C";  // a Hangul syllable
  set(HKEY_LOCAL_MACHINE, step, L"KeywardenStep", REG_SZ, L"C:\\step.exe");
  ASSERT_TRUE(WaitFor([&] { return Alert.Path() == L"C:\\step.exe"; }));
  EXPECT_EQ(Alert.Key(), L"\\" + steps + L"\\0001?");
  EXPECT_EQ(Alert.Hive(), L"HKEY_LOCAL_MACHINE");
  Alert.Click(L"删除");
  EXPECT_EQ(answerBox(), L"删除：KeywardenStep");
  EXPECT_NE(::RegGetValueW(HKEY_LOCAL_MACHINE, step.c_str(), L"KeywardenStep", RRF_RT_ANY, nullptr,
                           nullptr, nullptr),
            ERROR_SUCCESS)
      << "the value in the Hangul subkey is still there";
  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, step.c_str());
  ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, step.c_str());
  ASSERT_TRUE(WaitFor([&] { return Alert.Caption() == kDeletedTitle; }));

  // Winlogon changes for ordinary reasons: only its Shell, Userinit and
  // Taskman count. The first alert after an unrelated value is Shell's.
  const std::wstring winlogon = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
  set(HKEY_CURRENT_USER, winlogon, L"KeywardenUnrelated", REG_SZ, L"C:\\unrelated.exe");
  set(HKEY_CURRENT_USER, winlogon, L"Shell", REG_SZ, L"C:\\shell.exe");
  ASSERT_TRUE(WaitFor([&] { return Alert.Label() == L"Shell"; }));
  EXPECT_EQ(Alert.Path(), L"C:\\shell.exe");
  EXPECT_EQ(Alert.Key(), L"\\" + winlogon);
  // A user's own Shell is an entry some program put there, not a setting
  // Windows needs: "删除" deletes it.
  Alert.Click(L"删除");
  EXPECT_EQ(answerBox(), L"删除：Shell");
  EXPECT_NE(::RegGetValueW(HKEY_CURRENT_USER, winlogon.c_str(), L"Shell", RRF_RT_ANY, nullptr,
                           nullptr, nullptr),
            ERROR_SUCCESS);
  ::RegDeleteKeyValueW(HKEY_CURRENT_USER, winlogon.c_str(), L"Shell");
  ::RegDeleteKeyValueW(HKEY_CURRENT_USER, winlogon.c_str(), L"KeywardenUnrelated");
  ASSERT_TRUE(WaitFor([&] { return Alert.Caption() == kDeletedTitle; }));

  // What a program of the user writes without any rights: the command an
  // auto-elevating Windows program opens, and a COM server; then what
  // Windows starts in place of a program.
  const std::wstring classes = L"Software\\Classes";
  const std::wstring command = classes + L"\\ms-settings\\Shell\\Open\\command";
  set(HKEY_CURRENT_USER, command, nullptr, REG_SZ, L"C:\\uac.exe");
  ASSERT_TRUE(WaitFor([&] { return Alert.Path() == L"C:\\uac.exe"; }));
  EXPECT_EQ(Alert.Key(), L"\\" + command);
  EXPECT_EQ(Alert.Label(), L"(默认)");
  Alert.Click(L"删除");
  EXPECT_EQ(answerBox(), L"删除：(默认)");
  ASSERT_TRUE(WaitFor([&] { return Alert.Caption() == kDeletedTitle; }));
  // The class's default verb may name another than Open, and CurVer hand
  // the class on to another.
  const std::wstring verb = classes + L"\\ms-settings\\Shell\\KwVerb\\command";
  set(HKEY_CURRENT_USER, verb, nullptr, REG_SZ, L"C:\\verb.exe");
  ASSERT_TRUE(WaitFor([&] { return Alert.Path() == L"C:\\verb.exe"; }));
  EXPECT_EQ(Alert.Key(), L"\\" + verb);
  const std::wstring handedOn = classes + L"\\ms-settings\\CurVer";
  set(HKEY_CURRENT_USER, handedOn, nullptr, REG_SZ, L"kw.handedon");
  ASSERT_TRUE(WaitFor([&] { return Alert.Path() == L"kw.handedon"; }));
  EXPECT_EQ(Alert.Key(), L"\\" + handedOn);
  // Each deletion shown before the next step, which it would otherwise
  // overtake on the screen.
  for (const auto& [key, shown] : {std::pair{handedOn, L"kw.handedon"}, {verb, L"C:\\verb.exe"}}) {
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, key.c_str(), nullptr);
    ASSERT_TRUE(WaitFor([&] { return Alert.Caption() == kDeletedTitle && Alert.Path() == shown; }))
        << Narrow(key);
  }
  ::RegDeleteTreeW(HKEY_CURRENT_USER, (classes + L"\\ms-settings").c_str());
  ::RegDeleteKeyW(HKEY_CURRENT_USER, (classes + L"\\ms-settings").c_str());

  const std::wstring server = classes + L"\\CLSID\\{0B1D0C5E-4B1D-4E57-9E21-6B6579776172}";
  set(HKEY_CURRENT_USER, server + L"\\InprocServer32", nullptr, REG_SZ, L"C:\\com.dll");
  ASSERT_TRUE(WaitFor([&] { return Alert.Path() == L"C:\\com.dll"; }));
  EXPECT_EQ(Alert.Key(), L"\\" + server + L"\\InprocServer32");
  ::RegDeleteTreeW(HKEY_CURRENT_USER, server.c_str());
  ::RegDeleteKeyW(HKEY_CURRENT_USER, server.c_str());
  ASSERT_TRUE(WaitFor([&] { return Alert.Caption() == kDeletedTitle; }));

  const std::wstring options =
      L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options\\kwnote.exe";
  set(HKEY_LOCAL_MACHINE, options, L"Debugger", REG_SZ, L"C:\\debugger.exe");
  ASSERT_TRUE(WaitFor([&] { return Alert.Path() == L"C:\\debugger.exe"; }));
  // Where the 32-bit view shares the key (Wine's does), both views report it.
  const std::wstring optionsKey = Alert.Key();
  EXPECT_TRUE(optionsKey == L"\\" + options ||
              optionsKey == L"\\SOFTWARE\\Wow6432Node" + options.substr(std::wcslen(L"SOFTWARE")))
      << Narrow(optionsKey);
  const DWORD flag = 0x200;  // a silent exit starts the monitor process
  ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, options.c_str(), L"GlobalFlag", REG_DWORD, &flag,
                    sizeof flag);
  ASSERT_TRUE(WaitFor([&] { return Alert.Label() == L"GlobalFlag"; }));
  EXPECT_EQ(Alert.Path(), L"0x00000200");
  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, options.c_str());
  ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, options.c_str());
  ASSERT_TRUE(WaitFor([&] { return Alert.Caption() == kDeletedTitle; }));

  // A task registered through the system's own tool shows as a task; one
  // deleted through it shows gone. (Wine stores no action of what it
  // registers; a definition stored as Windows stores it shows its program.)
  const auto schtasks = [](const std::wstring& arguments) {
    const std::wstring exe = EnvironmentPath(L"SystemRoot") + L"\\system32\\schtasks.exe";
    std::wstring line = L"\"" + exe + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                          nullptr, nullptr, &startup, &process)) {
      return false;
    }
    ::CloseHandle(process.hThread);
    DWORD code = 1;
    const bool ended = ::WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0 &&
                       ::GetExitCodeProcess(process.hProcess, &code);
    ::CloseHandle(process.hProcess);
    return ended && code == 0;
  };
  const auto write = [](const std::wstring& path, const std::wstring& text) {
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    const bool whole =
        file != INVALID_HANDLE_VALUE &&
        ::WriteFile(file, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &written,
                    nullptr);
    if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
    return whole;
  };
  const std::wstring xml =
      L"\xFEFF<?xml version=\"1.0\" encoding=\"UTF-16\"?>"
      L"<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">"
      L"<Triggers><LogonTrigger><Enabled>true</Enabled></LogonTrigger></Triggers>"
      L"<Settings><Enabled>true</Enabled></Settings><Actions Context=\"Author\"><Exec>"
      L"<Command>C:\\tools\\kwtask.exe</Command><Arguments>/silent</Arguments></Exec></Actions>"
      L"</Task>";
  const std::wstring definition = EnvironmentPath(L"TEMP") + L"\\keywarden-task.xml";
  ASSERT_TRUE(write(definition, xml));
  ASSERT_TRUE(schtasks(L"/create /xml \"" + definition + L"\" /tn KeywardenTask /f"));
  ASSERT_TRUE(WaitFor([&] { return Alert.Label() == L"KeywardenTask"; })) << Narrow(Alert.Path());
  EXPECT_EQ(Alert.Hive(), L"计划任务");
  EXPECT_EQ(Alert.Key(), L"\\");
  EXPECT_EQ(Alert.Caption(), kAddedTitle);
  ASSERT_TRUE(schtasks(L"/delete /tn KeywardenTask /f"));
  EXPECT_TRUE(WaitFor(
      [&] { return Alert.Caption() == kDeletedTitle && Alert.Label() == L"KeywardenTask"; }));
  ::DeleteFileW(definition.c_str());

  // "删除" deletes a task through the Task Scheduler once the user says yes
  // to a box that names it and its program.
  const std::wstring stored =
      EnvironmentPath(L"SystemRoot") + L"\\system32\\Tasks\\KeywardenStored";
  ASSERT_TRUE(write(stored, xml));
  ASSERT_TRUE(WaitFor([&] { return Alert.Path() == L"C:\\tools\\kwtask.exe"; }));
  EXPECT_EQ(Alert.Label(), L"KeywardenStored");
  Alert.Click(L"删除");
  HWND confirm = nullptr;
  ASSERT_TRUE(WaitFor([&] {
    for (HWND w : TopLevelWindows(Program.Pid(), L"#32770")) {
      if (::IsWindowVisible(w) && ::GetDlgItem(w, IDYES)) confirm = w;
    }
    return confirm != nullptr;
  }));
  EXPECT_EQ(TextOf(::GetDlgItem(confirm, 0xFFFF)),
            L"删除计划任务“KeywardenStored”？\n程序：C:\\tools\\kwtask.exe");
  EXPECT_EQ(TextOf(::GetDlgItem(confirm, IDYES)), L"是");
  ::PostMessageW(::GetDlgItem(confirm, IDYES), BM_CLICK, 0, 0);
  // The scheduler may first have to start.
  ASSERT_TRUE(WaitFor([&] { return !::IsWindow(confirm); }, 60000));
  EXPECT_EQ(answerBox(), L"删除：KeywardenStored");
  EXPECT_EQ(::GetFileAttributesW(stored.c_str()), INVALID_FILE_ATTRIBUTES)
      << "the task is still stored";
  ::DeleteFileW(stored.c_str());
  ASSERT_TRUE(WaitFor([&] { return Alert.Caption() == kDeletedTitle; }));

  // BootExecute, a list: an item added shows as a change of its items.
  const std::wstring manager = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
  std::wstring before(4096, L'\0');
  DWORD size = static_cast<DWORD>(before.size() * sizeof(wchar_t)), type = 0;
  const bool had =
      ::RegGetValueW(HKEY_LOCAL_MACHINE, manager.c_str(), L"BootExecute", RRF_RT_REG_MULTI_SZ,
                     &type, before.data(), &size) == ERROR_SUCCESS;
  before.resize(had ? size / sizeof(wchar_t) : 0);
  std::wstring items = std::wstring(L"autocheck autochk *") + L'\0' + L"C:\\boot.exe" + L'\0';
  ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, manager.c_str(), L"BootExecute", REG_MULTI_SZ,
                    items.c_str(), static_cast<DWORD>((items.size() + 1) * sizeof(wchar_t)));
  ASSERT_TRUE(WaitFor([&] {
    return Alert.Label() == L"BootExecute" &&
           Alert.Path().find(L"C:\\boot.exe") != std::wstring::npos;
  })) << Narrow(Alert.Path());
  if (had) {
    ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, manager.c_str(), L"BootExecute", REG_MULTI_SZ,
                      before.c_str(), static_cast<DWORD>(before.size() * sizeof(wchar_t)));
  } else {
    ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, manager.c_str(), L"BootExecute");
  }
}

TEST_F(AlertTest, IsTopmostWithItsClientSizeAndComesBackWhereItWasMoved) {
  TRunKey run(HKEY_CURRENT_USER);
  run.Set(L"KeywardenMove", L"C:\\move.exe");
  ASSERT_TRUE(WaitFor([&] { return Alert.Visible() && Alert.Path() == L"C:\\move.exe"; }));
  EXPECT_TRUE(::GetWindowLongW(Alert.Dialog, GWL_EXSTYLE) & WS_EX_TOPMOST);
  RECT client;
  ::GetClientRect(Alert.Dialog, &client);
  EXPECT_EQ(client.right - client.left, 355);
  EXPECT_EQ(client.bottom - client.top, 364);

  ::SetWindowPos(Alert.Dialog, nullptr, 120, 60, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  ::PostMessageW(Alert.Dialog, WM_CLOSE, 0, 0);
  ASSERT_TRUE(WaitFor([&] { return !Alert.Visible(); }));
  run.Delete(L"KeywardenMove");
  ASSERT_TRUE(WaitFor([&] { return Alert.Visible(); }));
  RECT frame;
  ::GetWindowRect(Alert.Dialog, &frame);
  EXPECT_EQ(frame.left, 120);
  EXPECT_EQ(frame.top, 60);
  Screenshot(L"alert-moved.bmp");
}

TEST_F(AlertTest, ACloseRequestToTheMainWindowEndsTheProgram) {
  ::PostMessageW(Program.MainWindow(), WM_CLOSE, 0, 0);
  EXPECT_TRUE(Program.WaitForExit());
}

TEST_F(AlertTest, ACloseRequestToTheApplicationWindowEndsTheProgram) {
  ASSERT_NE(Program.ApplicationWindow(), nullptr);
  ::PostMessageW(Program.ApplicationWindow(), WM_CLOSE, 0, 0);
  EXPECT_TRUE(Program.WaitForExit());
}

// What is open when the session ends: the end comes inside the loop of the
// tray menu or of a message box, whose windows it must not pull away from
// under them; the program ends as cleanly as from its main loop.
enum class TOpen { Nothing, TrayMenu, MessageBox };

class SessionEndTest : public AlertTest, public ::testing::WithParamInterface<TOpen> {
 protected:
  void Open() {
    if (GetParam() == TOpen::TrayMenu) {
      ASSERT_NE(OpenTrayMenu(), nullptr);
    } else if (GetParam() == TOpen::MessageBox) {
      // The alert's delete button answers with a box.
      TRunKey run(HKEY_CURRENT_USER);
      run.Set(L"KeywardenSessionEnd", L"C:\\x.exe");
      ASSERT_TRUE(WaitFor([&] { return Alert.Visible() && Alert.Path() == L"C:\\x.exe"; }));
      HWND remove = nullptr;
      for (HWND button : ChildrenOfClass(Alert.Dialog, L"TButton")) {
        if (TextOf(button) == L"删除") remove = button;
      }
      ::PostMessageW(remove, BM_CLICK, 0, 0);
      ASSERT_TRUE(WaitFor([&] {
        for (HWND box : TopLevelWindows(Program.Pid(), L"#32770")) {
          if (::IsWindowVisible(box)) return true;
        }
        return false;
      }));
    }
  }
};

TEST_P(SessionEndTest, AtTheSessionsEndItAgreesAndEnds) {
  HWND app = Program.ApplicationWindow();
  ASSERT_NE(app, nullptr);
  Open();
  DWORD_PTR answer = 0;
  ASSERT_TRUE(
      ::SendMessageTimeoutW(app, WM_QUERYENDSESSION, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer));
  EXPECT_EQ(answer, 1u);
  ASSERT_TRUE(::SendMessageTimeoutW(app, WM_ENDSESSION, TRUE, 0, SMTO_ABORTIFHUNG, 5000, &answer));
  EXPECT_TRUE(Program.WaitForExit());  // and with the exit code of a clean end
}

TEST_P(SessionEndTest, ACloseRequestToTheApplicationWindowEndsItToo) {
  HWND app = Program.ApplicationWindow();
  ASSERT_NE(app, nullptr);
  Open();
  ::PostMessageW(app, WM_CLOSE, 0, 0);
  EXPECT_TRUE(Program.WaitForExit());
}

INSTANTIATE_TEST_SUITE_P(WhateverIsOpen, SessionEndTest,
                         ::testing::Values(TOpen::Nothing, TOpen::TrayMenu, TOpen::MessageBox));

// What another program of the user can take before the guard starts: the
// name of the guard's lock (owned here), the names its stop and change
// events once had, and a window of the class a running guard shows.
class TSquatter {
 public:
  TSquatter() {
    Hold(::CreateMutexW(nullptr, TRUE, L"Local\\KeywardenSessionGuard"));
    Hold(::CreateMutexW(nullptr, TRUE, L"EventStopAll"));
    for (int i = 1; i <= 14; ++i) {
      const std::wstring name = L"RegMonitorChange" + std::to_wstring(i);
      Hold(::CreateEventW(nullptr, FALSE, FALSE, name.c_str()));  // auto-reset: takes signals
    }
    WNDCLASSW wc{};
    wc.lpfnWndProc = ::DefWindowProcW;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = L"TForm1";
    ::RegisterClassW(&wc);
    Window = ::CreateWindowExW(0, L"TForm1", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                               wc.hInstance, nullptr);
  }
  ~TSquatter() {
    ::DestroyWindow(Window);
    ::UnregisterClassW(L"TForm1", ::GetModuleHandleW(nullptr));
    for (HANDLE h : Handles) ::CloseHandle(h);
  }

 private:
  void Hold(HANDLE h) {
    if (h) Handles.push_back(h);
  }
  std::vector<HANDLE> Handles;
  HWND Window = nullptr;
};

TEST(GuardStartTest, TakenNamesNeitherStopNorSilenceItAndOfTwoStartedAtOnceOneRuns) {
  TSquatter squatter;
  TProgram first{TKeywarden::TNoWait{}}, second{TKeywarden::TNoWait{}};
  // One gives way to the other, which runs; each ends cleanly (checked at the end).
  ASSERT_TRUE(WaitFor([&] { return first.Running() != second.Running(); }, 30000));
  TKeywarden& running = first.Running() ? first : second;
  ASSERT_TRUE(WaitFor([&] { return running.AlertWindow() != nullptr; }));
  TAlert alert(running.AlertWindow());
  // Written again and again: the monitors may still be taking their first look.
  TRunKey run(HKEY_CURRENT_USER);
  int polls = 0;
  EXPECT_TRUE(WaitFor(
      [&] {
        if (polls++ % 20 == 0) run.Set(L"KeywardenSquatted", L"C:\\" + std::to_wstring(polls));
        return alert.Label() == L"KeywardenSquatted";
      },
      20000));
  EXPECT_TRUE(first.Running() != second.Running());
  run.Delete(L"KeywardenSquatted");
}

// The message box the program `program` shows, once it is up.
HWND MessageBoxOf(const TKeywarden& program, DWORD timeoutMs = 20000) {
  HWND box = nullptr;
  WaitFor(
      [&] {
        for (HWND window : TopLevelWindows(program.Pid(), L"#32770")) {
          if (::IsWindowVisible(window)) box = window;
        }
        return box != nullptr;
      },
      timeoutMs);
  return box;
}

void Dismiss(HWND box) {
  ::PostMessageW(::GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
  WaitFor([&] { return !::IsWindow(box) || !::IsWindowVisible(box); });
}

bool Exists(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A value written while the guard was exited is shown at its next start, in
// the alert, as any added value is: even when another program holds the
// saved state open without sharing for longer than the guard asks for it.
// The state is then never taken as read: all that is found is listed, and
// the user is told why.
TEST(SavedStateTest, AValueWrittenWhileTheGuardWasExitedIsShownAtItsNextStart) {
  const std::wstring name = L"KeywardenWhileAway";
  TRunKey run(HKEY_CURRENT_USER);
  run.Delete(name);
  {
    TProgram first;
    ASSERT_TRUE(first.Running());
  }
  // The user's own state, in the folder only administrators write; none beside the program.
  ASSERT_TRUE(Exists(SavedStateFile())) << Narrow(SavedStateFile());
  EXPECT_FALSE(Exists(BesideProgram(L"Keywarden.state")));
  run.Set(name, L"C:\\away\\away.exe");

  HANDLE held = ::CreateFileW(SavedStateFile().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  TProgram second(ProgramPath(), false, true);
  ASSERT_TRUE(second.Running());
  const HWND box = MessageBoxOf(second);
  ::CloseHandle(held);
  ASSERT_NE(box, nullptr);
  const std::wstring text = TextOf(::GetDlgItem(box, 0xFFFF));
  EXPECT_EQ(text.find(L"无法读取上次保存的启动项状态（文件被占用或拒绝访问）：" + StateFolder()),
            0u)
      << Narrow(text);
  EXPECT_NE(text.find(L"因此本次启动时找到的启动项都列为新添加的。"), std::wstring::npos)
      << Narrow(text);
  SaveScreenshot(ArtifactPath(L"state-locked.bmp"));
  Dismiss(box);

  TAlert alert(second.AlertWindow());
  ASSERT_TRUE(WaitFor([&] { return alert.Visible(); }));
  ASSERT_TRUE(alert.Pick(name)) << Narrow(alert.Page());
  // The fields as a user sees them: the hidden data field left out.
  std::vector<std::wstring> fields;
  for (HWND edit : ChildrenOfClass(alert.Dialog, L"TEdit")) {
    if (::IsWindowVisible(edit)) fields.push_back(TextOf(edit));
  }
  ASSERT_EQ(fields.size(), 4u);
  EXPECT_EQ(fields[0], L"HKEY_CURRENT_USER");
  EXPECT_EQ(fields[2], L"\\" + kRunKey);
  EXPECT_EQ(fields[3], L"C:\\away\\away.exe");
  SaveScreenshot(ArtifactPath(L"while-away.bmp"));
  alert.Click(L"确定");
  ASSERT_TRUE(WaitFor([&] { return !alert.Visible(); }));
  run.Delete(name);
  ASSERT_TRUE(WaitFor([&] { return alert.Caption() == kDeletedTitle; }));
}

// The user's Startup folder, as the shell names it.
std::wstring StartupFolder() {
  wchar_t path[MAX_PATH];
  return SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_STARTUP, nullptr, 0, path)) ? path : L"";
}

void WriteFileWithTime(const std::wstring& path, const std::string& content, FILETIME time) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << Narrow(path);
  DWORD written = 0;
  ::WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
  ::SetFileTime(file, nullptr, nullptr, &time);
  ::CloseHandle(file);
}

// A file put in the Startup folder while the guard was exited is shown at
// its next start; one replaced meanwhile with other content of the same size
// and time, at the start after, as are the changes the user had not
// confirmed with "确定" when the guard ended, until the user does.
TEST(SavedStateTest, StartupFilesChangedWhileExitedAndUnconfirmedChangesAreShownAtTheNextStart) {
  const std::wstring folder = StartupFolder();
  ASSERT_FALSE(folder.empty());
  ::CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring name = L"keywarden-away.cmd";
  const std::wstring file = folder + L"\\" + name;
  ::DeleteFileW(file.c_str());
  FILETIME time{};
  {
    SYSTEMTIME at{2024, 5, 0, 17, 8, 30, 0, 0};
    ::SystemTimeToFileTime(&at, &time);
  }
  {
    TProgram first;
    ASSERT_TRUE(first.Running());
  }
  WriteFileWithTime(file, "@echo one\r\n", time);
  {
    TProgram second(ProgramPath(), false, true);
    ASSERT_TRUE(second.Running());
    TAlert alert(second.AlertWindow());
    ASSERT_TRUE(WaitFor([&] { return alert.Label() == name; })) << Narrow(alert.Label());
    EXPECT_EQ(alert.Caption(), kAddedTitle);
    EXPECT_EQ(alert.Hive(), L"启动文件夹");
    EXPECT_EQ(alert.Path(), file);
    alert.Click(L"确定");
    ASSERT_TRUE(WaitFor([&] { return !alert.Visible(); }));
  }
  EXPECT_TRUE(Exists(PendingFile()));
  WriteFileWithTime(file, "@echo two\r\n", time);  // same size, same time
  {
    TProgram third(ProgramPath(), false, true);
    ASSERT_TRUE(third.Running());
    TAlert alert(third.AlertWindow());
    ASSERT_TRUE(WaitFor([&] { return alert.Label() == name; })) << Narrow(alert.Label());
    EXPECT_EQ(alert.Path(), file);
    EXPECT_EQ(alert.Page(), L"启动项信息");  // one change: the replacement
    // Left unconfirmed: the guard ends with it in the list.
  }
  {
    TProgram fourth(ProgramPath(), false, true);
    ASSERT_TRUE(fourth.Running());
    TAlert alert(fourth.AlertWindow());
    ASSERT_TRUE(WaitFor([&] { return alert.Visible() && alert.Label() == name; }))
        << Narrow(alert.Label());
    EXPECT_EQ(alert.Path(), file);
    EXPECT_EQ(alert.Page(), L"启动项信息");
    // Shown again with its program's signer line, as when it came.
    EXPECT_TRUE(WaitFor([&] { return !alert.Signer().empty(); }));
    SaveScreenshot(ArtifactPath(L"unconfirmed-again.bmp"));
    alert.Click(L"确定");
    ASSERT_TRUE(WaitFor([&] { return !alert.Visible(); }));
  }
  {
    // Confirmed: not shown again.
    TProgram fifth(ProgramPath(), false, true);
    ASSERT_TRUE(fifth.Running());
    TAlert alert(fifth.AlertWindow());
    EXPECT_FALSE(WaitFor([&] { return alert.Visible(); }, 1500)) << Narrow(alert.Label());
    ::DeleteFileW(file.c_str());
    ASSERT_TRUE(WaitFor([&] { return alert.Caption() == kDeletedTitle; }));
    alert.Click(L"确定");
    ASSERT_TRUE(WaitFor([&] { return !alert.Visible(); }));
  }
}

// A saved state cut short is moved aside, never trusted, and the user is
// told once, with why all that is found is listed; the next save writes a
// good one in its place.
TEST(SavedStateTest, ADamagedSavedStateIsSetAsideAndTheUserIsTold) {
  {
    TProgram first;  // an earlier run: the user's folder and secret
    ASSERT_TRUE(first.Running());
  }
  const std::wstring state = SavedStateFile();
  const std::wstring aside = state + L".bad-1";
  ::DeleteFileW(aside.c_str());
  const char damaged[] = "Keywarden saved state 1\nL HKCU%5cSoftw";
  {
    HANDLE file =
        ::CreateFileW(state.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ::WriteFile(file, damaged, sizeof damaged - 1, &written, nullptr);
    ::CloseHandle(file);
  }
  {
    TProgram program(ProgramPath(), false, true);
    ASSERT_TRUE(program.Running());
    HWND box = nullptr;
    ASSERT_TRUE(WaitFor([&] {
      for (HWND window : TopLevelWindows(program.Pid(), L"#32770")) {
        if (::IsWindowVisible(window)) box = window;
      }
      return box != nullptr;
    }));
    const std::wstring text = TextOf(::GetDlgItem(box, 0xFFFF));
    EXPECT_EQ(text, L"无法读取上次保存的启动项状态，已将它另存为：" + aside +
                        L"\n因此本次启动时找到的启动项都列为新添加的。")
        << Narrow(text);
    SaveScreenshot(ArtifactPath(L"state-set-aside.bmp"));
    ::PostMessageW(::GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
    ASSERT_TRUE(WaitFor([&] { return !::IsWindow(box) || !::IsWindowVisible(box); }));
    std::string kept(64, '\0');
    HANDLE file = ::CreateFileW(aside.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD read = 0;
    ::ReadFile(file, kept.data(), static_cast<DWORD>(kept.size()), &read, nullptr);
    ::CloseHandle(file);
    EXPECT_EQ(kept.substr(0, read), std::string(damaged));
  }
  EXPECT_NE(::GetFileAttributesW(state.c_str()), INVALID_FILE_ATTRIBUTES);
  // Told once: the next start finds a good state and says nothing.
  {
    TProgram program(ProgramPath(), false, true);
    ASSERT_TRUE(program.Running());
    EXPECT_FALSE(WaitFor(
        [&] {
          for (HWND window : TopLevelWindows(program.Pid(), L"#32770")) {
            if (::IsWindowVisible(window)) return true;
          }
          return false;
        },
        1500));
  }
  ::DeleteFileW(aside.c_str());
}

}  // namespace
}  // namespace kw::e2e
