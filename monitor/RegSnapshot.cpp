#include "monitor/RegSnapshot.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "monitor/ChangeTexts.h"

namespace kw {

namespace {

constexpr std::uint32_t kNameBufferSize = 256;

// One value that cannot be read leaves out that value alone. Only a key that
// is gone, or this many failures one after another, ends the enumeration early.
constexpr int kMaxFailuresInARow = 64;

bool KeyIsGone(long result) {
  return result == kErrorKeyDeleted || result == kErrorInvalidHandle;
}

std::string RemoveByte(std::string_view text, char unwanted) {
  std::string result;
  result.reserve(text.size());
  for (char c : text) {
    if (c != unwanted) result += c;
  }
  return result;
}

}  // namespace

void TakeSnapshot(IRegKey& key, TRegSnapshot& snapshot, std::vector<unsigned char>& buffer) {
  snapshot.Names.Clear();
  snapshot.Data.clear();

  std::uint32_t maxDataLen = 0;
  if (!key.QueryMaxDataLen(maxDataLen)) return;
  const std::uint64_t dataSize = std::uint64_t{maxDataLen} + 1;
  if (dataSize > buffer.max_size() || dataSize > 0xFFFFFFFFu) throw std::bad_alloc();
  if (buffer.size() < dataSize) buffer.resize(static_cast<std::size_t>(dataSize));

  char name[kNameBufferSize];
  int failures = 0;
  for (std::uint32_t index = 0;; ++index) {
    std::uint32_t nameLen = kNameBufferSize;
    std::uint32_t dataLen = static_cast<std::uint32_t>(dataSize);
    std::uint32_t type = 0;
    const long result = key.EnumValue(index, name, nameLen, type, buffer.data(), dataLen);
    if (result == kErrorNoMoreItems || KeyIsGone(result)) break;
    if (result == kErrorSuccess || result == kErrorMoreData) {
      failures = 0;
    } else if (++failures == kMaxFailuresInARow) {
      // Calls that keep failing would never reach the end of the values.
      break;
    }
    if (result != kErrorSuccess || type != kRegSz) continue;  // left out; on with the next
    snapshot.Names.Append(std::string(name, strnlen(name, kNameBufferSize)));
    const std::size_t length = dataLen > 1 ? std::min(dataLen, std::uint32_t(dataSize)) - 1 : 0;
    snapshot.Data.emplace_back(reinterpret_cast<const char*>(buffer.data()), length);
  }
}

void CompareSnapshots(TRegSnapshot& oldSnapshot, TRegSnapshot& newSnapshot,
                      TChangeData& changeData) {
  changeData.Title.clear();
  changeData.ValueName.clear();
  oldSnapshot.Names.FollowLocale();
  newSnapshot.Names.FollowLocale();
  bool difference = false;

  const TNameList& oldNames = oldSnapshot.Names;
  const TNameList& newNames = newSnapshot.Names;
  std::vector<bool> foundByOld(newNames.Count(), false);
  for (std::size_t i = 0; i < oldNames.Count(); ++i) {
    const int j = newNames.IndexOf(oldNames, i);
    if (j >= 0) foundByOld[static_cast<std::size_t>(j)] = true;
    if (j < 0) {
      changeData.Changes.push_back(PathLine(oldSnapshot.Data[i]));
      changeData.ValueName = oldNames[i];
      changeData.Title = texts::kTitleDeleted;
      difference = true;
      continue;
    }
    if (newSnapshot.Data[j] != oldSnapshot.Data[i]) {
      changeData.Changes.push_back(
          ChangedLine(oldNames[i], oldSnapshot.Data[i], newSnapshot.Data[j]));
      changeData.ValueName = oldNames[i];
      difference = true;
    }
  }

  // Counting the old names found cannot tell that nothing was added, for two
  // old names may find the same new one: a snapshot read while the key was
  // written can hold one value twice (deleted and written again behind the
  // enumeration), and names the registry keeps apart can still be equal in
  // the locale. Each new name no old one found is looked up; one that was
  // found is in the old snapshot, for equal names are equal both ways.
  for (std::size_t i = 0; i < newNames.Count(); ++i) {
    if (foundByOld[i] || oldNames.IndexOf(newNames, i) >= 0) continue;
    changeData.Changes.push_back(PathLine(newSnapshot.Data[i]));
    changeData.ValueName = newNames[i];
    changeData.Title = texts::kTitleAdded;
    difference = true;
  }

  if (difference) {
    // The old snapshot becomes the new one; swapping spares copying every entry.
    oldSnapshot.Names.Swap(newSnapshot.Names);
    oldSnapshot.Data.swap(newSnapshot.Data);
  }
}

std::string ExtractProgramPath(std::string_view command) {
  std::string_view result = command;
  if (command.find(".exe/") != std::string_view::npos) {
    result = command.substr(0, command.find(".exe") + 4);
  }
  const std::size_t slash = result.find('/');
  if (slash != std::string_view::npos) result = result.substr(0, slash);
  return std::string(result);
}

std::string StripQuotes(std::string_view text) {
  return RemoveByte(text, '"');
}

std::string StripSemicolons(std::string_view text) {
  return RemoveByte(text, ';');
}

std::string PathLine(std::string_view data) {
  return StripSemicolons(StripQuotes(ExtractProgramPath(data)));
}

std::string ChangedLine(std::string_view name, std::string_view oldData, std::string_view newData) {
  std::string line = texts::kChangedBegin;
  line.append(name).append(texts::kChangedFrom);
  line.append(oldData).append(texts::kChangedTo);
  line.append(newData).append(texts::kChangedEnd);
  return line;
}

}  // namespace kw
