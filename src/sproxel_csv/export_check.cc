#include "sproxel_csv/export_check.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

#include "text/byte_words.h"

namespace cubewright {
namespace {

enum class fault_kind { none, header, cell, short_end, extra };

// What the scan of a text found: nothing wrong, or the first fault.
struct scan_result {
  fault_kind kind = fault_kind::none;
  const char* at = nullptr;  // where the wrong field starts, or the end of the text
  std::size_t length = 0;    // the wrong field's length; 0 for the end of the text
  std::uint64_t cells = 0;   // the cells the header declares
  std::uint64_t read = 0;    // the cells read before the end
};

// A byte's classes in a cell, a bit each, set when the byte is NOT of the
// class, so that ORing the bytes of a cell gives 0 for a good one.
constexpr unsigned not_hex = 1;
constexpr unsigned not_hash = 2;
constexpr unsigned not_separator = 4;  // "," or LF

constexpr std::array<std::uint8_t, 256> byte_classes = [] {
  std::array<std::uint8_t, 256> classes{};
  for (unsigned c = 0; c < 256; ++c) {
    const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    classes[c] = static_cast<std::uint8_t>((hex ? 0 : not_hex) | (c == '#' ? 0 : not_hash) |
                                           (c == ',' || c == '\n' ? 0 : not_separator));
  }
  return classes;
}();

unsigned byte_class(char c) { return byte_classes[static_cast<unsigned char>(c)]; }

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// Cells of ten bytes ("#", eight digits, "," or LF) checked at once by the
// fast path: without a branch on each, and few enough that the CR LF at the
// end of a row costs little of the work.
constexpr std::size_t block_cells = 8;
constexpr std::size_t cell_bytes = 10;

// A bit for each of the block_cells cells of ten bytes from `p` that is not
// of that shape, bit i for cell i.
unsigned irregular_cells(const char* p) {
  unsigned irregular = 0;
  for (std::size_t i = 0; i < block_cells; ++i) {
    const char* cell = p + cell_bytes * i;
    const unsigned digits = byte_class(cell[1]) | byte_class(cell[2]) | byte_class(cell[3]) |
                            byte_class(cell[4]) | byte_class(cell[5]) | byte_class(cell[6]) |
                            byte_class(cell[7]) | byte_class(cell[8]);
    const unsigned wrong = (digits & not_hex) | (byte_class(cell[0]) & not_hash) |
                           (byte_class(cell[9]) & not_separator);
    irregular |= unsigned{wrong != 0} << i;
  }
  return irregular;
}

// The first byte from `p` that is not a separator of an empty field.
const char* skip_empty_fields(const char* p, const char* end) {
  while (p != end) {
    if (*p == ',' || *p == '\n') {
      ++p;
    } else if (*p == '\r' && end - p >= 2 && p[1] == '\n') {
      p += 2;
    } else {
      break;
    }
  }
  return p;
}

// A field: its bytes [start, stop), and where the next one starts, after
// its separator.
struct field {
  const char* start = nullptr;
  const char* stop = nullptr;
  const char* next = nullptr;
  bool open = false;  // cut by the end of a start, so more bytes may follow

