#include "preview/png.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

#include "memory/large_pages.h"
#include "threads/helper_thread.h"

namespace cubewright {
namespace {

// Deflate's fixed Huffman codes, bit-reversed as the stream sends them
// least significant bit first, with their lengths.
struct code {
  std::uint32_t bits = 0;
  std::uint32_t length = 0;
};

std::uint32_t reversed(std::uint32_t value, std::uint32_t length) {
  std::uint32_t result = 0;
  for (std::uint32_t i = 0; i < length; ++i) result |= ((value >> i) & 1u) << (length - 1 - i);
  return result;
}

code fixed_literal(std::uint32_t symbol) {
  if (symbol < 144) return {reversed(0x30 + symbol, 8), 8};
  if (symbol < 256) return {reversed(0x190 + symbol - 144, 9), 9};
  if (symbol < 280) return {reversed(symbol - 256, 7), 7};
  return {reversed(0xC0 + symbol - 280, 8), 8};
}

constexpr std::uint16_t length_base[29] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                           15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                           67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::uint8_t length_extra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                           2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::uint16_t distance_base[30] = {
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::uint8_t distance_extra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                             6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

struct code_tables {
  std::array<code, 256> literals;
  std::array<code, 259> lengths;  // by match length 3..258: symbol and extra bits together
  code end_of_block;
};

const code_tables& tables() {
  static const code_tables made = [] {
    code_tables t;
    for (std::uint32_t i = 0; i < 256; ++i) t.literals[i] = fixed_literal(i);
    for (std::uint32_t length = 3; length <= 258; ++length) {
      std::uint32_t s = 28;
      while (length_base[s] > length) --s;
      const code symbol = fixed_literal(257 + s);
      t.lengths[length] = {symbol.bits | (length - length_base[s]) << symbol.length,
                           symbol.length + length_extra[s]};
    }
    t.end_of_block = fixed_literal(256);
    return t;
  }();
  return made;
}

code distance_code(std::size_t distance) {
  std::uint32_t s = 29;
  while (distance_base[s] > distance) --s;
  return {reversed(s, 5) | static_cast<std::uint32_t>(distance - distance_base[s]) << 5,
          5u + distance_extra[s]};
}

// Writes codes into a buffer sized beforehand for the worst case, four bytes
// at a time.
struct bit_writer {
  unsigned char* next;
  std::uint64_t pending = 0;
  std::uint32_t count = 0;

  void put(code c) {
    pending |= std::uint64_t{c.bits} << count;
    count += c.length;
    if (count >= 32) {
      next[0] = static_cast<unsigned char>(pending);
      next[1] = static_cast<unsigned char>(pending >> 8);
      next[2] = static_cast<unsigned char>(pending >> 16);
      next[3] = static_cast<unsigned char>(pending >> 24);
      next += 4;
      pending >>= 32;
      count -= 32;
    }
  }
  void flush() {
    while (count > 0) {
      *next++ = static_cast<unsigned char>(pending);
      pending >>= 8;
      count = count > 8 ? count - 8 : 0;
    }
  }
};

std::uint32_t load32(const unsigned char* p) {
  std::uint32_t value;
  std::memcpy(&value, p, 4);
  return value;
}

// How many bytes from `at` on repeat those `distance` before, up to `limit`.
std::size_t match_length(const unsigned char* data, std::size_t at, std::size_t distance,
                         std::size_t limit) {
  std::size_t n = 0;
  while (n + 8 <= limit) {
    std::uint64_t a;
    std::uint64_t b;
    std::memcpy(&a, data + at + n, 8);
    std::memcpy(&b, data + at + n - distance, 8);
    if (a != b) {
      const std::uint64_t differ = a ^ b;
      std::size_t same = 0;
      // Byte order decides which end of the word holds the first byte.
      unsigned char bytes[8];
      std::memcpy(bytes, &differ, 8);
      while (bytes[same] == 0) ++same;
      return n + same;
    }
    n += 8;
  }
  while (n < limit && data[at + n] == data[at + n - distance]) ++n;
  return n;
}

std::uint32_t adler32(const unsigned char* data, std::size_t size) {
  std::uint64_t a = 1;
  std::uint64_t b = 0;
  while (size > 0) {
    // 5552 bytes is the most whose sums cannot overflow 32 bits below.
    const std::size_t block = std::min<std::size_t>(size, 5552);
    const std::size_t whole = block / 16 * 16;
    // A byte at offset k of the block's first `whole` adds to b once for
    // each byte from it to their end: whole - k times.
    std::uint64_t sum = 0;
    std::uint64_t weighted = 0;
#if defined(__SSE2__) || defined(_M_X64)
    // Sixteen bytes a step. Byte t of step j is weighed 16 (steps - 1 - j)
    // + 16 - t: the first part is 16 times the sum of every step before the
    // last, summed once per step (`earlier`), the second a multiply-add.
    const __m128i zero = _mm_setzero_si128();
    const __m128i first_weights = _mm_setr_epi16(16, 15, 14, 13, 12, 11, 10, 9);
    const __m128i last_weights = _mm_setr_epi16(8, 7, 6, 5, 4, 3, 2, 1);
    __m128i sums = zero;  // two 64-bit lanes, each below 2^32
    __m128i earlier = zero;
    __m128i products = zero;
    for (std::size_t at = 0; at < whole; at += 16) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at));
      earlier = _mm_add_epi32(earlier, sums);
      sums = _mm_add_epi32(sums, _mm_sad_epu8(bytes, zero));
      products =
          _mm_add_epi32(products, _mm_madd_epi16(_mm_unpacklo_epi8(bytes, zero), first_weights));
      products =
          _mm_add_epi32(products, _mm_madd_epi16(_mm_unpackhi_epi8(bytes, zero), last_weights));
    }
    alignas(16) std::uint32_t lanes[3][4];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes[0]), sums);
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes[1]), earlier);
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes[2]), products);
    sum = std::uint64_t{lanes[0][0]} + lanes[0][2];
    weighted = 16 * (std::uint64_t{lanes[1][0]} + lanes[1][2]) + lanes[2][0] + lanes[2][1] +
               lanes[2][2] + lanes[2][3];
