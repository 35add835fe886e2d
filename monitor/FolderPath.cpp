#include "monitor/FolderPath.h"

namespace kw {

namespace {

struct TRoot {
  std::size_t Length = 0;  // of the root in the path, its last separator included
  std::u16string Name;     // with a backslash at the end
  bool Literal = false;    // \\?\: neither "." nor ".." nor "/" mean anything
};

bool IsSeparator(char16_t c, bool literal) {
  return c == u'\\' || (!literal && c == u'/');
}

bool IsLetter(char16_t c) {
  return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

// The end of the component that starts at `from`.
std::size_t ComponentEnd(const std::u16string& path, std::size_t from, bool literal) {
  while (from < path.size() && !IsSeparator(path[from], literal)) ++from;
  return from;
}

// "C:\" at `at`: its length, or 0.
std::size_t DriveRoot(const std::u16string& path, std::size_t at, bool literal) {
  if (path.size() < at + 2 || !IsLetter(path[at]) || path[at + 1] != u':') return 0;
  if (path.size() == at + 2) return 0;  // "C:" is the drive's current folder
  return IsSeparator(path[at + 2], literal) ? 3 : 0;
}

// "server\share\" at `at`: its length, or 0. A share named alone is its root.
std::size_t ShareRoot(const std::u16string& path, std::size_t at, bool literal) {
  const std::size_t server = ComponentEnd(path, at, literal);
  if (server == at || server == path.size()) return 0;
  const std::size_t share = ComponentEnd(path, server + 1, literal);
  if (share == server + 1) return 0;
  return share - at + (share < path.size() ? 1 : 0);
}

TRoot RootOf(const std::u16string& path) {
  TRoot root;
  const auto named = [&](std::size_t prefix, std::size_t length) {
    if (length == 0) return root;
    root.Length = prefix + length;
    root.Name = path.substr(0, root.Length);
    for (char16_t& c : root.Name) {
      if (IsSeparator(c, root.Literal)) c = u'\\';
    }
    if (root.Name.back() != u'\\') root.Name.push_back(u'\\');
    return root;
  };
  if (path.size() >= 2 && IsSeparator(path[0], false) && IsSeparator(path[1], false)) {
    // \\?\ and \\.\ lead to a drive, to UNC\server\share, or to a device.
    if (path.size() >= 4 && (path[2] == u'?' || path[2] == u'.') && IsSeparator(path[3], false)) {
      root.Literal = path[2] == u'?';
      if (const std::size_t drive = DriveRoot(path, 4, root.Literal)) return named(4, drive);
      if (path.compare(4, 4, u"UNC\\") == 0 || path.compare(4, 4, u"unc\\") == 0) {
        return named(8, ShareRoot(path, 8, root.Literal));
      }
      const std::size_t device = ComponentEnd(path, 4, root.Literal);
      return named(4, device == 4 ? 0 : device - 4 + (device < path.size() ? 1 : 0));
    }
    return named(2, ShareRoot(path, 2, false));
  }
  return named(0, DriveRoot(path, 0, false));
}

}  // namespace

std::vector<std::u16string> FolderChain(const std::u16string& path) {
  const TRoot root = RootOf(path);
  if (root.Name.empty()) return {};
  std::vector<std::u16string> components;
  for (std::size_t at = root.Length; at < path.size();) {
    const std::size_t end = ComponentEnd(path, at, root.Literal);
    const std::u16string component = path.substr(at, end - at);
    at = end + 1;
    if (component.empty() || (!root.Literal && component == u".")) continue;
    if (!root.Literal && component == u"..") {
      // Never above the root, as Windows resolves it.
      if (!components.empty()) components.pop_back();
      continue;
    }
    components.push_back(component);
  }
  std::vector<std::u16string> chain{root.Name};
  for (const std::u16string& component : components) {
    std::u16string next = chain.back();
    if (next.back() != u'\\') next.push_back(u'\\');
    chain.push_back(next + component);
  }
  return chain;
}

}  // namespace kw
