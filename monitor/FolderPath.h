#pragma once
// Where a folder hangs in the file system's tree, worked out from its path
// alone, as Windows resolves a path: the folders it is reached through.

#include <string>
#include <vector>

namespace kw {

// The folders from the root of `path` down to the one it names, inclusive:
// for C:\Users\u that is C:\, C:\Users and C:\Users\u. Separators come out
// as backslashes, "." and ".." are resolved, and a root is a drive's (C:\)
// or a share's (\\server\share\), either also behind \\?\ or \\.\ (after
// \\?\ the path is taken as it is). Empty when the path has no such root.
std::vector<std::u16string> FolderChain(const std::u16string& path);

}  // namespace kw
