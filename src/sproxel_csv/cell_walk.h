// The walk that gives every cell token its grid indices and turns filled
// cells into voxel records.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "model/placed_model.h"
#include "sproxel_csv/grid_size.h"
#include "sproxel_csv/token_list.h"
#include "text/byte_words.h"

namespace cubewright {

/// The text of an empty cell; every other cell token is filled.
inline constexpr std::string_view empty_cell = "#00000000";

/// Reads text as a base-16 integer the way formatted stream extraction does:
/// leading white space, an optional sign, an optional 0x or 0X, then hex
/// digits of either case up to the first other character. 0 without a digit.
/// Meant for the two-character colour pairs; longer text saturates.
std::int32_t parse_hex_pair(std::string_view text);

/// The record of a filled cell token at the given cursor. Colour pairs start
/// at positions 1, 3 and 5; a pair cut short by the token's end reads what is
/// left of it, so a missing pair is 0.
voxel_record make_voxel_record(const cell_cursor& cursor, std::string_view token,
                               const model_placement& placement);

/// The value of every byte as a hex digit, -1 for the others. A table, since
/// the digits of colours are as good as random and branches on them mispredict.
inline constexpr std::array<int, 256> hex_digit_values = [] {
  std::array<int, 256> values{};
  for (int c = 0; c < 256; ++c) {
    values[static_cast<std::size_t>(c)] = c >= '0' && c <= '9'   ? c - '0'
                                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                                 : -1;
  }
  return values;
}();

/// The colour bytes of a filled cell token whose pairs at positions 1, 3 and 5
/// are all two hex digits, as every exported colour's are; false for any
/// other token, whose record make_voxel_record then reads by the general rule.
inline bool read_colour_bytes(std::string_view token, std::uint8_t (&rgb)[3]) {
  if (token.size() < 7) return false;
  // No rules for signs, prefixes and white space are needed here. A byte
  // that is no digit reads as -1, so any such byte makes the OR negative.
  int digits[6];
  for (std::size_t i = 0; i < 6; ++i) {
    digits[i] = hex_digit_values[static_cast<unsigned char>(token[i + 1])];
  }
  if ((digits[0] | digits[1] | digits[2] | digits[3] | digits[4] | digits[5]) < 0) return false;
  for (std::size_t i = 0; i < 3; ++i) {
    rgb[i] = static_cast<std::uint8_t>(digits[2 * i] * 16 + digits[2 * i + 1]);
  }
  return true;
}

/// Moves the cursor to the next cell: x fastest, then z, then y downward.
/// A size of zero or less wraps its index on every step.
inline void advance_cursor(cell_cursor& cursor, const grid_size& size) {
  ++cursor.cell_x;
  if (cursor.cell_x > std::int64_t{size.size_x} - 1) {
    cursor.cell_x = 0;
    ++cursor.cell_z;
    if (cursor.cell_z > std::int64_t{size.size_z} - 1) {
      cursor.cell_z = 0;
      --cursor.cell_y;
    }
  }
}

/// Moves the cursor from the first cell of a row (x = 0) past the whole row
/// of size_x cells, size_x at least 1: as advance_cursor does size_x times.
inline void advance_row(cell_cursor& cursor, const grid_size& size) {
  cursor.cell_x = 0;
  ++cursor.cell_z;
  if (cursor.cell_z > std::int64_t{size.size_z} - 1) {
    cursor.cell_z = 0;
    --cursor.cell_y;
  }
}

/// The widest row the walk compares whole against an empty row.
inline constexpr std::int32_t max_compared_row = 4096;

/// The fields of the cells: what follows the three header fields, or nothing
/// when there are fewer.
inline field_reader cell_fields(const token_list& tokens) {
  auto it = tokens.begin();
  const auto end = tokens.end();
  for (int header = 1; header < 3 && it != end; ++header) ++it;
  if (it == end)
    return field_reader(tokens.text.data() + tokens.text.size(),
                        tokens.text.data() + tokens.text.size());
  return it.rest();
}

/// The cursor at the first cell.
inline cell_cursor first_cell(const grid_size& size) {
  cell_cursor cursor;
  cursor.cell_y = std::int64_t{size.size_y} - 1;
  return cursor;
}

/// Walks cell fields and hands every filled cell token to
/// `consume(cursor, token)`, in token order, with the cursor at its cell.
///
/// Exported cells are nine bytes and a separator ("#00000000,"), so the walk
/// takes a row of such cells whole: a row of empty cells by one comparison
/// with an empty row, any other in two passes, one that tells the filled
/// cells from the empty ones without a branch on either (a painted model's
/// cells are filled or empty at random as far as branches are concerned),
/// and one that hands over the filled ones. From the first row of another
/// shape on, fields are read one at a time, and an exported cell is still
/// taken without searching for its end.
class cell_walker {
 public:
  /// A walker for a grid of `size`; `expected_bytes` of cells to walk tell
  /// whether whole rows are worth comparing.
  cell_walker(const grid_size& size, std::size_t expected_bytes) : size_(size) {
    if (size.size_x >= 2 && size.size_x <= max_compared_row &&
        expected_bytes / 16 > std::size_t{10} * static_cast<std::size_t>(size.size_x)) {
      for (std::int32_t x = 0; x < size.size_x; ++x) {
        if (x != 0) empty_row_ += ',';
        empty_row_ += empty_cell;
      }
    }
  }

