#pragma once
// SHA-256 and HMAC-SHA-256 (FIPS 180-4, RFC 2104): the digest of a startup
// file's content, and the keyed checksum of the files the guard keeps, which
// a program without the key cannot make.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kw {

class TSha256 {
 public:
  static constexpr std::size_t kSize = 32;
  static constexpr std::size_t kBlock = 64;
  using TDigest = std::array<unsigned char, kSize>;

  TSha256();
  void Add(const void* data, std::size_t size);
  void Add(std::string_view text) { Add(text.data(), text.size()); }
  // The digest of everything added; the object is spent afterwards.
  TDigest Finish();

 private:
  void Block(const unsigned char* block);

  std::uint32_t State[8];
  unsigned char Pending[kBlock];
  std::size_t PendingSize = 0;
  std::uint64_t Total = 0;
};

// Lower-case hexadecimal, two digits a byte.
std::string HexOf(const unsigned char* bytes, std::size_t size);

// The digest of `text` in hexadecimal.
std::string Sha256Hex(std::string_view text);

// HMAC-SHA-256 of `text` under `key`, in hexadecimal (64 digits).
std::string HmacSha256Hex(std::string_view key, std::string_view text);

}  // namespace kw
