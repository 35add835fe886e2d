#include <windows.h>
// After <windows.h>, which they need.
#include <oleauto.h>
#include <sddl.h>
#include <taskschd.h>

#include "platform/win32/Win32LogonTask.h"

#include <cstdio>
#include <memory>
#include <string>
#include <utility>

#include "platform/win32/Handles.h"
#include "toolkit/win32/Text.h"

namespace kw::win32 {

namespace {

// One reference to a COM object, released on every path.
template <typename T>
class TComPtr {
 public:
  TComPtr() = default;
  TComPtr(const TComPtr&) = delete;
  TComPtr& operator=(const TComPtr&) = delete;
  ~TComPtr() {
    if (Object) Object->Release();
  }
  T* operator->() const { return Object; }
  T** Receive() { return &Object; }
  void** ReceiveVoid() { return reinterpret_cast<void**>(&Object); }

 private:
  T* Object = nullptr;
};

class TBstr {
 public:
  explicit TBstr(const std::wstring& text)
      : Text(::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
  TBstr(const TBstr&) = delete;
  TBstr& operator=(const TBstr&) = delete;
  ~TBstr() { ::SysFreeString(Text); }
  BSTR Get() const { return Text; }

 private:
  BSTR Text;
};

// COM for the length of one call. A thread that has joined COM already in
// another model keeps it; the scheduler's objects work in either.
class TComScope {
 public:
  TComScope() : Joined(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
  TComScope(const TComScope&) = delete;
  TComScope& operator=(const TComScope&) = delete;
  ~TComScope() {
    if (Joined) ::CoUninitialize();
  }

 private:
  bool Joined;
};

[[noreturn]] void Fail(const char* what, HRESULT result) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(result));
  throw ELogonTaskException(std::string("Failed to ") + what + " the logon task (error " + code +
                            ")");
}

void Check(const char* what, HRESULT result) {
  if (FAILED(result)) Fail(what, result);
}

// The root folder of the local scheduler, connected as the caller.
void OpenRootFolder(const char* what, TComPtr<ITaskService>& service,
                    TComPtr<ITaskFolder>& folder) {
  Check(what, ::CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER,
                                 IID_ITaskService, service.ReceiveVoid()));
  VARIANT none;
  ::VariantInit(&none);
  Check(what, service->Connect(none, none, none, none));
  const TBstr root(L"\\");
  Check(what, service->GetFolder(root.Get(), folder.Receive()));
}

struct TLocalFree {
  void operator()(void* memory) const { ::LocalFree(memory); }
};

// The shared task of earlier versions goes when it starts the program for
// this user (its definition names the user's SID); another user's stays.
void RemoveSharedTaskOf(ITaskFolder& folder, const std::string& sid) {
  const TBstr path(ToWide(kSharedLogonTaskPath));
  TComPtr<IRegisteredTask> task;
  if (FAILED(folder.GetTask(path.Get(), task.Receive()))) return;
  BSTR xml = nullptr;
  if (FAILED(task->get_Xml(&xml)) || !xml) return;
  const std::wstring definition(xml, ::SysStringLen(xml));
  ::SysFreeString(xml);
  if (definition.find(L"<UserId>" + ToWide(sid) + L"</UserId>") == std::wstring::npos) return;
  folder.DeleteTask(path.Get(), 0);
}

}  // namespace

std::string CurrentUserSid() {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
    Fail("register", HRESULT_FROM_WIN32(::GetLastError()));
  }
  const TKernelHandle ownedToken(token);
  DWORD size = 0;
  ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::string buffer(size, '\0');
  if (!::GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
    Fail("register", HRESULT_FROM_WIN32(::GetLastError()));
  }
  wchar_t* text = nullptr;
  if (!::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text)) {
    Fail("register", HRESULT_FROM_WIN32(::GetLastError()));
  }
  const std::unique_ptr<wchar_t, TLocalFree> ownedText(text);
  return ToAnsi(text);
}

void TWin32LogonTask::Register(const std::string& programPath) {
  const TComScope com;
  TComPtr<ITaskService> service;
  TComPtr<ITaskFolder> folder;
  OpenRootFolder("register", service, folder);
  const std::string sid = CurrentUserSid();
  const TBstr path(ToWide(LogonTaskPathFor(sid)));
  const TBstr xml(ToWide(LogonTaskXml(sid, programPath)));
  VARIANT none;
  ::VariantInit(&none);
  TComPtr<IRegisteredTask> task;
  // The user comes from the definition; an interactive token needs no password.
  Check("register", folder->RegisterTask(path.Get(), xml.Get(), TASK_CREATE_OR_UPDATE, none, none,
                                         TASK_LOGON_INTERACTIVE_TOKEN, none, task.Receive()));
  RemoveSharedTaskOf(*folder.operator->(), sid);
}

// By the task's own folder and name, which the scheduler compares as the
// file system does: no path of another task is made of them.
bool TWin32LogonTask::DeleteTask(const std::u16string& folder, const std::u16string& name) {
  if (name.empty() || name.find(u'\\') != std::u16string::npos) return false;
  try {
    const TComScope com;
    TComPtr<ITaskService> service;
    TComPtr<ITaskFolder> root;
    OpenRootFolder("delete", service, root);
    TComPtr<ITaskFolder> holder;
    const TBstr folderPath(std::wstring(folder.begin(), folder.end()));
    if (FAILED(service->GetFolder(folderPath.Get(), holder.Receive()))) return false;
    const TBstr taskName(std::wstring(name.begin(), name.end()));
    return SUCCEEDED(holder->DeleteTask(taskName.Get(), 0));
  } catch (const std::exception&) {
    return false;  // no scheduler to ask
  }
}

void TWin32LogonTask::Remove() {
  const TComScope com;
  TComPtr<ITaskService> service;
  TComPtr<ITaskFolder> folder;
  OpenRootFolder("remove", service, folder);
  const std::string sid = CurrentUserSid();
  RemoveSharedTaskOf(*folder.operator->(), sid);
  const TBstr path(ToWide(LogonTaskPathFor(sid)));
  const HRESULT result = folder->DeleteTask(path.Get(), 0);
  if (result == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) return;  // never registered
  Check("remove", result);
}

}  // namespace kw::win32
