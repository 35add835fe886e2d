#pragma once
// What the task scheduler holds for one task, read back through its COM
// interface. Wine's scheduler drops a task's triggers, principal and
// actions when it reads a definition (its reader is a stub there); those
// parts are read only where the scheduler gives them (Windows).

#include <windows.h>
// After <windows.h>, which they need.
#include <oleauto.h>
#include <sddl.h>
#include <taskschd.h>

#include <optional>
#include <string>

namespace kw::test {

// The SID of the user this process runs as, as text.
inline std::wstring OwnSid() {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return L"<no token>";
  DWORD size = 0;
  ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::string buffer(size, '\0');
  const BOOL got = ::GetTokenInformation(token, TokenUser, buffer.data(), size, &size);
  ::CloseHandle(token);
  wchar_t* text = nullptr;
  if (!got ||
      !::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text)) {
    return L"<no SID>";
  }
  std::wstring sid(text);
  ::LocalFree(text);
  return sid;
}

// The logon task of this user: "\Keywarden " and the user's SID.
inline std::wstring OwnLogonTaskPath() {
  return L"\\Keywarden " + OwnSid();
}

template <typename T>
struct TComRef {
  TComRef() = default;
  TComRef(const TComRef&) = delete;
  TComRef& operator=(const TComRef&) = delete;
  ~TComRef() {
    if (Object) Object->Release();
  }
  T* operator->() const { return Object; }
  explicit operator bool() const { return Object != nullptr; }
  T* Object = nullptr;
};

struct TBstrText {
  TBstrText() = default;
  TBstrText(const TBstrText&) = delete;
  TBstrText& operator=(const TBstrText&) = delete;
  ~TBstrText() { ::SysFreeString(Text); }
  std::wstring Get() const { return Text ? std::wstring(Text, ::SysStringLen(Text)) : L""; }
  BSTR Text = nullptr;
};

// COM on this thread for one reading.
struct TComJoin {
  TComJoin() : Joined(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
  TComJoin(const TComJoin&) = delete;
  TComJoin& operator=(const TComJoin&) = delete;
  ~TComJoin() {
    if (Joined) ::CoUninitialize();
  }
  bool Joined;
};

struct TStoredTask {
  bool Exists = false;
  std::wstring TimeLimit;
  TASK_INSTANCES_POLICY Instances = TASK_INSTANCES_PARALLEL;
  bool StopsOnBattery = true, WaitsForPower = true, StartsOnDemand = false;
  std::optional<TASK_RUNLEVEL_TYPE> RunLevel;
  std::optional<TASK_LOGON_TYPE> LogonType;
  std::optional<long> TriggerCount;
  std::optional<TASK_TRIGGER_TYPE2> FirstTrigger;
  std::optional<std::wstring> Command;
};

// The scheduler's root folder.
inline bool OpenTaskRoot(TComRef<ITaskService>& service, TComRef<ITaskFolder>& root) {
  VARIANT none;
  ::VariantInit(&none);
  if (FAILED(::CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER,
                                IID_ITaskService, reinterpret_cast<void**>(&service.Object))) ||
      FAILED(service->Connect(none, none, none, none))) {
    return false;
  }
  BSTR rootPath = ::SysAllocString(L"\\");
  const HRESULT opened = service->GetFolder(rootPath, &root.Object);
  ::SysFreeString(rootPath);
  return SUCCEEDED(opened);
}

inline void DeleteStoredTask(const wchar_t* path) {
  const TComJoin com;
  TComRef<ITaskService> service;
  TComRef<ITaskFolder> root;
  if (!OpenTaskRoot(service, root)) return;
  BSTR taskPath = ::SysAllocString(path);
  root->DeleteTask(taskPath, 0);
  ::SysFreeString(taskPath);
}

// Reads the task at `path`, such as OwnLogonTaskPath().
inline TStoredTask ReadStoredTask(const wchar_t* path) {
  const TComJoin com;
  TStoredTask stored;
  TComRef<ITaskService> service;
  TComRef<ITaskFolder> root;
  if (!OpenTaskRoot(service, root)) return stored;
  TComRef<IRegisteredTask> task;
  BSTR taskPath = ::SysAllocString(path);
  const HRESULT found = root->GetTask(taskPath, &task.Object);
  ::SysFreeString(taskPath);
  if (FAILED(found)) return stored;
  stored.Exists = true;
  TComRef<ITaskDefinition> definition;
  if (FAILED(task->get_Definition(&definition.Object))) return stored;

  TComRef<ITaskSettings> settings;
  if (SUCCEEDED(definition->get_Settings(&settings.Object))) {
    TBstrText limit;
    settings->get_ExecutionTimeLimit(&limit.Text);
    stored.TimeLimit = limit.Get();
    settings->get_MultipleInstances(&stored.Instances);
    VARIANT_BOOL flag = VARIANT_FALSE;
    settings->get_StopIfGoingOnBatteries(&flag);
    stored.StopsOnBattery = flag != VARIANT_FALSE;
    settings->get_DisallowStartIfOnBatteries(&flag);
    stored.WaitsForPower = flag != VARIANT_FALSE;
    settings->get_AllowDemandStart(&flag);
    stored.StartsOnDemand = flag != VARIANT_FALSE;
  }
  TComRef<IPrincipal> principal;
  if (SUCCEEDED(definition->get_Principal(&principal.Object))) {
    TASK_RUNLEVEL_TYPE level;
    if (SUCCEEDED(principal->get_RunLevel(&level))) stored.RunLevel = level;
    TASK_LOGON_TYPE logon;
    if (SUCCEEDED(principal->get_LogonType(&logon))) stored.LogonType = logon;
  }
  TComRef<ITriggerCollection> triggers;
  long count = 0;
  if (SUCCEEDED(definition->get_Triggers(&triggers.Object)) &&
      SUCCEEDED(triggers->get_Count(&count))) {
    stored.TriggerCount = count;
    TComRef<ITrigger> first;
    TASK_TRIGGER_TYPE2 type;
    if (count > 0 && SUCCEEDED(triggers->get_Item(1, &first.Object)) &&
        SUCCEEDED(first->get_Type(&type))) {
      stored.FirstTrigger = type;
    }
  }
  TComRef<IActionCollection> actions;
  long actionCount = 0;
  TComRef<IAction> action;
  TComRef<IExecAction> exec;
  TBstrText command;
  if (SUCCEEDED(definition->get_Actions(&actions.Object)) &&
      SUCCEEDED(actions->get_Count(&actionCount)) && actionCount == 1 &&
      SUCCEEDED(actions->get_Item(1, &action.Object)) &&
      SUCCEEDED(action->QueryInterface(IID_IExecAction, reinterpret_cast<void**>(&exec.Object))) &&
      SUCCEEDED(exec->get_Path(&command.Text))) {
    stored.Command = command.Get();
  }
  return stored;
}

}  // namespace kw::test
