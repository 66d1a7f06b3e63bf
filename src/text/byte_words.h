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

/// The high bit of each byte of `word` that is not zero, and no other bit:
/// adding 0x7F to a byte's low seven bits sets its high bit unless they are
/// all zero, and never carries into the next byte.
inline std::uint64_t nonzero_bytes(std::uint64_t word) {
  constexpr std::uint64_t low_bits = 0x7F7F7F7F7F7F7F7Fu;
  return (((word & low_bits) + low_bits) | word) & ~low_bits;
}

/// The high bit of each byte of `word` that is `byte`, and no other bit.
inline std::uint64_t bytes_equal_to(std::uint64_t word, unsigned char byte) {
  return ~nonzero_bytes(word ^ (0x0101010101010101u * byte)) & 0x8080808080808080u;
}

/// lowest_set_bit without the compiler's help: the lowest bit alone, times a
/// de Bruijn sequence, puts a distinct six-bit pattern for each index in the
/// top bits. What compilers without a count of trailing zeros use.
inline unsigned lowest_set_bit_by_table(std::uint64_t bits) {
  static constexpr unsigned char index_of[64] = {
      0,  1,  48, 2,  57, 49, 28, 3,  61, 58, 50, 42, 38, 29, 17, 4,  62, 55, 59, 36, 53, 51,
      43, 22, 45, 39, 33, 30, 24, 18, 12, 5,  63, 47, 56, 27, 60, 41, 37, 16, 54, 35, 52, 21,
      44, 32, 23, 11, 46, 26, 40, 15, 34, 20, 31, 10, 25, 14, 19, 9,  13, 8,  7,  6};
  return index_of[((bits & (~bits + 1)) * 0x03F79D71B4CB0A89u) >> 58];
}

/// The index of the lowest set bit of `bits`, which is not 0: one instruction
/// where the compiler offers it, which the scanners' hot loops feel.
inline unsigned lowest_set_bit(std::uint64_t bits) {
#if defined(__GNUC__)
  return static_cast<unsigned>(__builtin_ctzll(bits));
#else
  return lowest_set_bit_by_table(bits);
#endif
}

/// The index of the first byte whose high bit is set in `flags`, a word of
/// load_word's order with no bits but the bytes' high ones; not 0.
inline unsigned first_flagged_byte(std::uint64_t flags) { return lowest_set_bit(flags) >> 3; }

}  // namespace cubewright
