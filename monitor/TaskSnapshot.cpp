#include "monitor/TaskSnapshot.h"

#include "monitor/Digest.h"

namespace kw {

namespace {

// Deeper than any folder of tasks goes; a walk stops there.
constexpr int kDeepestFolder = 32;

void AppendUtf8(std::string_view bytes, std::u16string& text) {
  for (std::size_t i = 0; i < bytes.size();) {
    const unsigned char lead = static_cast<unsigned char>(bytes[i]);
    const int length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3
                                                           : (lead >> 3) == 30     ? 4
                                                                                   : 0;
    char32_t point = length == 1 ? lead : length == 2 ? lead & 0x1F : lead & (0x3F >> (length - 1));
    bool whole = length > 0 && i + static_cast<std::size_t>(length) <= bytes.size();
    for (int k = 1; whole && k < length; ++k) {
      const unsigned char next = static_cast<unsigned char>(bytes[i + static_cast<std::size_t>(k)]);
      whole = (next >> 6) == 2;
      point = (point << 6) | (next & 0x3F);
    }
    if (!whole) {
      text += u'\xFFFD';
      ++i;
      continue;
    }
    i += static_cast<std::size_t>(length);
    if (point >= 0x10000) {
      point -= 0x10000;
      text += static_cast<char16_t>(0xD800 + (point >> 10));
      text += static_cast<char16_t>(0xDC00 + (point & 0x3FF));
    } else {
      text += static_cast<char16_t>(point);
    }
  }
}

std::u16string TextOf(std::string_view bytes) {
  std::u16string text;
  const auto unit = [&](std::size_t i, bool bigEndian) {
    const auto a = static_cast<unsigned char>(bytes[i]), b = static_cast<unsigned char>(bytes[i + 1]);
    return static_cast<char16_t>(bigEndian ? (a << 8) | b : (b << 8) | a);
  };
  const bool littleMark = bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE';
  const bool bigMark = bytes.size() >= 2 && bytes[0] == '\xFE' && bytes[1] == '\xFF';
  // Without a mark, XML begins with '<': its high byte, 0, tells UTF-16.
  const bool littleUnmarked = bytes.size() >= 2 && bytes[0] != '\0' && bytes[1] == '\0';
  if (littleMark || bigMark || littleUnmarked) {
    for (std::size_t i = littleUnmarked ? 0 : 2; i + 1 < bytes.size(); i += 2) {
      text += unit(i, bigMark);
    }
    return text;
  }
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  AppendUtf8(bytes, text);
  return text;
}

// Comments hold no action, however much they look like one.
std::u16string WithoutComments(std::u16string text) {
  for (std::size_t start; (start = text.find(u"<!--")) != std::u16string::npos;) {
    const std::size_t end = text.find(u"-->", start + 4);
    text.erase(start, end == std::u16string::npos ? std::u16string::npos : end + 3 - start);
  }
  return text;
}

// Where the element `name` begins at or after `from`: its own name, not a
// longer one that begins alike (Exec, not ExecutionTimeLimit).
std::size_t FindElement(const std::u16string& text, std::u16string_view name, std::size_t from) {
  const std::u16string open = u"<" + std::u16string(name);
  for (std::size_t at = text.find(open, from); at != std::u16string::npos;
       at = text.find(open, at + 1)) {
    const std::size_t after = at + open.size();
    if (after < text.size() && (text[after] == u'>' || text[after] == u'/' ||
                                text[after] == u' ' || text[after] == u'\t' ||
                                text[after] == u'\r' || text[after] == u'\n')) {
      return at;
    }
  }
  return std::u16string::npos;
}

void AppendCharacter(char32_t point, std::u16string& text) {
  if (point >= 0x10000 && point <= 0x10FFFF) {
    point -= 0x10000;
    text += static_cast<char16_t>(0xD800 + (point >> 10));
    text += static_cast<char16_t>(0xDC00 + (point & 0x3FF));
  } else if (point < 0x10000) {
    text += static_cast<char16_t>(point);
  } else {
    text += u'\xFFFD';
  }
}

// The text of an element, its references replaced by what they stand for.
std::u16string Unescaped(std::u16string_view raw) {
  static const struct {
    std::u16string_view Name;
    char16_t Unit;
  } kNamed[] = {{u"amp", u'&'}, {u"lt", u'<'}, {u"gt", u'>'}, {u"quot", u'"'}, {u"apos", u'\''}};
  std::u16string text;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    const std::size_t end = raw[i] == u'&' ? raw.find(u';', i) : std::u16string_view::npos;
    if (end == std::u16string_view::npos) {
      text += raw[i];
      continue;
    }
    const std::u16string_view name = raw.substr(i + 1, end - i - 1);
    bool known = false;
    for (const auto& named : kNamed) {
      if (name == named.Name) {
        text += named.Unit;
        known = true;
      }
    }
    if (!known && name.size() > 1 && name[0] == u'#') {
      const bool hex = name[1] == u'x' || name[1] == u'X';
      char32_t point = 0;
      known = name.size() > (hex ? 2u : 1u) && name.size() <= 10;
      for (std::size_t k = hex ? 2 : 1; known && k < name.size(); ++k) {
        const char16_t c = name[k];
        const int digit = c >= u'0' && c <= u'9'                ? c - u'0'
                          : hex && c >= u'a' && c <= u'f'       ? c - u'a' + 10
                          : hex && c >= u'A' && c <= u'F'       ? c - u'A' + 10
                                                                : -1;
        known = digit >= 0;
        point = point * (hex ? 16 : 10) + static_cast<char32_t>(digit);
      }
      if (known) AppendCharacter(point, text);
    }
    if (!known) {
      text += raw[i];
      continue;
    }
    i = end;
  }
  return text;
}

std::u16string ElementText(const std::u16string& text, std::u16string_view name,
                           std::size_t from, std::size_t to) {
  const std::size_t at = FindElement(text, name, from);
  if (at == std::u16string::npos || at >= to) return {};
  const std::size_t open = text.find(u'>', at);
  if (open == std::u16string::npos || open >= to || text[open - 1] == u'/') return {};
  const std::u16string close = u"</" + std::u16string(name) + u">";
  const std::size_t end = text.find(close, open);
  if (end == std::u16string::npos || end > to) return {};
  std::u16string_view inner(text.data() + open + 1, end - open - 1);
  if (inner.substr(0, 9) == u"<![CDATA[" && inner.size() >= 12 &&
      inner.substr(inner.size() - 3) == u"]]>") {
    return std::u16string(inner.substr(9, inner.size() - 12));
  }
  return Unescaped(inner);
}

void ReadTasks(IFolders& folders, const std::u16string& folder, const std::u16string& under,
               int depth, TFolderSnapshot& snapshot, TListResult& result) {
  std::vector<TFolderFile> files;
  const TListResult listed = folders.ListFiles(folder, files);
  // A folder below that went meanwhile holds nothing; the top one is the answer.
  if (listed == TListResult::Failed || (depth == 0 && listed == TListResult::Absent)) {
    result = listed;
  }
  for (TFolderFile& file : files) {
    TFolderEntry entry;
    entry.Size = file.Size;
    entry.WriteTime = file.WriteTime;
    const std::u16string path = folder + u'\\' + file.Name;
    std::string definition;
    TSha256 sha;
    if (folders.ReadContent(path, kMaxDigested, [&](const char* data, std::size_t size) {
          sha.Add(data, size);
          if (definition.size() <= kLargestTaskDefinition) definition.append(data, size);
        })) {
      const TSha256::TDigest digest = sha.Finish();
      entry.Content = HexOf(digest.data(), digest.size());
      if (definition.size() <= kLargestTaskDefinition) {
        TTaskAction action = FirstExecAction(definition);
        entry.Program = std::move(action.Command);
        entry.Arguments = std::move(action.Arguments);
      }
    }
    entry.Name = under + u'\\' + file.Name;
    snapshot.Entries.push_back(std::move(entry));
  }
  if (listed != TListResult::Read || depth == kDeepestFolder) return;
  std::vector<std::u16string> subfolders;
  if (folders.ListFolders(folder, subfolders) == TListResult::Failed) result = TListResult::Failed;
  for (const std::u16string& name : subfolders) {
    ReadTasks(folders, folder + u'\\' + name, under + u'\\' + name, depth + 1, snapshot, result);
  }
}

}  // namespace