  /// Walks every field of `fields` from `cursor` on; the cursor is left at
  /// the cell after the last one.
  template <typename Consumer>
  void walk(field_reader fields, cell_cursor& cursor, Consumer&& consume) const {
    bool rows = size_.size_x >= 1 && size_.size_x <= max_compared_row;
    for (;;) {
      const char* p = fields.position();
      const std::size_t left = fields.remaining();
      // Blank lines and empty fields before a row.
      if (cursor.cell_x == 0 && left >= 2 &&
          (p[0] == '\n' || p[0] == ',' || (p[0] == '\r' && p[1] == '\n'))) {
        fields.move_to(p + (p[0] == '\r' ? 2 : 1));
        continue;
      }
      if (left >= 11 && p[0] == '#') {
        if (cursor.cell_x == 0 && !empty_row_.empty() && left >= empty_row_.size() + 2 &&
            std::memcmp(p, empty_row_.data(), empty_row_.size()) == 0) {
          const char* after = p + empty_row_.size();
          // The last cell's separator: "," or a line end.
          const std::size_t separator = after[0] == ',' || after[0] == '\n'    ? 1
                                        : after[0] == '\r' && after[1] == '\n' ? 2
                                                                               : 0;
          if (separator != 0) {
            fields.move_to(after + separator);
            advance_row(cursor, size_);
            continue;
          }
        }
        if (cursor.cell_x == 0 && rows) {
          if (const char* next = walk_row(p, fields.end(), cursor, consume)) {
            fields.move_to(next);
            advance_row(cursor, size_);
            continue;
          }
          rows = false;
        }
        const char* next = exported_cell_end(p);
        if (next != nullptr) {
          if (load_word(p + 1) != empty_digits()) consume(cursor, std::string_view(p, 9));
          fields.move_to(next);
          advance_cursor(cursor, size_);
          continue;
        }
      }
      std::string_view token;
      if (!fields.next(token)) break;
      if (token != empty_cell) consume(cursor, token);
      advance_cursor(cursor, size_);
    }
  }

 private:
  // Eight "0" bytes, the digits of an empty cell.
  static std::uint64_t empty_digits() { return load_word(empty_cell.data() + 1); }

  // Where the field after the nine-byte cell at `p` starts, with at least 11
  // bytes from `p` on; null when the cell is not of that shape.
  static const char* exported_cell_end(const char* p) {
    if (field_reader::separator_flags(load_word(p + 1)) != 0) return nullptr;
    const char after = p[9];
    if (after == ',' || (after == '\n' && p[8] != '\r')) return p + 10;
    if (after == '\r' && p[10] == '\n') return p + 11;
    return nullptr;
  }

