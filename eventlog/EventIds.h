#pragma once
// The ids of the program's events. They are the ids of the texts in
// app/KeywardenEvents.mc (the program's message table), and what an
// administrator filters on: change them only together with that file and the
// README's list.

#include <cstdint>

namespace kw::events {

constexpr std::uint32_t kAdded = 1;
constexpr std::uint32_t kDeleted = 2;
constexpr std::uint32_t kChanged = 3;
constexpr std::uint32_t kNotWatched = 4;
constexpr std::uint32_t kWatchedAgain = 5;
constexpr std::uint32_t kStopped = 6;
constexpr std::uint32_t kSigner = 7;
constexpr std::uint32_t kGuardStarted = 10;
constexpr std::uint32_t kGuardStopped = 11;
constexpr std::uint32_t kEventsLost = 20;

constexpr std::uint32_t kAll[] = {kAdded,   kDeleted, kChanged,      kNotWatched,   kWatchedAgain,
                                  kStopped, kSigner,  kGuardStarted, kGuardStopped, kEventsLost};

}  // namespace kw::events