#else
    for (std::size_t k = 0; k < whole; ++k) {
      sum += data[k];
      weighted += (whole - k) * std::uint64_t{data[k]};
    }
#endif
    b += whole * a + weighted;
    a += sum;
    for (std::size_t i = whole; i < block; ++i) {
      a += data[i];
      b += a;
    }
    a %= 65521;
    b %= 65521;
    data += block;
    size -= block;
  }
  return static_cast<std::uint32_t>(b << 16 | a);
}

// Data this long or longer is compressed in pieces of about piece_size
// bytes, on two threads when it may: below it, starting a thread costs more
// than the work it takes over. Each piece is a block of its own, so the
// stream is the same however many threads write it; a few pieces to a
// thread even out pieces that take longer than others.
constexpr std::size_t min_split_size = std::size_t{1} << 20;
constexpr std::size_t piece_size = std::size_t{256} << 10;

// The bytes of each piece of `size` bytes: a whole number of `far`, which
// for a picture is a row.
std::size_t piece_bytes(std::size_t size, std::size_t far) {
  if (size < min_split_size) return std::max<std::size_t>(size, 1);
  return std::max<std::size_t>(piece_size / far, 1) * far;
}

// Room for one block of `bytes` bytes whatever they hold: at most 9 bits a
// byte, the block's start and end, and an empty stored block after it.
std::size_t block_room(std::size_t bytes) { return bytes / 8 * 9 + 16; }

// Room for the stream of `size` bytes cut into pieces as piece_bytes says:
// each piece's block is written in a room of its own, then moved up to the
// end of the one before it.
std::size_t zlib_room(std::size_t size, std::size_t far) {
  const std::size_t piece = piece_bytes(size, far);
  const std::size_t pieces = std::max<std::size_t>((size + piece - 1) / piece, 1);
  return 2 + pieces * block_room(piece) + 4;
}

// The Adler-32 check of two pieces of data one after the other, from the
// checks of each and the length of the second: every byte of the second
// piece also adds the first piece's sum, less the 1 it starts from, to b.
std::uint32_t joined_adler32(std::uint32_t first, std::uint32_t second, std::size_t second_size) {
  constexpr std::uint64_t modulus = 65521;
  const std::uint64_t a1 = first & 0xFFFF;
  const std::uint64_t a2 = second & 0xFFFF;
  const std::uint64_t a = (a1 + a2 + modulus - 1) % modulus;
  const std::uint64_t b =
      ((first >> 16) + (second >> 16) + second_size % modulus * ((a1 + modulus - 1) % modulus)) %
      modulus;
  return static_cast<std::uint32_t>(b << 16 | a);
}

