#include "sproxel_csv/csv_document.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

#include "model_document/document_pieces.h"
#include "model_document/model_writer.h"
#include "sproxel_csv/cell_walk.h"
#include "tuning.h"

namespace cubewright {
namespace {

// Writes the document of a CSV export, handing the record of every voxel to
// `note` as well unless it is null. Cells whose colour is six hex digits
// (every exported one) go through the grid's line texts; any other cell, or
// a grid too wide for them, through the record.
template <typename Note>
bool write_document_noting(const token_list& tokens, const grid_size& size,
                           const model_placement& placement, std::string_view line_end,
                           output_sink sink, std::size_t block_size, Note note) {
  model_writer writer = open_model_writer(sink, line_end, block_size);
  write_head(writer);
  grid_line_writer lines;
  const bool tabled =
      open_grid_line_writer(lines, writer, placement, 0, std::max<std::int64_t>(size.size_x, 1));
  walk_filled_cells(tokens, size, [&](const cell_cursor& cursor, std::string_view token) {
    std::uint8_t rgb[3];
    if (tabled && read_colour_bytes(token, rgb)) {
      write_grid_voxel(lines, cursor.cell_x, cursor.cell_y, cursor.cell_z, rgb[0], rgb[1], rgb[2]);
      if constexpr (!std::is_same_v<Note, std::nullptr_t>) {
        note(make_voxel_record(cursor, token, placement));
      }
      return;
    }
    const voxel_record record = make_voxel_record(cursor, token, placement);
    write_voxel(writer, record);
    if constexpr (!std::is_same_v<Note, std::nullptr_t>) note(record);
  });
  return write_tail(writer);
}

struct piece {
  const char* start = nullptr;
  const char* end = nullptr;
  cell_cursor expected;  // where the regular lines say its first cell is
};

// Where the cell at `at` is when every line of cells is as long as the first
// and every layer is size_z lines and one blank line, as exported files are.
// Only a guess for other files; the walk decides.
cell_cursor regular_cell_at(const char* begin, const char* at, std::size_t line_length,
                            std::size_t blank_length, const grid_size& size) {
  cell_cursor cursor = first_cell(size);
  if (size.size_z < 1 || line_length == 0) return cursor;
  const auto lines = static_cast<std::size_t>(size.size_z);
  const std::size_t layer_length = lines * line_length + blank_length;
  const auto offset = static_cast<std::size_t>(at - begin);
  const std::size_t layer = offset / layer_length;
  const std::size_t row = offset % layer_length / line_length;
  cursor.cell_y -= static_cast<std::int64_t>(layer);
  if (row >= lines) {
    --cursor.cell_y;  // on the blank line: the next layer's first row
  } else {
    cursor.cell_z = static_cast<std::int64_t>(row);
  }
  return cursor;
}

// The cells cut at line starts about tuning::export_piece_bytes apart.
std::vector<piece> cut_pieces(const field_reader& cells, const grid_size& size) {
  const char* const begin = cells.position();
  const char* const end = cells.end();
  const auto* first_line_end =
      static_cast<const char*>(std::memchr(begin, '\n', static_cast<std::size_t>(end - begin)));
  std::size_t line_length = 0;
  std::size_t blank_length = 1;
  if (first_line_end != nullptr) {
    line_length = static_cast<std::size_t>(first_line_end - begin) + 1;
    if (first_line_end != begin && first_line_end[-1] == '\r') blank_length = 2;
  }
  std::vector<piece> pieces;
  const char* start = begin;
  while (static_cast<std::size_t>(end - start) > 2 * tuning::export_piece_bytes) {
    const char* cut = start + tuning::export_piece_bytes;
    const auto* line_end =
        static_cast<const char*>(std::memchr(cut, '\n', static_cast<std::size_t>(end - cut)));
    if (line_end == nullptr || line_end + 1 == end) break;
    pieces.push_back({start, line_end + 1, {}});
    start = line_end + 1;
  }
  pieces.push_back({start, end, {}});
  for (piece& p : pieces) {
    p.expected = regular_cell_at(begin, p.start, line_length, blank_length, size);
  }
  return pieces;
}

// The pieces of an export's cells, cut at line starts.
class csv_pieces : public piece_source {
 public:
  csv_pieces(const token_list& tokens, const grid_size& size, const model_placement& placement,
             bool check_nul)
      : placement_(placement),
        cells_(cell_fields(tokens)),
        walker_(size, cells_.remaining()),
        pieces_(cut_pieces(cells_, size)),
        check_nul_(check_nul) {}

  bool refused(std::size_t index) const override {
    const piece& p = pieces_[index];
    return check_nul_ &&
           std::memchr(p.start, 0, static_cast<std::size_t>(p.end - p.start)) != nullptr;
  }

  std::size_t count() const override { return pieces_.size(); }

  cell_cursor expected_start(std::size_t index) const override { return pieces_[index].expected; }

  void write(std::size_t index, cell_cursor& cursor, model_writer& writer, grid_line_writer& lines,
             bool tabled) const override {
    const piece& p = pieces_[index];
    walker_.walk(
        field_reader(p.start, p.end), cursor, [&](const cell_cursor& at, std::string_view token) {
          std::uint8_t rgb[3];
          if (tabled && read_colour_bytes(token, rgb)) {
            write_grid_voxel(lines, at.cell_x, at.cell_y, at.cell_z, rgb[0], rgb[1], rgb[2]);
          } else {
            write_voxel(writer, make_voxel_record(at, token, placement_));
          }
        });
  }

 private:
  const model_placement& placement_;
  field_reader cells_;
  cell_walker walker_;
  std::vector<piece> pieces_;
  bool check_nul_;
};

}  // namespace

bool write_export_document(const token_list& tokens, const grid_size& size,
                           const model_placement& placement, std::string_view line_end,
                           output_sink sink, std::size_t block_size, voxel_tally* tally) {
  if (tally == nullptr) {
    return write_document_noting(tokens, size, placement, line_end, sink, block_size, nullptr);
  }
  return write_document_noting(tokens, size, placement, line_end, sink, block_size,
                               [tally](const voxel_record& record) { tally->add(record); });
}

bool write_export_document_in_pieces(const token_list& tokens, const grid_size& size,
                                     const model_placement& placement, std::string_view line_end,
                                     output_sink sink, bool check_nul, int threads) {
  if (check_nul) {
    // The header and whatever precedes the cells; the pieces check the rest.
    const std::size_t before_cells =
        static_cast<std::size_t>(cell_fields(tokens).position() - tokens.text.data());
    if (std::memchr(tokens.text.data(), 0, before_cells) != nullptr) return false;
  }
  const csv_pieces pieces(tokens, size, placement, check_nul);
  return write_in_pieces(pieces, placement, line_end, 0, std::max<std::int64_t>(size.size_x, 1),
                         sink, threads);
}

std::optional<std::string> export_to_document(std::string_view csv_text,
                                              const model_placement& placement,
                                              std::string_view line_end) {
  const token_list tokens = read_token_list(csv_text);
  const std::optional<grid_size> size = parse_grid_size(tokens);
  if (!size) return std::nullopt;
  std::string document;
  const output_sink sink = string_sink(document);
  // The string grows anyway, so a small block does as well as a large one and
  // spares zero-filling a megabyte for every document (which made fuzzing
  // a hundred times slower).
  constexpr std::size_t string_block_size = std::size_t{1} << 16;
  write_export_document(tokens, *size, placement, line_end, sink, string_block_size);
  return document;
}

}  // namespace cubewright
