#pragma once
// The local time and the user's locale formats for it.

#include <cstdint>
#include <string>

namespace kw {

struct TLocalTime {
  int Year = 0, Month = 0, Day = 0;
  int Hour = 0, Minute = 0, Second = 0, Milliseconds = 0;
};

class IClock {
 public:
  virtual ~IClock() = default;
  virtual TLocalTime Now() = 0;
  // Now as Windows keeps it in its own records: 100 ns since 1601, UTC.
  virtual std::uint64_t FileTimeNow() = 0;
  // The user's short date format, with the locale's separator.
  virtual std::string ShortDate(const TLocalTime& time) = 0;
  // The user's long time format: no milliseconds.
  virtual std::string LongTime(const TLocalTime& time) = 0;
};

}  // namespace kw
