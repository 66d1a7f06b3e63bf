#include "conversion/convert.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "memory/large_pages.h"
#include "model/voxel_grid.h"
#include "model_document/document_pieces.h"
#include "model_document/model_writer.h"
#include "sproxel_csv/cell_walk.h"
#include "sproxel_csv/csv_document.h"
#include "sproxel_csv/export_cells.h"
#include "sproxel_csv/sproxel_writer.h"
#include "text/format_number.h"
#include "vox_format/scene_grid.h"
#include "vox_format/vox_writer.h"

namespace cubewright {

std::string grid_size_failure(const std::string& path) {
  return "cannot read grid size: " + path +
         ": fewer than three fields (the header needs x, y and z sizes)";
}

bool has_grid_header(std::string_view text) {
  return parse_grid_size(read_token_list(text)).has_value();
}

namespace {

// The largest whole number a document writes exactly, whatever it is.
constexpr double exact_limit = 999999;

// Whether the document writes `value` exactly: six significant digits.
bool written_exactly(float value) {
  if (std::fabs(value) <= exact_limit) return true;
  if (std::fabs(value) >= 16777216.0f) return false;  // already rounded in single precision
  return std::strtod(format_number(value).c_str(), nullptr) == static_cast<double>(value);
}

std::string inexact_failure(const std::string& path, int axis, double reached) {
  char text[32];
  std::snprintf(text, sizeof text, "%.0f", reached);
  return path + ": " + std::string(1, static_cast<char>('x' + axis)) + " positions include " +
         text +
         ", which a model document cannot hold exactly (it holds whole numbers from -999999 to "
         "999999; --lenient writes them rounded)";
}

// The first position of `record` that a document would round, as a failure.
std::optional<std::string> inexact_record(const voxel_record& record, const std::string& path) {
  const float at[3] = {record.x, record.y, record.z};
  for (int axis = 0; axis < 3; ++axis) {
    if (!written_exactly(at[axis])) return inexact_failure(path, axis, at[axis]);
  }
  return std::nullopt;
}

// The same over a scene's cells, looked at one by one only when their box
// reaches beyond the whole numbers every document holds.
std::optional<std::string> inexact_cells(const model_cells& cells, const model_placement& placement,
                                         const std::string& path) {
  if (cells.box.empty) return std::nullopt;
  const float factors[3] = {placement.axis_factor_x, placement.axis_factor_y,
                            placement.axis_factor_z};
  const std::int32_t offsets[3] = {placement.offset_x, placement.offset_y, placement.offset_z};
  bool within = true;
  for (int axis = 0; axis < 3; ++axis) {
    for (const std::int64_t end : {cells.box.min[axis], cells.box.max[axis]}) {
      const double placed = static_cast<double>(end) * static_cast<double>(factors[axis]) +
                            static_cast<double>(offsets[axis]);
      within = within && std::fabs(placed) <= exact_limit;
    }
  }
  if (within) return std::nullopt;
  std::optional<std::string> fault;
  for_each_cell_in_walk_order(cells, [&](const cell_voxel& cell) {
    if (!fault) fault = inexact_record(placed_record(cell, placement), path);
  });
  return fault;
}

}  // namespace

std::optional<std::string> inexact_positions(std::string_view text,
                                             const model_placement& placement,
                                             const std::string& path) {
  // The header comes first; a few KiB hold it unless blank fields pad it.
  token_list tokens = read_token_list(text.substr(0, 4096));
  std::optional<grid_size> size = parse_grid_size(tokens);
  if (!size) size = parse_grid_size(tokens = read_token_list(text));
  if (!size) return std::nullopt;
  const std::int64_t sizes[3] = {size->size_x, size->size_y, size->size_z};
  const float factors[3] = {placement.axis_factor_x, placement.axis_factor_y,
                            placement.axis_factor_z};
  const std::int32_t offsets[3] = {placement.offset_x, placement.offset_y, placement.offset_z};
  bool within = true;
  for (int axis = 0; axis < 3; ++axis) {
    const double far = static_cast<double>(offsets[axis]) +
                       static_cast<double>(factors[axis]) * static_cast<double>(sizes[axis] - 1);
    within = within && std::fabs(far) <= exact_limit &&
             std::fabs(static_cast<double>(offsets[axis])) <= exact_limit;
  }
  if (within) return std::nullopt;
  // Some cell of the grid would be rounded: whether a filled one is tells.
  tokens = read_token_list(text);
  std::optional<std::string> fault;
  walk_cells(tokens, *size, placement, [&](const voxel_record& record) {
    const float at[3] = {record.x, record.y, record.z};
    for (int axis = 0; axis < 3 && !fault; ++axis) {
      if (!written_exactly(at[axis])) fault = inexact_failure(path, axis, at[axis]);
    }
  });
  return fault;
}

std::string binary_input_failure(const std::string& path) {
  return "cannot read input: " + path +
         ": holds NUL bytes and is no sproxel CSV export, model document or .vox file";
}

namespace {

// The document input of a request.
document_input document_of(const conversion_request& request) {
  document_input input;
  input.text = request.text;
  input.copier = request.copier;
  input.placement = request.placement;
  input.path = &request.input_path;
  input.skeleton_refused = request.format == output_format::xml;
  input.left_out_noted = request.format == output_format::xml;
  return input;
}

// A finished document's result: what the tally saw, and whether the sink
// took it all.
conversion_result& finished(conversion_result& result, const voxel_tally& tally) {
  result.voxel_count = tally.count;
  result.bounds = tally.bounds;
  result.ok = !result.sink_failed;
  return result;
}

// Reads a .vox input into its placed cells; false when it cannot be read
// (result.failure says why).
bool read_vox_cells(const conversion_request& request, conversion_result& result,
                    model_cells& cells) {
  const vox_read_result scene = read_vox_cells(request.text, cells, request.plan.in_pieces);
  if (!scene.error.empty()) {
    result.failure = "cannot read model: " + request.input_path +
                     ": damaged .vox file: " + scene.error + ", at byte " +
                     std::to_string(scene.error_offset);
    return false;
  }
  if (scene.frames_left_out != 0) {
    result.notes.push_back(request.input_path + ": left out " +
                           std::to_string(scene.frames_left_out) +
                           (scene.frames_left_out == 1 ? " further model" : " further models") +
                           " (animation frames); only the first is converted");
  }
  if (scene.key_frames_left_out != 0) {
    result.notes.push_back(request.input_path + ": left out " +
                           std::to_string(scene.key_frames_left_out) +
                           (scene.key_frames_left_out == 1 ? " further animation frame"
                                                           : " further animation frames") +
                           "; only the first is converted");
  }
  return true;
}

// The refusal of an export whose box is too large for one.
std::string csv_box_failure(const std::string& path) {
  return "cannot convert: " + path +
         ": the model's bounding box holds more than 2^28 cells, too many for a CSV export"
         " (a .vox file or a document holds it)";
}

// Where a voxel of an input without line numbers came from: nowhere in
// particular. Lines are asked for only when a message needs one.
std::size_t no_line() { return 0; }

template <typename Consume>
bool for_each_csv_voxel(const conversion_request& request, conversion_result& result,
                        Consume& consume) {
  const token_list tokens = read_token_list(request.text);
  const std::optional<grid_size> size = parse_grid_size(tokens);
  if (!size) {
    result.failure = grid_size_failure(request.input_path);
    return false;
  }
  bool going = true;
  walk_cells(tokens, *size, request.placement, [&](const voxel_record& record) {
    if (going) going = consume(record, no_line);
  });
  return going;
}

template <typename Consume>
bool for_each_vox_voxel(const conversion_request& request, conversion_result& result,
                        Consume& consume) {
  model_cells cells;
  if (!read_vox_cells(request, result, cells)) return false;
  bool going = true;
  for_each_cell_in_walk_order(cells, [&](const cell_voxel& cell) {
    if (going) going = consume(placed_record(cell, request.placement), no_line);
  });
  return going;
}

// Hands every voxel of the input, placed, to `consume(record, line)` in the
// order its document gets them, where `line()` gives the voxel's line or 0;
// `consume` returns false to stop. False when the input could not be read
// (result.failure says why) or consume stopped.
template <typename Consume>
bool for_each_placed_voxel(const conversion_request& request, conversion_result& result,
                           Consume&& consume) {
  switch (request.input) {
    case content_kind::model_document:
      return for_each_document_voxel(document_of(request), result, consume);
    case content_kind::vox:
      return for_each_vox_voxel(request, result, consume);
    case content_kind::sproxel_csv:
    case content_kind::binary:
      break;
  }
  return for_each_csv_voxel(request, result, consume);
}

// The pieces' cells in one vector: the first store as it is when it holds
// them all in order, a copy otherwise.
std::vector<cell_voxel> joined_pieces(cell_pieces& pieces) {
  const std::vector<cell_pieces::span>& spans = pieces.spans;
  if (spans.empty()) return {};
  if (spans.size() == 1 && spans[0].store == 0 && spans[0].first == 0 &&
      spans[0].count == pieces.stores[0].size()) {
    return std::move(pieces.stores[0]);
  }
  std::vector<cell_voxel> cells;
  std::size_t count = 0;
  for (const cell_pieces::span& span : spans) count += span.count;
  cells.reserve(count);
  for (const cell_pieces::span& span : spans) {
    const cell_voxel* const first = pieces.first_of(span);
    cells.insert(cells.end(), first, first + span.count);
  }
  pieces.stores.clear();
  return cells;
}

// Writes CSV or .vox from the placed voxels of any input.
conversion_result write_cells(const conversion_request& request, output_sink sink) {
  conversion_result result;
  const bool ahead = request.plan.read_ahead && request.input == content_kind::model_document;
  cell_pieces pieces;
  // A store for each reading thread.
  pieces.stores.resize(ahead ? 2 : 1);
  // Room in each for as many voxels as the document's shortest lines could
  // hold, touched only as it fills: either thread may read most of it.
  constexpr std::size_t shortest_voxel_line = 44;
  if (request.input == content_kind::model_document) {
    for (std::vector<cell_voxel>& store : pieces.stores) {
      store.reserve(request.text.size() / shortest_voxel_line + 1);
      advise_large_pages(store.data(), store.capacity() * sizeof(cell_voxel));
    }
  }
  cell_collector collector{&request.input_path, &pieces.stores[0], {}, {}};
  bool read = false;
  if (ahead) {
    read = collect_document_cells_ahead(document_of(request), result, collector, pieces);
  } else {
    read = for_each_placed_voxel(request, result,
                                 [&collector](const voxel_record& record, const auto& line) {
                                   return collector.add(record, line);
                                 });
    pieces.add_span(0, 0);
  }
  if (!read) {
    if (result.failure.empty()) result.failure = collector.failure;
    return result;
  }
  // A document written from an export that was not mirrored holds its
  // voxels in the export's own order, once each: then an export is written
  // from the pieces as they are, in the box gathered as they were read.
  const bool walk_ordered = collector.run.walk_ordered;
  const voxel_box& box = collector.run.box;
  if (collector.run.count == 0) {
    result.failure = "cannot convert: " + request.input_path + ": the model has no voxel to write";
    return result;
  }
  // The voxels' bounding box.
  result.bounds.add(static_cast<float>(box.min[0]), static_cast<float>(box.min[1]),
                    static_cast<float>(box.min[2]));
  result.bounds.add(static_cast<float>(box.max[0]), static_cast<float>(box.max[1]),
                    static_cast<float>(box.max[2]));
  if (request.format == output_format::csv) {
    // An export holds every cell of its box.
    std::vector<cell_voxel> cells;
    if (!walk_ordered) cells = joined_pieces(pieces);
    voxel_grid grid;
    if (!(walk_ordered ? make_voxel_box(collector.run, grid) : make_voxel_grid(cells, box, grid))) {
      result.failure = csv_box_failure(request.input_path);
      return result;
    }
    cells = std::vector<cell_voxel>();
    result.voxel_count = grid.voxel_count;
    result.grid_min[0] = grid.min_x;
    result.grid_min[1] = grid.min_y;
    result.grid_min[2] = grid.min_z;
    result.grid_size[0] = grid.size_x;
    result.grid_size[1] = grid.size_y;
    result.grid_size[2] = grid.size_z;
    result.sink_failed =
        !(walk_ordered ? write_sproxel_csv(pieces, grid, sink) : write_sproxel_csv(grid, sink));
    result.ok = !result.sink_failed;
    return result;
  }
  // A .vox file takes the cells in walk order, each once, whatever their
  // box: through a grid where one fits, sorted where the box is mostly
  // empty.
  std::vector<cell_voxel> cells = joined_pieces(pieces);
  if (!walk_ordered && dense_grid_fits(box, cells.size())) {
    voxel_grid grid;
    make_voxel_grid(cells, box, grid);
    cells = std::vector<cell_voxel>();
    cells.reserve(grid.voxel_count);
    for_each_voxel_in_walk_order(grid,
                                 [&cells](const cell_voxel& voxel) { cells.push_back(voxel); });
  } else if (!walk_ordered) {
    sort_into_walk_order(cells);
  }
  result.voxel_count = cells.size();
  const vox_write_result written = write_vox(cells);
  if (!written.error.empty()) {
    result.failure = "cannot convert: " + request.input_path + ": " + written.error;
    return result;
  }
  const vox_colour_report& colours = written.colours;
  if (colours.colours_out < colours.colours_in) {
    char error[32];
    std::snprintf(error, sizeof error, "%.1f", colours.largest_error);
    result.notes.push_back(request.input_path + ": " + std::to_string(colours.colours_in) +
                           " colours reduced to " + std::to_string(colours.colours_out) +
                           " for the .vox palette; the largest error is " + error +
                           " (of 255 in r, g, b)");
  }
  result.sink_failed = !sink.write(sink.context, written.bytes.data(), written.bytes.size());
  result.ok = !result.sink_failed;
  return result;
}

// Writes a model document from any input.
conversion_result write_document(const conversion_request& request, output_sink sink) {
  conversion_result result;
  voxel_tally tally;
  const auto note = [&request, &tally](const voxel_record& record) {
    if (request.count) tally.add(record);
  };
  if (request.input == content_kind::sproxel_csv) {
    // The common case keeps its own loop: the walk straight into the writer.
    const token_list tokens = read_token_list(request.text);
    const std::optional<grid_size> size = parse_grid_size(tokens);
    if (!size) {
      result.failure = grid_size_failure(request.input_path);
      return result;
    }
    const run_plan& plan = request.plan;
    if (!request.count) {
      const bool written =
          plan.in_pieces
              ? write_export_document_in_pieces(tokens, *size, request.placement, request.line_end,
                                                sink, plan.nul_in_pieces, plan.piece_threads)
              : write_export_document(tokens, *size, request.placement, request.line_end, sink,
                                      plan.block_size);
      result.sink_failed = !written;
    } else {
      result.sink_failed = !write_export_document(
          tokens, *size, request.placement, request.line_end, sink, default_block_size, &tally);
    }
    return finished(result, tally);
  }
  if (request.input == content_kind::vox) {
    // Whole cells with colour bytes: the lines come from the texts of the
    // box's x indices.
    model_cells cells;
    if (!read_vox_cells(request, result, cells)) return result;
    if (request.exact_positions) {
      if (std::optional<std::string> fault =
              inexact_cells(cells, request.placement, request.input_path)) {
        result.failure = std::move(*fault);
        return result;
      }
    }
    if (!cells.sparse && request.plan.in_pieces && !request.count) {
      result.sink_failed = !write_grid_document_in_pieces(
          cells.grid, request.placement, request.line_end, sink, request.plan.piece_threads);
      result.ok = !result.sink_failed;
      return result;
    }
    model_writer writer = open_model_writer(sink, request.line_end);
    write_head(writer);
    grid_line_writer lines;
    const voxel_box& box = cells.box;
    const bool tabled =
        !box.empty && open_grid_line_writer(lines, writer, request.placement, box.min[0],
                                            box.max[0] - box.min[0] + 1);
    for_each_cell_in_walk_order(cells, [&](const cell_voxel& cell) {
      if (tabled) {
        write_grid_voxel(lines, cell.x, cell.y, cell.z, cell.r, cell.g, cell.b);
      } else {
        write_voxel(writer, placed_record(cell, request.placement));
      }
      if (request.count) note(placed_record(cell, request.placement));
    });
    result.sink_failed = !write_tail(writer);
    return finished(result, tally);
  }
  model_writer writer = open_model_writer(sink, request.line_end);
  write_head(writer);
  const bool read =
      for_each_placed_voxel(request, result, [&](const voxel_record& record, const auto&) {
        if (request.exact_positions) {
          if (std::optional<std::string> fault = inexact_record(record, request.input_path)) {
            result.failure = std::move(*fault);
            return false;
          }
        }
        write_voxel(writer, record);
        note(record);
        return !writer.block.failed;
      });
  if (!read && !writer.block.failed) return result;
  result.sink_failed = !write_tail(writer);
  return finished(result, tally);
}

}  // namespace

conversion_result read_model_cells(std::string_view text, content_kind input,
                                   const std::string& path, const model_placement& placement) {
  conversion_request request;
  request.text = text;
  request.input = input;
  request.input_path = path;
  request.placement = placement;
  request.format = output_format::csv;  // a skeleton is left out, not refused
  conversion_result result;
  if (input == content_kind::sproxel_csv) {
    const token_list tokens = read_token_list(text);
    const std::optional<grid_size> size = parse_grid_size(tokens);
    if (!size) {
      result.failure = grid_size_failure(path);
      return result;
    }
    read_export_cells(tokens, *size, placement, result.placed);
    result.voxel_count = result.placed.size();
    result.ok = true;
    return result;
  }
  result.ok =
      for_each_placed_voxel(request, result, [&result](const voxel_record& record, const auto&) {
        result.placed.push_back(drawn_cell(record));
        return true;
      });
  result.voxel_count = result.placed.size();
  result.notes.clear();
  return result;
}

conversion_result convert_model(const conversion_request& request, output_sink sink) {
  if (request.format == output_format::xml) return write_document(request, sink);
  return write_cells(request, sink);
}

}  // namespace cubewright
