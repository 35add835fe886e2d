#include "monitor/SavedState.h"

#include <cstdint>
#include <cstdio>
#include <string_view>
#include <type_traits>
#include <vector>

namespace kw {

namespace {

constexpr std::string_view kHeaderStart = "Keywarden saved state ";
constexpr std::string_view kVersion = "1";
constexpr std::string_view kEndStart = "End ";
// Written for an empty name or data: a field is never empty, so that a
// single space always separates two.
constexpr char kEmpty = '~';
constexpr char kEscape = '%';

constexpr char kHexDigits[] = "0123456789abcdef";

// Printable ASCII stands for itself; everything else, a lone surrogate
// included, is escaped by its number: the names and data come back exactly.
bool Literal(unsigned unit) {
  return unit > 0x20 && unit < 0x7F && unit != kEscape && unit != kEmpty;
}

void AppendHex(std::string& out, unsigned value, int digits) {
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
    out += kHexDigits[(value >> shift) & 15];
}

// A string of UTF-16 units (`digits` 4) or of bytes (`digits` 2).
template <typename TString>
void AppendField(std::string& out, const TString& text, int digits) {
  out += ' ';
  if (text.empty()) {
    out += kEmpty;
    return;
  }
  for (auto c : text) {
    const unsigned unit = static_cast<std::make_unsigned_t<decltype(c)>>(c);
    if (Literal(unit)) {
      out += static_cast<char>(unit);
    } else {
      out += kEscape;
      AppendHex(out, unit, digits);
    }
  }
}

std::uint64_t Checksum(std::string_view text) {
  std::uint64_t hash = 0xcbf29ce484222325ull;  // FNV-1a
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 0x100000001b3ull;
  }
  return hash;
}

std::string ChecksumText(std::string_view text) {
  std::string out;
  const std::uint64_t sum = Checksum(text);
  AppendHex(out, static_cast<unsigned>(sum >> 32), 8);
  AppendHex(out, static_cast<unsigned>(sum & 0xFFFFFFFFu), 8);
  return out;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Reads one field written by AppendField; false for anything it never writes.
template <typename TString>
bool ParseField(std::string_view field, int digits, TString& text) {
  text.clear();
  if (field.empty()) return false;
  if (field.size() == 1 && field[0] == kEmpty) return true;
  for (std::size_t i = 0; i < field.size();) {
    unsigned unit = static_cast<unsigned char>(field[i]);
    if (unit != static_cast<unsigned>(kEscape)) {
      if (!Literal(unit)) return false;
      ++i;
    } else {
      if (field.size() - i < static_cast<std::size_t>(digits) + 1) return false;
      unit = 0;
      for (int d = 1; d <= digits; ++d) {
        const int value = HexValue(field[i + static_cast<std::size_t>(d)]);
        if (value < 0) return false;
        unit = unit * 16 + static_cast<unsigned>(value);
      }
      if (Literal(unit)) return false;  // one text, one spelling
      i += static_cast<std::size_t>(digits) + 1;
    }
    text += static_cast<typename TString::value_type>(unit);
  }
  return true;
}

bool ParseType(std::string_view field, std::uint32_t& type) {
  if (field.empty() || field.size() > 10) return false;
  std::uint64_t value = 0;
  for (char c : field) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value > 0xFFFFFFFFu) return false;
  type = static_cast<std::uint32_t>(value);
  return true;
}

// The fields of a line after its tag, split at single spaces.
std::vector<std::string_view> FieldsOf(std::string_view line) {
  std::vector<std::string_view> fields;
  for (;;) {
    const std::size_t space = line.find(' ');
    fields.push_back(line.substr(0, space));
    if (space == std::string_view::npos) return fields;
    line.remove_prefix(space + 1);
  }
}

bool ParseBody(std::string_view body, TSavedStates& states) {
  TRegSnapshot* current = nullptr;
  while (!body.empty()) {
    const std::size_t end = body.find('\n');
    if (end == std::string_view::npos) return false;
    const std::vector<std::string_view> fields = FieldsOf(body.substr(0, end));
    body.remove_prefix(end + 1);
    if (fields[0] == "L" && fields.size() == 2) {
      std::string key;
      if (!ParseField(fields[1], 2, key)) return false;
      const auto [at, inserted] = states.emplace(key, TRegSnapshot{});
      if (!inserted) return false;
      current = &at->second;
    } else if (fields[0] == "E" && fields.size() == 5 && current) {
      TRegEntry entry;
      if (!ParseField(fields[1], 4, entry.SubKey) || !ParseField(fields[2], 4, entry.Name) ||
          !ParseType(fields[3], entry.Type) || !ParseField(fields[4], 4, entry.Data)) {
        return false;
      }
      current->Entries.push_back(std::move(entry));
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

std::string StateKeyOf(HiveHandle hive, const std::string& path) {
  std::string key;
  if (hive == kHkeyLocalMachine) {
    key = "HKLM";
  } else if (hive == kHkeyCurrentUser) {
    key = "HKCU";
  } else {
    AppendHex(key, hive, 8);
  }
  return key + path;
}

std::string EncodeStates(const TSavedStates& states) {
  std::string text(kHeaderStart);
  text.append(kVersion).append("\n");
  for (const auto& [key, snapshot] : states) {
    text += 'L';
    AppendField(text, key, 2);
    text += '\n';
    for (const TRegEntry& entry : snapshot.Entries) {
      text += 'E';
      AppendField(text, entry.SubKey, 4);
      AppendField(text, entry.Name, 4);
      text.append(" ").append(std::to_string(entry.Type));
      AppendField(text, entry.Data, 4);
      text += '\n';
    }
  }
  const std::string sum = ChecksumText(text);
  text.append(kEndStart).append(sum).append("\n");
  return text;
}

TDecodeResult DecodeStates(const std::string& text, TSavedStates& states) {
  states.clear();
  const std::string_view all = text;
  const std::size_t headerEnd = all.find('\n');
  if (headerEnd == std::string_view::npos) return TDecodeResult::Damaged;
  const std::string_view header = all.substr(0, headerEnd);
  if (header.substr(0, kHeaderStart.size()) != kHeaderStart) return TDecodeResult::Damaged;
  if (header.substr(kHeaderStart.size()) != kVersion) return TDecodeResult::OtherVersion;

  // The end line: "End " and sixteen digits, the last line of the file.
  constexpr std::size_t kEndLine = 4 + 16 + 1;
  if (all.size() < headerEnd + 1 + kEndLine || all.back() != '\n') return TDecodeResult::Damaged;
  const std::string_view covered = all.substr(0, all.size() - kEndLine);
  const std::string_view endLine = all.substr(covered.size());
  if (endLine.substr(0, kEndStart.size()) != kEndStart ||
      endLine.substr(kEndStart.size(), 16) != ChecksumText(covered)) {
    return TDecodeResult::Damaged;
  }
  TSavedStates read;
  if (!ParseBody(covered.substr(headerEnd + 1), read)) return TDecodeResult::Damaged;
  states.swap(read);
  return TDecodeResult::Read;
}

}  // namespace kw