// Writes data[from, to) as a block with fixed codes from where `writer`
// stands, and returns where the block ends. Matches reach back before `from`, at most `far`
// bytes, and never past `to`. The last block ends the stream; any other is
// followed by an empty stored block, which ends on a whole byte, so that
// the next block can be written on its own.
unsigned char* write_block(bit_writer writer, const unsigned char* data, std::size_t from,
                           std::size_t to, std::size_t near, std::size_t far, bool last) {
  const code_tables& t = tables();
  writer.put({last ? 0x3u : 0x2u, 3});  // fixed codes, and whether last
  const code near_code = distance_code(near);
  const code far_code = distance_code(far);
  std::size_t at = from;
  while (at < to) {
    // A match is worth its codes from four bytes on; most positions of a
    // busy picture have none, and one comparison each tells.
    const bool can_match = to - at >= 4;
    const bool near_starts =
        can_match && at >= near && load32(data + at) == load32(data + at - near);
    const bool far_starts = can_match && at >= far && load32(data + at) == load32(data + at - far);
    if (!near_starts && !far_starts) {
      writer.put(t.literals[data[at]]);
      ++at;
      continue;
    }
    const std::size_t limit = std::min<std::size_t>(258, to - at);
    const std::size_t with_near = near_starts ? match_length(data, at, near, limit) : 0;
    const std::size_t with_far =
        far_starts && with_near < limit ? match_length(data, at, far, limit) : 0;
    const std::size_t best = std::max(with_near, with_far);
    writer.put(t.lengths[best]);
    writer.put(with_near >= with_far ? near_code : far_code);
    at += best;
  }
  writer.put(t.end_of_block);
  if (!last) writer.put({0x0, 3});  // a stored block, not the last
  writer.flush();
  if (!last) {
    // Its length, 0, and the length's complement.
    static constexpr unsigned char lengths[4] = {0x00, 0x00, 0xFF, 0xFF};
    writer.next = std::copy(std::begin(lengths), std::end(lengths), writer.next);
  }
  return writer.next;
}

// Writes the stream fast_zlib describes into `start`, which has zlib_room
// bytes; returns its length.
std::size_t write_zlib(unsigned char* const start, const unsigned char* data, std::size_t size,
                       std::size_t near, std::size_t far, int threads) {
  start[0] = 0x78;  // deflate, 32 KiB window
  start[1] = 0x01;  // fastest, and the header check
  const std::size_t piece = piece_bytes(size, far);
  const std::size_t pieces = std::max<std::size_t>((size + piece - 1) / piece, 1);
  const std::size_t room = block_room(piece);
  struct written {
    unsigned char* end = nullptr;
    std::uint32_t check = 0;
  };
  std::vector<written> done(pieces);
  std::atomic<std::size_t> next{0};
  const auto write_pieces = [&] {
    for (std::size_t i = next++; i < pieces; i = next++) {
      const std::size_t from = i * piece;
      const std::size_t to = std::min(size, from + piece);
      done[i].end =
          write_block(bit_writer{start + 2 + i * room}, data, from, to, near, far, i + 1 == pieces);
      done[i].check = adler32(data + from, to - from);
    }
  };
  // Without a helper, the pieces are all written here.
  std::thread helper;
  if (threads > 1 && pieces > 1) helper = start_helper_thread(write_pieces);
  write_pieces();
  if (helper.joinable()) helper.join();
  // Each piece moves up to the end of the one before; none moves past its
  // own room's start.
  unsigned char* end = done[0].end;
  std::uint32_t check = done[0].check;
  for (std::size_t i = 1; i < pieces; ++i) {
    unsigned char* const first = start + 2 + i * room;
    const auto length = static_cast<std::size_t>(done[i].end - first);
    std::memmove(end, first, length);
    end += length;
    check = joined_adler32(check, done[i].check, std::min(size, (i + 1) * piece) - i * piece);
  }
  for (int shift = 24; shift >= 0; shift -= 8) *end++ = static_cast<unsigned char>(check >> shift);
  return static_cast<std::size_t>(end - start);
}

}  // namespace

std::string fast_zlib(const unsigned char* data, std::size_t size, std::size_t near,
                      std::size_t far, int threads) {
  // Left uninitialised: a picture compresses to a fraction of that room,
  // and memory is only paid for where it is written.
  const std::unique_ptr<unsigned char, void (*)(void*)> room(
      static_cast<unsigned char*>(allocate_in_large_pages(zlib_room(size, far))), std::free);
  if (room == nullptr) throw std::bad_alloc();
  const std::size_t length = write_zlib(room.get(), data, size, near, far, threads);
  return std::string(reinterpret_cast<const char*>(room.get()), length);
}

}  // namespace cubewright

