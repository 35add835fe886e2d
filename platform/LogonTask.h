#pragma once
// The logon task: starts the program at the current user's logon with the
// highest rights the user holds. The program asks for administrator rights,
// and Windows does not start such a program from the Run keys at logon
// (elevation is blocked on the logon path); the task scheduler starts it.

#include <string>

#include "lib/Exception.h"

namespace kw {

class ELogonTaskException : public Exception {
 public:
  using Exception::Exception;
};

// The task of one user, in the scheduler's root folder: "\Keywarden " and
// the user's SID, so that users of one machine never take each other's. An
// uninstaller finds the SIDs as the names of the folders in the state root.
std::string LogonTaskPathFor(const std::string& sid);
// The one task earlier versions kept for the whole machine; removed when it
// is the current user's.
inline constexpr char kSharedLogonTaskPath[] = "\\Keywarden";

class ILogonTask {
 public:
  virtual ~ILogonTask() = default;
  // Registers the task that starts `programPath` (code page 936) at this
  // user's logon, replacing any earlier one. Throws ELogonTaskException.
  virtual void Register(const std::string& programPath) = 0;
  // Removes the task; one that does not exist is no failure. Throws
  // ELogonTaskException.
  virtual void Remove() = 0;
};

// Any task of the Task Scheduler, as the alert acts on one it reported.
class IScheduledTasks {
 public:
  virtual ~IScheduledTasks() = default;
  // Deletes the task named exactly `name` in the scheduler's folder
  // `folder` ("\" for the root) through the scheduler; false when that fails.
  virtual bool DeleteTask(const std::u16string& folder, const std::u16string& name) = 0;
};

// `path` in double quotes, as a command line holds a path with blanks.
std::string QuotedPath(const std::string& path);

// The task's definition in the scheduler's XML schema, in code page 936:
// a logon trigger for `userId` (a SID or a user name), run interactively as
// that user at the highest level, the quoted program as its one action, no
// time limit, not stopped on battery, a second start ignored while one runs.
std::string LogonTaskXml(const std::string& userId, const std::string& programPath);

}  // namespace kw
