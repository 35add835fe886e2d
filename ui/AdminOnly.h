#pragma once
// Whether only administrators can change a program that the guard starts
// with administrator rights: the logon task and the scan tool. Any program
// of the user that can change the file, put a DLL or another program into
// its folder, or move the folder or one above it aside, would otherwise run
// with those rights, without a prompt.

#include <string>

#include "platform/CodePage.h"
#include "platform/System.h"

namespace kw {

enum class TChangeableBy {
  AdminsOnly,  // SYSTEM, Administrators and TrustedInstaller alone
  Others,      // some other account, named by Sid
  Unreadable,  // a security descriptor could not be read: taken as open
  NotLocal,    // no full path on a drive of this machine
};

struct TChangeCheck {
  TChangeableBy Result = TChangeableBy::AdminsOnly;
  std::string Path;  // the file or folder that decided it
  std::string Sid;   // with Others: the account that can change it
};

// Checks the file `path`, its folder and each folder above it, up to the
// drive's root. The file and its folder may not be written, deleted or
// have their access list or owner changed by anyone else; a folder above
// may not have what it holds deleted or renamed, nor itself. An owner who is
// someone else can always rewrite the access list, unless an OWNER RIGHTS
// entry says what the owner may do.
TChangeCheck WhoCanChange(ISystem& system, const ICodePage& codePage, const std::string& path);

// Why `check` is no AdminsOnly, for the user (code page 936); empty when it is.
std::string ChangeCheckText(ISystem& system, const TChangeCheck& check);

}  // namespace kw