  // Hands over the filled cells of the row at `p` (its first cell, the
  // cursor's) when it is a row of exported cells: size_x cells of nine bytes
  // joined by ",", the last one ended by a separator, and one more byte
  // before `end`. Returns where the field after the row starts, or null,
  // having handed over nothing, for a row of any other shape.
  template <typename Consumer>
  const char* walk_row(const char* p, const char* end, const cell_cursor& cursor,
                       Consumer& consume) const {
    const auto width = static_cast<std::size_t>(size_.size_x);
    if (static_cast<std::size_t>(end - p) <= 10 * width) return nullptr;
    const char* const last = p + 10 * (width - 1);
    const char* const next = exported_cell_end(last);
    if (next == nullptr) return nullptr;
    // The joints: a cell's "," and the next cell's "#", two bytes each.
    const auto byte = [](char c) { return unsigned{static_cast<unsigned char>(c)}; };
    const unsigned joint = byte(',') | byte('#') << 8;
    unsigned joints_differ = 0;
    for (const char* cell = p; cell != last; cell += 10) {
      joints_differ |= (byte(cell[9]) | byte(cell[10]) << 8) ^ joint;
    }
    // The filled cells, a bit each; an empty cell's digits hold no separator.
    std::uint64_t filled[max_compared_row / 64];
    const std::size_t words = (width + 63) / 64;
    const std::uint64_t empty = empty_digits();
    for (std::size_t word = 0; word < words; ++word) {
      const std::size_t count = std::min<std::size_t>(64, width - 64 * word);
      const char* const first = p + 640 * word + 1;
      std::uint64_t bits = 0;
      for (std::size_t i = 0; i < count; ++i) {
        bits |= std::uint64_t{load_word(first + 10 * i) != empty} << i;
      }
      filled[word] = bits;
    }
    if (joints_differ != 0) return nullptr;
    std::uint64_t separators = 0;
    for (std::size_t word = 0; word < words; ++word) {
      for (std::uint64_t bits = filled[word]; bits != 0; bits &= bits - 1) {
        const std::size_t x = 64 * word + lowest_set_bit(bits);
        separators |= field_reader::separator_flags(load_word(p + 10 * x + 1));
      }
    }
    if (separators != 0) return nullptr;
    cell_cursor at = cursor;
    for (std::size_t word = 0; word < words; ++word) {
      for (std::uint64_t bits = filled[word]; bits != 0; bits &= bits - 1) {
        const std::size_t x = 64 * word + lowest_set_bit(bits);
        at.cell_x = static_cast<std::int64_t>(x);
        consume(static_cast<const cell_cursor&>(at), std::string_view(p + 10 * x, 9));
      }
    }
    return next;
  }

  grid_size size_;
  std::string empty_row_;  // a row of empty cells up to its last one's end, when worth it
};

/// Walks the tokens after the three header fields and hands every filled
/// cell token to `consume(cursor, token)`, as cell_walker does.
template <typename Consumer>
void walk_filled_cells(const token_list& tokens, const grid_size& size, Consumer&& consume) {
  const field_reader fields = cell_fields(tokens);
  cell_cursor cursor = first_cell(size);
  cell_walker(size, fields.remaining()).walk(fields, cursor, consume);
}

/// Walks the tokens after the three header fields and hands the record of
/// every filled cell to `consume`, in token order. Nothing is ever rejected:
/// tokens past the declared grid go on below y = 0, and a short list simply
/// ends the walk.
template <typename Consumer>
void walk_cells(const token_list& tokens, const grid_size& size, const model_placement& placement,
                Consumer&& consume) {
  walk_filled_cells(tokens, size, [&](const cell_cursor& cursor, std::string_view token) {
    consume(make_voxel_record(cursor, token, placement));
  });
}

}  // namespace cubewright