  std::size_t size() const { return static_cast<std::size_t>(stop - start); }
};

// The field from `p`. When `cut`, the end of the text may cut the text short:
// a CR there would be the line end's, and a field reaching it is open.
field read_field(const char* p, const char* end, bool cut) {
  field f;
  f.start = p;
  while (p != end && *p != ',' && *p != '\n') ++p;
  f.next = p == end ? p : p + 1;
  f.stop = p;
  if (f.stop != f.start && f.stop[-1] == '\r' && (p != end ? *p == '\n' : cut)) --f.stop;
  f.open = cut && p == end && f.stop == end;
  return f;
}

// Whether the field is a header number, its value in `value`: blanks, digits
// and blanks, from 1 to 2147483647. An open field may be short of its digits
// or its value so far 0, as long as some digit has begun.
bool read_side(const field& f, std::uint64_t& value) {
  const char* p = f.start;
  while (p != f.stop && is_blank(*p)) ++p;
  const char* const digits = p;
  value = 0;
  for (; p != f.stop && *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + static_cast<unsigned>(*p - '0');
    if (value > std::uint64_t{std::numeric_limits<std::int32_t>::max()}) return false;
  }
  if (p == digits) return false;
  const char* const after_digits = p;
  while (p != f.stop && is_blank(*p)) ++p;
  if (p != f.stop) return false;
  return value >= 1 || (f.open && after_digits == f.stop);
}

// Whether the field is a cell, "#" and eight hex digits; an open field may
// be any start of one.
bool is_cell(const field& f) {
  const std::size_t size = f.size();
  if (size != 9 && !(f.open && size <= 9)) return false;
  unsigned classes = byte_class(f.start[0]) & not_hash;
  for (std::size_t i = 1; i < size; ++i) classes |= byte_class(f.start[i]) & not_hex;
  return classes == 0;
}

scan_result fault_at(fault_kind kind, const field& f) { return {kind, f.start, f.size(), 0, 0}; }

// The first fault of `text`, after its byte order mark; `cut` when the text
// may be cut short anywhere, which is then no fault.
scan_result scan(std::string_view text, bool cut) {
  const char* p = text.data();
  const char* const end = p + text.size();
  std::uint64_t cells = 1;
  for (int side = 0; side < 3; ++side) {
    p = skip_empty_fields(p, end);
    const field f = read_field(p, end, cut);
    if (f.size() == 0) return {fault_kind::header, end, 0, 0, 0};
    std::uint64_t value = 0;
    if (!read_side(f, value)) return fault_at(fault_kind::header, f);
    // The first two sides give at most 2^62 cells, so only the third may
    // take the product past 64 bits.
    if (value != 0 && cells > std::numeric_limits<std::uint64_t>::max() / value) {
      return fault_at(fault_kind::header, f);
    }
    cells *= value;
    p = f.next;
  }
  std::uint64_t left = cells;
  for (;;) {
    // The fast path: whole blocks of cells, and the good cells of a block
    // up to the first that is not ten bytes of the common shape.
    while (left >= block_cells && static_cast<std::size_t>(end - p) >= block_cells * cell_bytes) {
      const unsigned irregular = irregular_cells(p);
      const std::size_t good = irregular == 0 ? block_cells : lowest_set_bit(irregular);
      p += good * cell_bytes;
      left -= good;
      if (irregular != 0) break;
    }
    // One field by the general rule.
    p = skip_empty_fields(p, end);
    const field f = read_field(p, end, cut);
    if (f.size() == 0) break;  // the end, or a CR cut from its LF
    if (left == 0) {
      scan_result extra = fault_at(fault_kind::extra, f);
      extra.cells = cells;
      return extra;
    }
    if (!is_cell(f)) return fault_at(fault_kind::cell, f);
    --left;
    p = f.next;
  }
  if (left != 0 && !cut) return {fault_kind::short_end, end, 0, cells, cells - left};
  return {};
}

constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";

std::string_view without_byte_order_mark(std::string_view text) {
  if (text.substr(0, byte_order_mark.size()) == byte_order_mark) {
    text.remove_prefix(byte_order_mark.size());
  }
  return text;
}

// A field as a message quotes it.
std::string quoted(const char* start, std::size_t size) {
  constexpr std::size_t most = 20;
  static constexpr char hex_digits[] = "0123456789ABCDEF";
  std::string text = "\"";
  for (std::size_t i = 0; i < size && i < most; ++i) {
    const auto c = static_cast<unsigned char>(start[i]);
    if (c >= 0x20 && c < 0x7F) {
      text += static_cast<char>(c);
    } else {
      text += "\\x";
      text += hex_digits[c >> 4];
      text += hex_digits[c & 0xFu];
    }
  }
  text += '"';
  if (size > most) text += "...";
  return text;
}

}  // namespace

std::optional<std::string> export_fault(std::string_view text, std::string_view path) {
  text = without_byte_order_mark(text);
  const scan_result result = scan(text, false);
  if (result.kind == fault_kind::none) return std::nullopt;

  // The line and column of the fault, from the line ends before it.
  std::size_t line = 1;
  const char* line_start = text.data();
  for (const char* p = line_start; p != result.at;) {
    const auto* line_end =
        static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(result.at - p)));
    if (line_end == nullptr) break;
    ++line;
    p = line_start = line_end + 1;
  }
  const auto column = static_cast<std::size_t>(result.at - line_start) + 1;

  std::string message(path);
  message += ':';
  message += std::to_string(line);
  message += ':';
  message += std::to_string(column);
  message += ": not a sproxel CSV export: ";
  switch (result.kind) {
    case fault_kind::header:
      message += "the header must be three whole numbers (X,Y,Z), found ";
      message += result.length == 0 ? "the end of the file" : quoted(result.at, result.length);
      break;
    case fault_kind::cell:
      message += "a cell must be # and 8 hex digits, found ";
      message += quoted(result.at, result.length);
      break;
    case fault_kind::short_end:
      message += "the export ends after " + std::to_string(result.read) + " of " +
                 std::to_string(result.cells) + " cells (cut short?)";
      break;
    case fault_kind::extra:
      message += "the export holds more than its " + std::to_string(result.cells) +
                 " cells, found " + quoted(result.at, result.length);
      break;
    case fault_kind::none:
      break;
  }
  return message;
}

bool begins_like_export(std::string_view start) {
  return scan(without_byte_order_mark(start), true).kind == fault_kind::none;
}

}  // namespace cubewright
