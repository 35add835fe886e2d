#pragma once
// The scheduled tasks at one moment, read from the Task Scheduler's folder
// of task definitions (one file a task, below folders named as the tasks'
// folders), and what each one starts.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "monitor/FolderSnapshot.h"

namespace kw {

// Of a definition larger than this, only the digest tells changes: what it
// starts is not read.
inline constexpr std::size_t kLargestTaskDefinition = 1 << 20;

// What the first Exec action of a task starts.
struct TTaskAction {
  std::u16string Command;
  std::u16string Arguments;
};

// The first Exec action of a task definition in the scheduler's XML (UTF-16
// with or without its byte-order mark, or UTF-8); empty for a task without one.
TTaskAction FirstExecAction(std::string_view definition);

// Replaces `snapshot` by every task below `tasks`, each named by its path
// there ("\Folder\Task"), with what it starts and its definition's digest.
TListResult TakeTaskSnapshot(IFolders& folders, const std::u16string& tasks,
                             TFolderSnapshot& snapshot);

// Records CompareFolderSnapshots made of two task snapshots, as records of
// tasks: the task's folder as the key, its name as the name.
void ShowAsTasks(std::vector<TChangeRecord>& records, const IRegistryText& text);

}  // namespace kw
