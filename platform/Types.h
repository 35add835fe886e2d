#pragma once
// Plain values that cross the platform boundary. The portable core never sees
// <windows.h>; these mirror the few Win32 quantities it must name.

#include <cstdint>

namespace kw {

// A predefined registry root, 0x80000000 (HKEY_CLASSES_ROOT) to 0x80000006.
using HiveHandle = std::uint32_t;
constexpr HiveHandle kHkeyClassesRoot = 0x80000000u;
constexpr HiveHandle kHkeyCurrentUser = 0x80000001u;
constexpr HiveHandle kHkeyLocalMachine = 0x80000002u;

// A window as the platform names it; 0 is no window.
using WindowHandle = std::uintptr_t;

// Sent by a watcher to the main window when it has queued records. It carries
// nothing: the receiver takes what its own queue holds.
constexpr std::uint32_t WM_REGCHANGE = 2997;
// Posted to the main window when the signature of a program is known. It
// carries nothing either: the receiver asks the lookup.
constexpr std::uint32_t WM_SIGNERKNOWN = 2998;

// Registry result codes the core tells apart.
constexpr long kErrorSuccess = 0;
constexpr long kErrorFileNotFound = 2;
constexpr long kErrorAccessDenied = 5;
constexpr long kErrorInvalidHandle = 6;
constexpr long kErrorMoreData = 234;
constexpr long kErrorNoMoreItems = 259;
constexpr long kErrorKeyDeleted = 1018;

constexpr std::uint32_t kRegSz = 1;
constexpr std::uint32_t kRegExpandSz = 2;
constexpr std::uint32_t kRegBinary = 3;
constexpr std::uint32_t kRegDword = 4;
constexpr std::uint32_t kRegMultiSz = 7;

// Access rights for opening a key read-only.
constexpr std::uint32_t kKeyQueryValue = 0x0001;
constexpr std::uint32_t kKeyRead = 0x20019;
constexpr std::uint32_t kKeyReadNoNotify = 0x20009;
constexpr std::uint32_t kKeyAllAccess = 0xF003F;
// Selects the native 64-bit view; 32-bit Windows ignores it.
constexpr std::uint32_t kKeyWow64_64Key = 0x0100;
// Selects the 32-bit view (Wow6432Node) on 64-bit Windows.
constexpr std::uint32_t kKeyWow64_32Key = 0x0200;

// Notify filter bits.
constexpr std::uint32_t kNotifyChangeName = 0x1;
constexpr std::uint32_t kNotifyChangeAttributes = 0x2;
constexpr std::uint32_t kNotifyChangeLastSet = 0x4;
constexpr std::uint32_t kNotifyChangeSecurity = 0x8;

// Results of a wait on two events.
constexpr std::uint32_t kWaitFirst = 0;
constexpr std::uint32_t kWaitSecond = 1;
constexpr std::uint32_t kWaitTimeout = 258;
constexpr std::uint32_t kWaitFailed = 0xFFFFFFFFu;
constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;

}  // namespace kw
