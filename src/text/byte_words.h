// Text read eight bytes at a time: the loads and the bit tricks the scanners
// of the CSV and document readers share.
#pragma once

#include <cstdint>

namespace cubewright {

/// Eight bytes as a word, byte i of the text in byte i of the word counted
/// from the least significant, whatever the machine's byte order; compilers
/// make this one load.
inline std::uint64_t load_word(const char* at) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(at);
  return std::uint64_t{bytes[0]} | std::uint64_t{bytes[1]} << 8 | std::uint64_t{bytes[2]} << 16 |
         std::uint64_t{bytes[3]} << 24 | std::uint64_t{bytes[4]} << 32 |
         std::uint64_t{bytes[5]} << 40 | std::uint64_t{bytes[6]} << 48 |
         std::uint64_t{bytes[7]} << 56;
}

/// The index of the first byte whose high bit is set in `flags`, a word of
/// load_word's order with no bits but the bytes' high ones; not 0.
inline unsigned first_flagged_byte(std::uint64_t flags) {
  // The lowest flag alone is 2^(8i + 7) for byte i; the multiplication
  // brings i into the top byte.
  const std::uint64_t lowest = flags & (~flags + 1);
  return static_cast<unsigned>((lowest >> 7) * 0x0001020304050607u >> 56);
}

}  // namespace cubewright
