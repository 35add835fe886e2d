#pragma once
// One running guard per user session, decided at start so that no other
// program can switch the guard off by taking the guard's lock or by posing as
// a running copy of it.

#include <windows.h>

#include "platform/win32/Handles.h"

namespace kw::win32 {

struct TClosePrivateNamespace {
  void operator()(HANDLE h) const;
};
using TNamespaceHandle = TUniqueHandle<HANDLE, nullptr, TClosePrivateNamespace>;

class TSessionGuard {
 public:
  // Decides whether this copy runs. `mainWindowClass` names the class of the
  // window by which a running copy is found.
  explicit TSessionGuard(const wchar_t* mainWindowClass);

  // A running guard of this session was found: this copy ends.
  bool AnotherGuardRuns() const { return GiveWay; }

 private:
  // Kept open for the process's life: while it is, later copies can open the
  // namespace and find the lock in it.
  TNamespaceHandle Namespace;
  // Owned by the thread that decided, the UI thread, until the process ends.
  TKernelHandle Lock;
  bool GiveWay = false;
};

}  // namespace kw::win32