// stb_image_write filters the rows and hands the result to the compressor
// above, which writes straight into memory that stb then owns; it needs to
// know how long a row is to find the row above. stb asks for its memory
// through the hooks below. While a picture is encoded, `lent` is the
// picture's own memory, for stb's filtered rows and then for the file: see
// encode_png.
namespace {
thread_local std::size_t row_bytes_in_progress = 0;
thread_local int threads_in_progress = 1;

struct lent_memory {
  unsigned char* start = nullptr;
  std::size_t size = 0;
  bool taken = false;
};
thread_local lent_memory lent;

void* stb_malloc(std::size_t size) {
  if (lent.start != nullptr && !lent.taken && size <= lent.size) {
    lent.taken = true;
    return lent.start;
  }
  // Chiefly the compressed stream's room, touched only where it is written:
  // in large pages, its few MiB cost a fault or two rather than hundreds.
  return cubewright::allocate_in_large_pages(size);
}

void stb_free(void* block) {
  if (block != nullptr && block == lent.start) {
    lent.taken = false;
    return;
  }
  std::free(block);
}

// Only stb's own compressor grows memory, and it is not used.
[[maybe_unused]] void* stb_realloc(void* block, std::size_t size) {
  return block != nullptr && block == lent.start ? nullptr : std::realloc(block, size);
}

// The CRC-32 of PNG chunks, eight bytes a step: table k holds the CRC of a
// byte followed by k zero bytes, so the eight lookups of a step do not wait
// on each other.
const std::array<std::array<std::uint32_t, 256>, 8>& crc_tables() {
  static const auto tables = [] {
    std::array<std::array<std::uint32_t, 256>, 8> t{};
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[0][n] = c;
    }
    for (std::uint32_t n = 0; n < 256; ++n) {
      for (std::size_t k = 1; k < 8; ++k) t[k][n] = (t[k - 1][n] >> 8) ^ t[0][t[k - 1][n] & 0xFF];
    }
    return t;
  }();
  return tables;
}

unsigned int crc_for_stb(const unsigned char* data, int length) {
  const auto& t = crc_tables();
  std::uint32_t crc = 0xFFFFFFFFu;
  auto size = static_cast<std::size_t>(length);
  for (; size >= 8; size -= 8, data += 8) {
    const std::uint32_t low = crc ^ (std::uint32_t{data[0]} | std::uint32_t{data[1]} << 8 |
                                     std::uint32_t{data[2]} << 16 | std::uint32_t{data[3]} << 24);
    crc = t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^ t[4][low >> 24] ^
          t[3][data[4]] ^ t[2][data[5]] ^ t[1][data[6]] ^ t[0][data[7]];
  }
  for (; size > 0; --size, ++data) crc = (crc >> 8) ^ t[0][(crc ^ *data) & 0xFF];
  return ~crc;
}

unsigned char* compress_for_stb(unsigned char* data, int data_len, int* out_len, int) {
  const std::size_t size = static_cast<std::size_t>(data_len);
  const std::size_t row = row_bytes_in_progress;
  const std::size_t far = row >= 4 && row <= 32768 ? row : 4;
  auto* stream = static_cast<unsigned char*>(stb_malloc(cubewright::zlib_room(size, far)));
  if (stream == nullptr) return nullptr;
  *out_len =
      static_cast<int>(cubewright::write_zlib(stream, data, size, 4, far, threads_in_progress));
  return stream;
}
}  // namespace

#define STBIW_MALLOC(size) stb_malloc(size)
#define STBIW_FREE(block) stb_free(block)
#define STBIW_REALLOC(block, size) stb_realloc(block, size)
#define STBIW_ZLIB_COMPRESS compress_for_stb
#define STBIW_CRC32 crc_for_stb
#define STBI_WRITE_NO_STDIO
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

namespace cubewright {

picture_bytes encode_png(rgba_image image, int threads) {
  if (image.width <= 0 || image.height <= 0) return {};
  // Rows go unfiltered: the compressor finds the repeats a filter would
  // expose, the pixel before and the row above, by itself and faster.
  static const bool unfiltered = (stbi_write_force_png_filter = 0, true);
  static_cast<void>(unfiltered);
  struct lending_ends {
    ~lending_ends() { lent = {}; }
  } lending;
  const std::size_t bytes = image.pixels.size();
  const auto rows = static_cast<std::size_t>(image.height);
  const unsigned char* pixels = image.pixels.data();
  if (image.pixels.capacity() >= bytes + rows) {
    // The pixels move one byte a row further on, and stb writes each
    // filtered row, a byte longer than the row, where the rows were: row j
    // goes to j * (width * 4 + 1), which ends before row j + 1 starts, and
    // stb copies a row out before it writes its filtered form. So the
    // picture's memory, already paid for, holds the filtered rows.
    image.pixels.resize(bytes + rows);
    std::memmove(image.pixels.data() + rows, image.pixels.data(), bytes);
    lent = {image.pixels.data(), image.pixels.size(), false};
    pixels = image.pixels.data() + rows;
  }
  row_bytes_in_progress = static_cast<std::size_t>(image.width) * 4 + 1;
  threads_in_progress = threads;
  int size = 0;
  unsigned char* file =
      stbi_write_png_to_mem(pixels, image.width * 4, image.width, image.height, 4, &size);
  if (file == nullptr) return {};
  if (file == image.pixels.data()) {
    // Written into the picture's memory, the file is handed on in it.
    image.pixels.resize(static_cast<std::size_t>(size));
    return std::move(image.pixels);
  }
  const std::unique_ptr<unsigned char, void (*)(void*)> owned(file, stb_free);
  return picture_bytes(file, file + size);
}

}  // namespace cubewright
