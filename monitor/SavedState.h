#pragma once
// The state last reported for every watched location, as the guard keeps it
// on disk between runs: what it compares each location with at its next
// start, so that a change made while it was not running is reported too.
//
// The file is text: a header with the format's version, a line per location
// and per entry, and an end line with a checksum of everything before it. A
// file cut short, edited, or written by another version is refused whole.

#include <map>
#include <string>

#include "monitor/RegSnapshot.h"
#include "platform/Types.h"

namespace kw {

// Each location's state by StateKeyOf.
using TSavedStates = std::map<std::string, TRegSnapshot>;

// The identity of a location in the file: its hive and its path.
std::string StateKeyOf(HiveHandle hive, const std::string& path);

std::string EncodeStates(const TSavedStates& states);

enum class TDecodeResult { Read, Damaged, OtherVersion };

// Fills `states` from `text`; leaves it empty unless the whole text reads.
TDecodeResult DecodeStates(const std::string& text, TSavedStates& states);

}  // namespace kw
