#pragma once
// Who may change a file or a folder: the owner and the allowing entries of
// its access list, as Windows keeps them.

#include <cstdint>
#include <string>
#include <vector>

namespace kw {

// Access rights of files and folders, as Windows numbers them.
namespace access {
inline constexpr std::uint32_t kWriteData = 0x2;     // a folder: add a file
inline constexpr std::uint32_t kAppendData = 0x4;    // a folder: add a subfolder
inline constexpr std::uint32_t kDeleteChild = 0x40;  // a folder: delete or rename what it holds
inline constexpr std::uint32_t kDelete = 0x10000;    // delete or rename it
inline constexpr std::uint32_t kWriteDac = 0x40000;
inline constexpr std::uint32_t kWriteOwner = 0x80000;
inline constexpr std::uint32_t kGenericAll = 0x10000000;
inline constexpr std::uint32_t kGenericWrite = 0x40000000;
}  // namespace access

// Well-known accounts, as SID strings.
namespace sids {
inline constexpr char kSystem[] = "S-1-5-18";
inline constexpr char kAdministrators[] = "S-1-5-32-544";
inline constexpr char kTrustedInstaller[] =
    "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
// Stand for whoever owns the object: granted to its owner.
inline constexpr char kOwnerRights[] = "S-1-3-4";
// Placeholders that an entry inherited by a new object replaces; on the
// object itself they grant no one anything.
inline constexpr char kCreatorOwner[] = "S-1-3-0";
inline constexpr char kCreatorGroup[] = "S-1-3-1";
}  // namespace sids

// One entry of an access list that allows.
struct TAllowEntry {
  std::string Sid;   // "S-1-5-32-545"; empty for an entry that names no plain SID
  std::string Name;  // the account's name as the user sees it (code page 936), or empty
  std::uint32_t Mask = 0;
  bool InheritOnly = false;  // handed to what is made inside, not the object's own
};

struct TFileSecurity {
  bool Known = false;     // false: the descriptor could not be read
  std::string Owner;      // SID string
  std::string OwnerName;  // as the user sees it, or empty
  bool HasDacl = true;    // false: no access list, which lets everyone do anything
  // The allowing entries. Denying ones are left out: an entry that allows is
  // taken to grant what it names, whatever may come before it.
  std::vector<TAllowEntry> Allowed;
};

}  // namespace kw