TTaskAction FirstExecAction(std::string_view definition) {
  const std::u16string text = WithoutComments(TextOf(definition));
  const std::size_t exec = FindElement(text, u"Exec", 0);
  if (exec == std::u16string::npos) return {};
  const std::size_t end = text.find(u"</Exec>", exec);
  const std::size_t to = end == std::u16string::npos ? text.size() : end;
  return {ElementText(text, u"Command", exec, to), ElementText(text, u"Arguments", exec, to)};
}

TListResult TakeTaskSnapshot(IFolders& folders, const std::u16string& tasks,
                             TFolderSnapshot& snapshot) {
  snapshot.Entries.clear();
  TListResult result = TListResult::Read;
  ReadTasks(folders, tasks, u"", 0, snapshot, result);
  return result;
}

void ShowAsTasks(std::vector<TChangeRecord>& records, const IRegistryText& text) {
  for (TChangeRecord& record : records) {
    const std::u16string path = record.Identity;
    const std::size_t cut = path.rfind(u'\\');
    const std::u16string folder = cut == 0 || cut == std::u16string::npos ? u"\\" : path.substr(0, cut);
    const std::u16string name = cut == std::u16string::npos ? path : path.substr(cut + 1);
    record.Where = TLocationKind::ScheduledTask;
    record.Key = folder;
    record.Location = text.ToAnsi(folder);
    record.Identity = name;
    record.IdentitySubKey = folder;
    record.ValueName = text.ToAnsi(name);
    record.SwitchHive = 0;
    record.SwitchKey.clear();
  }
}

}  // namespace kw
