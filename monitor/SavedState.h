#pragma once
// The state last reported for every watched location, as the guard keeps it
// on disk between runs: what it compares each location with at its next
// start, so that a change made while it was not running is reported too.
//
// The file is text: a header with the format's version, a line per location
// and per entry, and an end line with a keyed checksum (HMAC-SHA-256 with the
// user's own secret) of everything before it. A file cut short, edited,
// forged without the secret, or written by another version is refused whole.

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "monitor/FolderSnapshot.h"
#include "monitor/RegSnapshot.h"
#include "platform/Types.h"

namespace kw {

// Each key location's state by StateKeyOf.
using TSavedStates = std::map<std::string, TRegSnapshot>;

// A startup folder's state: where the shell had it, and what it held.
struct TSavedFolder {
  std::u16string Path;
  TFolderSnapshot Snapshot;
};

// Each startup folder's state by FolderStateKeyOf.
using TSavedFolders = std::map<std::string, TSavedFolder>;

// Everything one file holds.
struct TStateContents {
  TSavedStates Keys;
  TSavedFolders Folders;
};

// The identity of a location in the file: its hive and its path.
std::string StateKeyOf(HiveHandle hive, const std::string& path);
// The identity of a startup folder in the file: whose folder it is.
std::string FolderStateKeyOf(TStartupFolder folder);

// `secret` keys the checksum.
std::string EncodeStates(const TStateContents& states, const std::string& secret);

enum class TDecodeResult { Read, Damaged, OtherVersion };

// Fills `states` from `text`; leaves it empty unless the whole text reads
// and its checksum is the one `secret` gives.
TDecodeResult DecodeStates(const std::string& text, const std::string& secret,
                           TStateContents& states);

// The checksummed frame every kept file shares: `tag` names the kind of
// file, `body` its lines, each ending in "\n".
std::string EncodeFrame(const std::string& tag, const std::string& body, const std::string& secret);
TDecodeResult DecodeFrame(const std::string& text, const std::string& tag,
                          const std::string& secret, std::string& body);

// The fields as the kept files write them, each after one space: text
// exactly, whatever it holds.
void AppendField(std::string& out, const std::u16string& text);
void AppendField(std::string& out, const std::string& bytes);
void AppendNumber(std::string& out, std::uint64_t value);
bool ParseField(std::string_view field, std::u16string& text);
bool ParseField(std::string_view field, std::string& bytes);
bool ParseNumber(std::string_view field, std::uint64_t& value);
// The fields of a line, split at single spaces; the first is its tag.
std::vector<std::string_view> FieldsOf(std::string_view line);

}  // namespace kw
