#pragma once
// Sound the program plays: sndPlaySound.

#include <cstdint>
#include <string>

namespace kw {

constexpr std::uint32_t kSndAsync = 0x1, kSndNoDefault = 0x2, kSndLoop = 0x8;

class ISound {
 public:
  virtual ~ISound() = default;
  virtual void Play(const std::string& path, std::uint32_t flags) = 0;
  // Stops any sound this process plays; harmless when none plays.
  virtual void Stop() = 0;
};

}  // namespace kw
