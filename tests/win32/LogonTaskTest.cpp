// The logon task in the scheduler's store under Wine, read back as another
// program (an uninstaller, the user's tools) would see it.

#include <gtest/gtest.h>
#include <windows.h>

#include "platform/win32/Win32LogonTask.h"
#include "tests/win32/StoredTask.h"
#include "toolkit/win32/Text.h"

namespace kw::test {
namespace {

class LogonTaskTest : public ::testing::Test {
 protected:
  ~LogonTaskTest() override {
    DeleteStoredTask(OwnLogonTaskPath().c_str());
    DeleteStoredTask(L"\\Keywarden");
  }
  win32::TWin32LogonTask Task;
};

void ExpectStartsAtLogonElevated(const TStoredTask& stored, const std::wstring& program) {
  ASSERT_TRUE(stored.Exists);
  EXPECT_EQ(stored.TimeLimit, L"PT0S");
  EXPECT_EQ(stored.Instances, TASK_INSTANCES_IGNORE_NEW);
  EXPECT_FALSE(stored.StopsOnBattery);
  EXPECT_FALSE(stored.WaitsForPower);
  EXPECT_TRUE(stored.StartsOnDemand);
  // Read back only on Windows (see StoredTask.h).
  EXPECT_EQ(stored.RunLevel.value_or(TASK_RUNLEVEL_HIGHEST), TASK_RUNLEVEL_HIGHEST);
  EXPECT_EQ(stored.LogonType.value_or(TASK_LOGON_INTERACTIVE_TOKEN), TASK_LOGON_INTERACTIVE_TOKEN);
  EXPECT_EQ(stored.TriggerCount.value_or(1), 1);
  EXPECT_EQ(stored.FirstTrigger.value_or(TASK_TRIGGER_LOGON), TASK_TRIGGER_LOGON);
  const std::wstring quoted = L"\"" + program + L"\"";
  EXPECT_EQ(stored.Command.value_or(quoted), quoted);
}

TEST_F(LogonTaskTest, RegisteredReplacedAndRemoved) {
  const std::wstring first = L"C:\\Program Files\\注册表卫士\\Keywarden.exe";
  Task.Register(win32::ToAnsi(first));
  ExpectStartsAtLogonElevated(ReadStoredTask(OwnLogonTaskPath().c_str()), first);
  const std::wstring moved = L"D:\\R&D 工具\\Keywarden.exe";
  Task.Register(win32::ToAnsi(moved));  // the program moved: the task follows
  ExpectStartsAtLogonElevated(ReadStoredTask(OwnLogonTaskPath().c_str()), moved);
  Task.Remove();
  EXPECT_FALSE(ReadStoredTask(OwnLogonTaskPath().c_str()).Exists);
  EXPECT_NO_THROW(Task.Remove());  // gone already: no failure
}

// One task per user, named by the SID: users of one machine never take each
// other's. The task earlier versions shared goes when it is this user's.
TEST_F(LogonTaskTest, TheTaskIsTheCallersOwnAndTheSharedOneOfTheCallerGoes) {
  const std::string sid = win32::CurrentUserSid();
  EXPECT_EQ(sid.rfind("S-1-5-", 0), 0u) << sid;
  EXPECT_EQ(LogonTaskPathFor(sid), "\\Keywarden " + sid);
  EXPECT_EQ(win32::ToWide(LogonTaskPathFor(sid)), OwnLogonTaskPath());

  {
    const TComJoin com;
    TComRef<ITaskService> service;
    TComRef<ITaskFolder> root;
    ASSERT_TRUE(OpenTaskRoot(service, root));
    BSTR path = ::SysAllocString(L"\\Keywarden");
    BSTR xml = ::SysAllocString(win32::ToWide(LogonTaskXml(sid, "C:\\old\\Keywarden.exe")).c_str());
    VARIANT none;
    ::VariantInit(&none);
    TComRef<IRegisteredTask> task;
    const HRESULT made = root->RegisterTask(path, xml, TASK_CREATE_OR_UPDATE, none, none,
                                            TASK_LOGON_INTERACTIVE_TOKEN, none, &task.Object);
    ::SysFreeString(xml);
    ::SysFreeString(path);
    ASSERT_TRUE(SUCCEEDED(made)) << std::hex << made;
  }
  const TStoredTask shared = ReadStoredTask(L"\\Keywarden");
  ASSERT_TRUE(shared.Exists);
  Task.Register("C:\\new\\Keywarden.exe");
  EXPECT_TRUE(ReadStoredTask(OwnLogonTaskPath().c_str()).Exists);
  // Wine's scheduler gives no principal back (see StoredTask.h): there the
  // shared task cannot be told to be this user's, and stays.
  EXPECT_EQ(ReadStoredTask(L"\\Keywarden").Exists, !shared.RunLevel.has_value());
}

}  // namespace
}  // namespace kw::test
