#include "monitor/SavedState.h"

#include <cstdint>
#include <type_traits>

#include "monitor/Digest.h"

namespace kw {

namespace {

constexpr std::string_view kProduct = "Keywarden ";
constexpr std::string_view kVersion = "2";
constexpr std::string_view kStateTag = "saved state";
constexpr std::string_view kEndStart = "End ";
constexpr std::size_t kSumDigits = 64;
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
void AppendUnits(std::string& out, const TString& text, int digits) {
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

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Reads one field written by AppendUnits; false for anything it never writes.
template <typename TString>
bool ParseUnits(std::string_view field, int digits, TString& text) {
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
  std::uint64_t value = 0;
  if (!ParseNumber(field, value) || value > 0xFFFFFFFFu) return false;
  type = static_cast<std::uint32_t>(value);
  return true;
}

bool ParseEntry(const std::vector<std::string_view>& fields, TRegEntry& entry) {
  return fields.size() == 5 && ParseField(fields[1], entry.SubKey) &&
         ParseField(fields[2], entry.Name) && ParseType(fields[3], entry.Type) &&
         ParseField(fields[4], entry.Data);
}

bool ParseFile(const std::vector<std::string_view>& fields, TFolderEntry& entry) {
  return fields.size() == 7 && ParseField(fields[1], entry.Name) &&
         ParseNumber(fields[2], entry.Size) && ParseNumber(fields[3], entry.WriteTime) &&
         ParseField(fields[4], entry.Program) && ParseField(fields[5], entry.Arguments) &&
         ParseField(fields[6], entry.Content);
}

// "L" a key location, "E" one of its entries; "D" a folder, "F" one of its files.
bool ParseBody(std::string_view body, TStateContents& states) {
  TRegSnapshot* key = nullptr;
  TFolderSnapshot* folder = nullptr;
  while (!body.empty()) {
    const std::size_t end = body.find('\n');
    if (end == std::string_view::npos) return false;
    const std::vector<std::string_view> fields = FieldsOf(body.substr(0, end));
    body.remove_prefix(end + 1);
    const std::string_view tag = fields[0];
    if (tag == "L" && fields.size() == 2) {
      std::string name;
      if (!ParseField(fields[1], name)) return false;
      const auto [at, inserted] = states.Keys.emplace(name, TRegSnapshot{});
      if (!inserted) return false;
      key = &at->second;
      folder = nullptr;
    } else if (tag == "D" && fields.size() == 3) {
      std::string name;
      TSavedFolder saved;
      if (!ParseField(fields[1], name) || !ParseField(fields[2], saved.Path)) return false;
      const auto [at, inserted] = states.Folders.emplace(name, std::move(saved));
      if (!inserted) return false;
      folder = &at->second.Snapshot;
      key = nullptr;
    } else if (tag == "E" && key) {
      TRegEntry entry;
      if (!ParseEntry(fields, entry)) return false;
      key->Entries.push_back(std::move(entry));
    } else if (tag == "F" && folder) {
      TFolderEntry entry;
      if (!ParseFile(fields, entry)) return false;
      folder->Entries.push_back(std::move(entry));
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

void AppendField(std::string& out, const std::u16string& text) {
  AppendUnits(out, text, 4);
}

void AppendField(std::string& out, const std::string& bytes) {
  AppendUnits(out, bytes, 2);
}

void AppendNumber(std::string& out, std::uint64_t value) {
  out.append(" ").append(std::to_string(value));
}

bool ParseField(std::string_view field, std::u16string& text) {
  return ParseUnits(field, 4, text);
}

bool ParseField(std::string_view field, std::string& bytes) {
  return ParseUnits(field, 2, bytes);
}

bool ParseNumber(std::string_view field, std::uint64_t& value) {
  if (field.empty() || field.size() > 20 || (field.size() > 1 && field[0] == '0')) return false;
  value = 0;
  for (char c : field) {
    if (c < '0' || c > '9') return false;
    const unsigned digit = static_cast<unsigned>(c - '0');
    if (value > (UINT64_MAX - digit) / 10) return false;
    value = value * 10 + digit;
  }
  return true;
}

std::vector<std::string_view> FieldsOf(std::string_view line) {
  std::vector<std::string_view> fields;
  for (;;) {
    const std::size_t space = line.find(' ');
    fields.push_back(line.substr(0, space));
    if (space == std::string_view::npos) return fields;
    line.remove_prefix(space + 1);
  }
}

std::string EncodeFrame(const std::string& tag, const std::string& body,
                        const std::string& secret) {
  std::string text(kProduct);
  text.append(tag).append(" ").append(kVersion).append("\n").append(body);
  const std::string sum = HmacSha256Hex(secret, text);
  text.append(kEndStart).append(sum).append("\n");
  return text;
}

TDecodeResult DecodeFrame(const std::string& text, const std::string& tag,
                          const std::string& secret, std::string& body) {
  body.clear();
  const std::string_view all = text;
  const std::size_t headerEnd = all.find('\n');
  if (headerEnd == std::string_view::npos) return TDecodeResult::Damaged;
  const std::string_view header = all.substr(0, headerEnd);
  const std::string start = std::string(kProduct) + tag + " ";
  if (header.substr(0, start.size()) != start) return TDecodeResult::Damaged;
  if (header.substr(start.size()) != kVersion) return TDecodeResult::OtherVersion;

  // The end line: "End " and the checksum's digits, the last line of the file.
  constexpr std::size_t kEndLine = 4 + kSumDigits + 1;
  if (all.size() < headerEnd + 1 + kEndLine || all.back() != '\n') return TDecodeResult::Damaged;
  const std::string_view covered = all.substr(0, all.size() - kEndLine);
  const std::string_view endLine = all.substr(covered.size());
  if (endLine.substr(0, kEndStart.size()) != kEndStart ||
      endLine.substr(kEndStart.size(), kSumDigits) != HmacSha256Hex(secret, covered)) {
    return TDecodeResult::Damaged;
  }
  body = covered.substr(headerEnd + 1);
  return TDecodeResult::Read;
}

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

std::string FolderStateKeyOf(TStartupFolder folder) {
  return folder == TStartupFolder::User ? "Startup" : "Common Startup";
}

std::string EncodeStates(const TStateContents& states, const std::string& secret) {
  std::string body;
  for (const auto& [key, snapshot] : states.Keys) {
    body += 'L';
    AppendField(body, key);
    body += '\n';
    for (const TRegEntry& entry : snapshot.Entries) {
      body += 'E';
      AppendField(body, entry.SubKey);
      AppendField(body, entry.Name);
      AppendNumber(body, entry.Type);
      AppendField(body, entry.Data);
      body += '\n';
    }
  }
  for (const auto& [key, saved] : states.Folders) {
    body += 'D';
    AppendField(body, key);
    AppendField(body, saved.Path);
    body += '\n';
    for (const TFolderEntry& entry : saved.Snapshot.Entries) {
      body += 'F';
      AppendField(body, entry.Name);
      AppendNumber(body, entry.Size);
      AppendNumber(body, entry.WriteTime);
      AppendField(body, entry.Program);
      AppendField(body, entry.Arguments);
      AppendField(body, entry.Content);
      body += '\n';
    }
  }
  return EncodeFrame(std::string(kStateTag), body, secret);
}

TDecodeResult DecodeStates(const std::string& text, const std::string& secret,
                           TStateContents& states) {
  states = {};
  std::string body;
  const TDecodeResult framed = DecodeFrame(text, std::string(kStateTag), secret, body);
  if (framed != TDecodeResult::Read) return framed;
  TStateContents read;
  if (!ParseBody(body, read)) return TDecodeResult::Damaged;
  states = std::move(read);
  return TDecodeResult::Read;
}

}  // namespace kw
