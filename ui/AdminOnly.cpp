#include "ui/AdminOnly.h"

#include <vector>

#include "toolkit/AnsiPaths.h"
#include "ui/ActionPaths.h"
#include "ui/UiTexts.h"

namespace kw {

namespace {

using namespace access;

// What lets someone put another program in the file's place.
constexpr std::uint32_t kFileRights =
    kWriteData | kAppendData | kDelete | kWriteDac | kWriteOwner | kGenericAll | kGenericWrite;
// What lets someone add a DLL or a program beside it, or take one away.
constexpr std::uint32_t kFolderRights = kFileRights | kDeleteChild;
// What lets someone move the folder below aside and make another in its
// place. Adding a file or a folder alone displaces nothing.
constexpr std::uint32_t kAncestorRights =
    kDeleteChild | kDelete | kWriteDac | kWriteOwner | kGenericAll;

bool IsAdministration(const std::string& sid) {
  return sid == sids::kSystem || sid == sids::kAdministrators || sid == sids::kTrustedInstaller;
}

bool IsPlaceholder(const std::string& sid) {
  return sid == sids::kCreatorOwner || sid == sids::kCreatorGroup;
}

TChangeCheck Check(ISystem& system, const std::string& path, std::uint32_t rights) {
  const TFileSecurity security = system.Security(path);
  if (!security.Known) return {TChangeableBy::Unreadable, path, {}};
  if (!security.HasDacl) return {TChangeableBy::Others, path, "S-1-1-0"};  // everyone
  bool ownerRightsNamed = false;
  for (const TAllowEntry& entry : security.Allowed) {
    if (entry.InheritOnly || IsPlaceholder(entry.Sid)) continue;
    const bool ownerRights = entry.Sid == sids::kOwnerRights;
    ownerRightsNamed = ownerRightsNamed || ownerRights;
    const std::string& who = ownerRights ? security.Owner : entry.Sid;
    if ((entry.Mask & rights) != 0 && !IsAdministration(who)) {
      return {TChangeableBy::Others, path, who};
    }
  }
  // The owner may read and rewrite the access list whatever it says,
  // unless an OWNER RIGHTS entry takes the place of that.
  if (!ownerRightsNamed && !IsAdministration(security.Owner)) {
    return {TChangeableBy::Others, path, security.Owner};
  }
  return {};
}

// The folders that hold `path`, the nearest first, the drive's root last
// ("C:\"); empty when a component is empty, "." or "..", which the system
// would fold away.
std::vector<std::string> FoldersAbove(const std::string& path, const ICodePage& codePage) {
  std::vector<std::string> folders;
  std::string rest = path;
  for (;;) {
    const std::size_t at = vcl::LastDelimiter("\\", rest, codePage);
    if (at == std::string::npos || at < 2) return {};
    const std::string name = rest.substr(at + 1);
    if (name.empty() || name == "." || name == "..") return {};
    if (at == 2) {
      folders.push_back(rest.substr(0, 3));
      return folders;
    }
    rest = rest.substr(0, at);
    folders.push_back(rest);
  }
}

// The file, its folder and each folder above it, as named.
TChangeCheck CheckNamedWay(ISystem& system, const ICodePage& codePage, const std::string& path) {
  const std::vector<std::string> folders = FoldersAbove(path, codePage);
  // A slash would be read as a backslash where the path is used, not here.
  if (path.find('/') != std::string::npos || !IsOnLocalDrive(system, codePage, path) ||
      folders.empty()) {
    return {TChangeableBy::NotLocal, path, {}};
  }
  TChangeCheck check = Check(system, path, kFileRights);
  for (std::size_t i = 0; i < folders.size() && check.Result == TChangeableBy::AdminsOnly; ++i) {
    check = Check(system, folders[i], i == 0 ? kFolderRights : kAncestorRights);
  }
  return check;
}

}  // namespace

// A link on the way (a junction, a symbolic link, a mount point) puts the
// file where the folders above its name do not say: the way it leads to
// must be administrators' alone as well.
TChangeCheck WhoCanChange(ISystem& system, const ICodePage& codePage, const std::string& path) {
  const TChangeCheck check = CheckNamedWay(system, codePage, path);
  if (check.Result != TChangeableBy::AdminsOnly) return check;
  const std::string found = system.FinalPath(path);
  if (found.empty()) return {TChangeableBy::Unreadable, path, {}};
  return found == path ? check : CheckNamedWay(system, codePage, found);
}

std::string ChangeCheckText(ISystem& system, const TChangeCheck& check) {
  switch (check.Result) {
    case TChangeableBy::AdminsOnly:
      return {};
    case TChangeableBy::Others:
      return system.AccountName(check.Sid) + texts::kCanChangeInfix + check.Path;
    case TChangeableBy::Unreadable:
      return texts::kRightsUnreadablePrefix + check.Path;
    case TChangeableBy::NotLocal:
      break;
  }
  return texts::kNotOnThisMachinePrefix + check.Path;
}

}  // namespace kw
