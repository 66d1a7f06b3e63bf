#include "conversion/convert.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <type_traits>

#include "app/parallel_document.h"
#include "sproxel_csv/sproxel_writer.h"
#include "memory/large_pages.h"
#include "threads/other_core.h"
#include "vox_format/vox_reader.h"
#include "vox_format/vox_writer.h"
#include "sproxel_csv/cell_walk.h"
#include "text/format_number.h"
#include "model/voxel_grid.h"
#include "model_document/model_reader.h"

namespace cubewright {

namespace {

// Writes the document of a CSV export, handing the record of every voxel to
// `note` as well unless it is null. Cells whose colour is six hex digits
// (every exported one) go through the grid's line texts; any other cell, or
// a grid too wide for them, through the record.
template <typename Note>
bool write_csv_document(const token_list& tokens, const grid_size& size,
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

}  // namespace

bool write_model(const token_list& tokens, const grid_size& size, const model_placement& placement,
                 std::string_view line_end, output_sink sink, std::size_t block_size) {
  return write_csv_document(tokens, size, placement, line_end, sink, block_size, nullptr);
}

std::optional<std::string> convert_text(std::string_view csv_text, const model_placement& placement,
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
  write_model(tokens, *size, placement, line_end, sink, string_block_size);
  return document;
}

content_kind recognise_input(std::string_view text) {
  const content_kind kind = recognise_input_unchecked(text);
  if (kind == content_kind::sproxel_csv && holds_nul(text)) return content_kind::binary;
  return kind;
}

content_kind recognise_input_unchecked(std::string_view text) {
  if (looks_like_vox(text)) return content_kind::vox;
  if (looks_like_model_document(text)) return content_kind::model_document;
  return content_kind::sproxel_csv;
}

bool holds_nul(std::string_view text) {
  return std::memchr(text.data(), 0, text.size()) != nullptr;
}

thread_plan plan_threads(const conversion_request& request, std::size_t input_size) {
  const bool plain_document = request.format == output_format::xml && !request.count;
  if (plain_document && request.input == content_kind::sproxel_csv) {
    return input_size >= min_parallel_input ? thread_plan::two_formatting : thread_plan::in_turn;
  }
  if (plain_document && request.input == content_kind::vox &&
      input_size >= min_parallel_vox_input) {
    return thread_plan::two_formatting;
  }
  return thread_plan::writing_thread;
}

std::size_t output_block_size(std::size_t input_size) {
  constexpr std::size_t small_block_size = std::size_t{256} << 10;
  return input_size < min_parallel_input ? small_block_size : default_block_size;
}

bool reads_ahead(const conversion_request& request, std::size_t input_size) {
  return request.input == content_kind::model_document && request.format != output_format::xml &&
         input_size >= min_read_ahead_input;
}

std::optional<content_kind> recognise_existing(std::string_view start) {
  if (looks_like_vox(start)) return content_kind::vox;
  if (looks_like_model_document(start)) return content_kind::model_document;
  if (looks_like_sproxel_export(start)) return content_kind::sproxel_csv;
  return std::nullopt;
}

std::string_view describe(content_kind kind) {
  switch (kind) {
    case content_kind::sproxel_csv:
      return "a sproxel CSV export";
    case content_kind::model_document:
      return "a model document";
    case content_kind::vox:
      return "a .vox model";
    case content_kind::binary:
      break;
  }
  return "binary data";
}

content_kind written_kind(output_format format) {
  switch (format) {
    case output_format::csv:
      return content_kind::sproxel_csv;
    case output_format::vox:
      return content_kind::vox;
    case output_format::xml:
      break;
  }
  return content_kind::model_document;
}

void placed_bounds::add(float x, float y, float z) {
  const float at[3] = {x, y, z};
  for (int axis = 0; axis < 3; ++axis) {
    if (empty || at[axis] < min[axis]) min[axis] = at[axis];
    if (empty || at[axis] > max[axis]) max[axis] = at[axis];
  }
  empty = false;
}

std::string grid_size_failure(const std::string& path) {
  return "cannot read grid size: " + path +
         ": fewer than three fields (the header needs x, y and z sizes)";
}

std::uint8_t colour_byte(float fraction) {
  const float scaled = fraction * 256.0f + 0.5f;
  if (!(scaled >= 1.0f)) return 0;  // NaN too
  // Positive: truncation is the floor.
  return scaled >= 255.0f ? std::uint8_t{255} : static_cast<std::uint8_t>(scaled);
}

namespace {

// Where a voxel came from, for messages: the path, and its line when known.
std::string source_place(const std::string& path, std::size_t line) {
  return line == 0 ? path : path + ":" + std::to_string(line);
}

// A placed position as a whole cell; false when it is no whole number in the
// 32-bit range.
bool whole_cell(float value, std::int32_t& cell) {
  if (!(value >= -2147483648.0f && value < 2147483648.0f)) return false;
  cell = static_cast<std::int32_t>(value);  // in range: truncates toward zero
  return static_cast<float>(cell) == value;
}

// The nearest cell to a placed position, within 32 bits.
std::int32_t nearest_cell(float value) {
  const float shifted = value + 0.5f;
  if (!(shifted >= -2147483648.0f)) return shifted != shifted ? 0 : -2147483647 - 1;
  if (!(shifted < 2147483648.0f)) return 2147483647;
  // Truncation toward zero, then down by one where that went up: floor.
  const auto cell = static_cast<std::int32_t>(shifted);
  return static_cast<float>(cell) > shifted ? cell - 1 : cell;
}

// A value read from a model document placed on its axis, in the same float
// steps as a cell index.
float place_value(float value, float factor, std::int32_t offset) {
  const float scaled = value * factor;
  return scaled + static_cast<float>(offset);
}

// Collects placed records as whole cells at the end of `cells`, and what
// they are as a run; the first position that is not whole stops the
// collection with a message.
struct cell_collector {
  const conversion_request* request;
  std::vector<cell_voxel>* cells;
  std::string failure;
  voxel_run run;

  template <typename Line>
  bool add(const voxel_record& record, const Line& line) {
    cell_voxel voxel;
    const float position[3] = {record.x, record.y, record.z};
    std::int32_t* cell[3] = {&voxel.x, &voxel.y, &voxel.z};
    for (int axis = 0; axis < 3; ++axis) {
      if (!whole_cell(position[axis], *cell[axis])) {
        failure = "cannot convert: " + source_place(request->input_path, line()) + ": " +
                  static_cast<char>('x' + axis) + "=\"" + format_number(position[axis]) +
                  "\" is not a whole cell (CSV and .vox positions are whole numbers within "
                  "32 bits)";
        return false;
      }
    }
    voxel.r = colour_byte(record.r);
    voxel.g = colour_byte(record.g);
    voxel.b = colour_byte(record.b);
    cells->push_back(voxel);
    run.add(voxel);
    return true;
  }
};

// The cells of a grid, or `limit` when there are more; 0 when a side is not
// positive.
std::uint64_t grid_cells_up_to(const grid_size& size, std::uint64_t limit) {
  std::uint64_t cells = 1;
  for (const std::int32_t side : {size.size_x, size.size_y, size.size_z}) {
    if (side <= 0) return 0;
    const auto count = static_cast<std::uint64_t>(side);
    if (cells > limit / count) return limit;
    cells *= count;
  }
  return std::min(cells, limit);
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

void place_voxel(voxel_record& voxel, const model_placement& placement) {
  voxel.x = place_value(voxel.x, placement.axis_factor_x, placement.offset_x);
  voxel.y = place_value(voxel.y, placement.axis_factor_y, placement.offset_y);
  voxel.z = place_value(voxel.z, placement.axis_factor_z, placement.offset_z);
}

// Never hands over: the whole document on one thread.
struct no_handover {
  bool operator()(model_reader&) const { return true; }
};

// Hands every voxel of a document, placed, to `consume`; after each,
// `hand_over(reader)` may move the reader on past voxels it has consumed
// itself, or return false to stop.
template <typename Consume, typename HandOver = no_handover>
bool for_each_document_voxel(const conversion_request& request, conversion_result& result,
                             Consume& consume, HandOver hand_over = HandOver()) {
  model_reader reader = open_model_reader(request.text);
  voxel_record voxel;
  for (;;) {
    const read_step step = next_voxel(reader, voxel);
    if (step == read_step::end) break;
    if (step == read_step::error) {
      const model_read_error& error = read_error(reader);
      result.failure = "cannot read model: " + request.input_path + ":" +
                       std::to_string(error.line) + ":" + std::to_string(error.column) + ": " +
                       error.what;
      return false;
    }
    place_voxel(voxel, request.placement);
    if (!consume(voxel, [&reader] { return voxel_line(reader); })) return false;
    if (!hand_over(reader)) return false;
  }
  const skeleton_content skeleton = skeleton_in(reader);
  if (!skeleton.present) return true;
  const std::string where = request.input_path + ":" + std::to_string(skeleton.line) + ":" +
                            std::to_string(skeleton.column);
  if (request.format == output_format::xml) {
    result.failure = "cannot convert: " + where +
                     ": the model has a skeleton, which cubewright cannot write back; "
                     "--to csv or --to vox exports the voxels alone";
    return false;
  }
  result.notes.push_back(where + ": the skeleton is left out; the export holds the voxels alone");
  return true;
}

// A stretch of a long document, from one line start to the next stretch's,
// read apart from the rest by whichever thread is free, and what its reader
// found: its cells (a span of that thread's store), what they are as a run,
// and where it stopped: at `end` when only white space was left, else at
// the first thing it did not take.
struct document_stretch {
  std::size_t start = 0;
  std::size_t end = 0;
  cell_pieces::span cells;
  voxel_run run;
  std::size_t stop = 0;
};

// About this many bytes of a long document to a stretch: small enough that
// the two threads end close together, large enough that handing over costs
// nothing. Even a short document gets a few, so that every hand-over is met.
constexpr std::size_t stretch_bytes = std::size_t{1} << 20;
constexpr std::size_t min_stretches = 4;
constexpr std::size_t max_stretches = 64;

// A stretch is read a window of this many bytes at a time, copied into a
// buffer of the reading thread where the request has a copier, with this
// many more after it: a voxel line starting in the window, and the white
// space before it, lie in the window and its reach.
constexpr std::size_t window_bytes = std::size_t{1} << 16;
constexpr std::size_t window_reach = 512;

// The stretches after the first of `document`, cut at line starts.
std::vector<document_stretch> cut_stretches(std::string_view document) {
  const std::size_t count =
      std::clamp(document.size() / stretch_bytes, min_stretches, max_stretches);
  std::vector<document_stretch> stretches;
  for (std::size_t k = 1; k < count; ++k) {
    const std::size_t line_end = document.find('\n', document.size() / count * k);
    if (line_end == std::string_view::npos) break;
    const std::size_t start = line_end + 1;
    if (start == document.size() || (!stretches.empty() && start <= stretches.back().start))
      continue;
    if (!stretches.empty()) stretches.back().end = start;
    document_stretch stretch;
    stretch.start = start;
    stretch.end = document.size();
    stretches.push_back(stretch);
  }
  return stretches;
}

// What a thread keeps from one window of a stretch to the next: the buffer
// windows are copied into, and a reader that remembers the colour texts it
// has read.
struct window_reader {
  std::vector<char> buffer;
  model_reader reader = open_voxel_line_reader({}, 0);
};

// The stretches of a document and the threads reading them.
struct stretch_reading {
  const conversion_request* request = nullptr;
  std::string_view document;
  std::vector<document_stretch> stretches;
  std::atomic<std::size_t> next_unread{0};  // the first stretch no thread has taken
  std::atomic<bool> stop{false};
  std::mutex lock;
  std::condition_variable finished;  // a stretch was read
  std::vector<char> read;            // per stretch, under the lock

  // Takes the next stretch nobody has taken and reads its voxel lines, as
  // the tool writes them, into `cells`, which become store `store`; false
  // when none was left. A window of the stretch is read where it lies, or
  // from a copy in the thread's buffer (made when first needed). A voxel
  // that is no whole cell, or a window that cannot be copied, ends the
  // stretch before it: the first reader then reads on from there, and names
  // its line.
  bool read_next(std::vector<cell_voxel>& cells, std::size_t store, window_reader& own) {
    const std::size_t index = next_unread.fetch_add(1);
    if (index >= stretches.size()) return false;
    document_stretch& stretch = stretches[index];
    cell_collector collector{request, &cells, {}, {}};
    stretch.cells = {store, cells.size(), 0};
    const text_copier& copier = request->copier;
    // The copier counts from the text's start, before any byte order mark.
    const auto text_offset = static_cast<std::size_t>(document.data() - request->text.data());
    std::size_t at = stretch.start;  // where the window starts
    bool ended = false;
    while (!ended && at < stretch.end && !stop.load(std::memory_order_relaxed)) {
      const std::size_t limit = std::min(window_bytes, stretch.end - at);
      std::string_view window = document.substr(at, limit + window_reach);
      if (copier.copy != nullptr) {
        std::vector<char>& buffer = own.buffer;
        if (buffer.empty()) buffer.resize(window_bytes + window_reach);
        if (!copier.copy(copier.context, text_offset + at, buffer.data(), window.size())) break;
        window = std::string_view(buffer.data(), window.size());
      }
      model_reader& reader = own.reader;
      reopen_voxel_line_reader(reader, window, 0);
      voxel_record voxel;
      while (reader.position < limit) {
        // Only white space left before the next stretch: this one is read.
        // (A voxel line never runs past a line end, so none runs into it.)
        if (at + limit == stretch.end && only_space_until(reader, limit)) {
          reader.position = limit;
          ended = true;
          break;
        }
        const std::size_t before = reader.position;
        if (next_voxel(reader, voxel) != read_step::voxel) {
          ended = true;
          break;
        }
        place_voxel(voxel, request->placement);
        if (!collector.add(voxel, [] { return std::size_t{0}; })) {
          reader.position = before;
          ended = true;
          break;
        }
      }
      at += reader.position;
    }
    stretch.cells.count = cells.size() - stretch.cells.first;
    stretch.run = collector.run;
    stretch.stop = at;
    const std::lock_guard<std::mutex> held(lock);
    read[index] = 1;
    finished.notify_all();
    return true;
  }

  // Waits until stretch `index` is read, reading others into `cells`, store
  // `store`, meanwhile while any are left.
  void wait_for(std::size_t index, std::vector<cell_voxel>& cells, std::size_t store,
                window_reader& own) {
    for (;;) {
      {
        const std::lock_guard<std::mutex> held(lock);
        if (read[index] != 0) return;
      }
      if (!read_next(cells, store, own)) break;
    }
    std::unique_lock<std::mutex> held(lock);
    finished.wait(held, [&] { return read[index] != 0; });
  }
};

// Collects the cells of a long document on two threads. The document is
// cut into stretches at line starts; the first is read as any document is,
// the others as voxel lines the tool writes, each by whichever thread takes
// it first, into that thread's store. When the first reader reaches a
// stretch's start in the state that stretch's reader assumed (a document
// the tool wrote always gets there so), it takes that reader's cells and
// reads on from where it stopped; a stretch it reaches otherwise, it reads
// itself. Either way the cells, the failure and the messages are those of
// one reader. The collector puts its cells into store 0 of `pieces`, the
// second thread into store 1.
bool collect_document_in_stretches(const conversion_request& request, conversion_result& result,
                                   cell_collector& collector, cell_pieces& pieces) {
  const auto consume = [&collector](const voxel_record& record, const auto& line) {
    return collector.add(record, line);
  };
  stretch_reading reading;
  reading.request = &request;
  reading.document = open_model_reader(request.text).document;
  reading.stretches = cut_stretches(reading.document);
  if (reading.stretches.empty()) {
    const bool read = for_each_document_voxel(request, result, consume);
    pieces.add_span(0, 0);
    return read;
  }
  reading.read.assign(reading.stretches.size(), 0);
  std::thread second;
  try {
    second = std::thread([&reading, &pieces] {
      // Its cells are its own until it ends: two vectors side by side, each
      // grown by one thread, would share a cache line and cost both threads
      // a miss at every cell.
      std::vector<cell_voxel> cells = std::move(pieces.stores[1]);
      window_reader own;
      while (!reading.stop.load(std::memory_order_relaxed) && reading.read_next(cells, 1, own)) {
      }
      pieces.stores[1] = std::move(cells);
    });
    start_on_another_core(second);
  } catch (const std::system_error&) {
    // The stretches are all read on this thread.
  }
  // Stopped and waited for however the reading ends.
  struct joined {
    stretch_reading& reading;
    std::thread& thread;
    ~joined() {
      reading.stop.store(true, std::memory_order_relaxed);
      if (thread.joinable()) thread.join();
    }
  } second_thread{reading, second};

  window_reader own;          // this thread's, for the stretches it reads
  std::size_t next = 0;       // the next stretch to reach
  std::size_t own_cells = 0;  // the first of this reader's cells not in a span
  const bool read = for_each_document_voxel(request, result, consume, [&](model_reader& reader) {
    while (next < reading.stretches.size()) {
      const document_stretch& stretch = reading.stretches[next];
      if (!hands_over_at(reader, stretch.start)) {
        // Short of the start (something before it, or another state): read
        // on. Past it: this stretch is read here.
        if (reader.position <= stretch.start) return true;
        ++next;
        continue;
      }
      pieces.add_span(0, own_cells);
      reading.wait_for(next, pieces.stores[0], 0, own);
      if (stretch.cells.count != 0) pieces.spans.push_back(stretch.cells);
      collector.run.join(stretch.run);
      own_cells = pieces.stores[0].size();
      ++next;
      // Read up to the next stretch, or up to something else, which is
      // read here.
      reader.position = stretch.stop;
    }
    return true;
  });
  pieces.add_span(0, own_cells);
  return read;
}

// Where a placement puts the lowest record bytes of its voxels along each
// axis, in corners[0], and the highest, in corners[1] (the lower of the two
// on an axis the placement mirrors). A placement moves each of a record's
// first three bytes along an axis, so every voxel lies between them. False
// when the placement has no voxel.
bool placed_corners(const vox_model_placement& placed, std::int32_t (&corners)[2][3]) {
  // Bytes of records with colour 0 (no voxel) are pushed to the far ends,
  // so that the loop has no branch.
  unsigned char low[3] = {255, 255, 255};
  unsigned char high[3] = {0, 0, 0};
  unsigned char colours = 0;
  const unsigned char* const end = placed.records + std::size_t{4} * placed.record_count;
  for (const unsigned char* record = placed.records; record != end; record += 4) {
    const unsigned char none = record[3] == 0 ? 255 : 0;
    for (int c = 0; c < 3; ++c) {
      low[c] = std::min<unsigned char>(low[c], record[c] | none);
      high[c] = std::max<unsigned char>(high[c], record[c] & ~none);
    }
    colours |= record[3];
  }
  if (colours == 0) return false;
  for (int axis = 0; axis < 3; ++axis) {
    const std::size_t column = placed.column[axis];
    // Within 32 bits, as every placed voxel is.
    corners[0][axis] =
        static_cast<std::int32_t>(placed.base[axis] + placed.sign[axis] * low[column]);
    corners[1][axis] =
        static_cast<std::int32_t>(placed.base[axis] + placed.sign[axis] * high[column]);
  }
  return true;
}

// The box of every voxel a .vox scene places.
class scene_box final : public vox_scene_visitor {
 public:
  void place(const vox_model_placement& placed) override {
    std::int32_t corners[2][3];
    if (!placed_corners(placed, corners)) return;
    for (const auto& corner : corners) box.add(cell_voxel{corner[0], corner[1], corner[2]});
  }
  voxel_box box;
};

// Puts every voxel a .vox scene places on a cell of [first, last) into a
// grid of its box, and counts the cells it fills. Walks of one scene with
// ranges apart may fill one grid at once.
class scene_grid final : public vox_scene_visitor {
 public:
  scene_grid(voxel_grid& grid, std::size_t first, std::size_t last)
      : grid_(grid), first_(first), count_(last - first) {}

  void place(const vox_model_placement& placed) override {
    // A record's cell is an affine function of its bytes, every placed
    // position being within 32 bits: the cell of bytes 0, 0, 0 plus a step
    // for each byte.
    const auto row = static_cast<std::int64_t>(grid_.size_x);
    const std::int64_t strides[3] = {1, row * grid_.size_z, row};  // x, y, z
    const std::int64_t mins[3] = {grid_.min_x, grid_.min_y, grid_.min_z};
    std::int64_t origin = 0;
    std::int64_t steps[3] = {0, 0, 0};  // by record byte
    for (int axis = 0; axis < 3; ++axis) {
      origin += (placed.base[axis] - mins[axis]) * strides[axis];
      steps[placed.column[axis]] = placed.sign[axis] * strides[axis];
    }
    std::uint32_t values[256];
    for (int colour = 0; colour < 256; ++colour) {
      const std::array<std::uint8_t, 3>& rgb = placed.palette[colour];
      values[colour] = cell_value(cell_voxel{0, 0, 0, rgb[0], rgb[1], rgb[2]});
    }
    std::uint32_t* const cells = grid_.cells.data();
    std::size_t added = 0;
    const unsigned char* const end = placed.records + std::size_t{4} * placed.record_count;
    for (const unsigned char* record = placed.records; record != end; record += 4) {
      const auto at = static_cast<std::size_t>(origin + steps[0] * record[0] +
                                               steps[1] * record[1] + steps[2] * record[2]);
      if (record[3] == 0 || at - first_ >= count_) continue;
      added += cells[at] == 0;
      cells[at] = values[record[3]];
    }
    added_ += added;
  }

  std::size_t added() const { return added_; }

 private:
  voxel_grid& grid_;
  std::size_t first_;
  std::size_t count_;
  std::size_t added_ = 0;
};

// Faults in a grid's cells and puts the scene's voxels in: the halves of the
// grid by two threads when `in_two` and there are enough cells to be worth
// one. The system clears every fresh page, which takes most of the time, and
// two cores clear twice as many; each then fills the half it cleared.
void fill_grid(std::string_view scene, voxel_grid& grid, bool in_two) {
  constexpr std::size_t min_bytes_in_two = std::size_t{8} << 20;
  const std::size_t size = grid.cells.size();
  const std::size_t half = size / 2;
  std::size_t added_by_helper = 0;
  const auto fill = [scene, &grid](std::size_t first, std::size_t last) {
    grid.cells.fault_in(first, last);
    scene_grid filling(grid, first, last);
    read_vox_scene(scene, filling);
    return filling.added();
  };
  std::thread helper;
  if (in_two && size * sizeof(std::uint32_t) >= min_bytes_in_two) {
    try {
      helper = std::thread([&] { added_by_helper = fill(half, size); });
      start_on_another_core(helper);
    } catch (const std::system_error&) {
      // All of it on this thread.
    }
  }
  const std::size_t added = fill(0, helper.joinable() ? half : size);
  if (helper.joinable()) helper.join();
  grid.voxel_count = added + added_by_helper;
}

// Reads a .vox input into its grid of placed cells; false when it cannot be
// read or is too large (result.failure says why). The scene is walked for
// the box and then for the cells (by each of the threads that fill the grid),
// so that the voxels are never kept on their own.
bool read_vox_grid(const conversion_request& request, conversion_result& result, voxel_grid& grid) {
  scene_box bounds;
  const vox_read_result read = read_vox_scene(request.text, bounds);
  if (!read.error.empty()) {
    result.failure = "cannot read model: " + request.input_path +
                     ": damaged .vox file: " + read.error + ", at byte " +
                     std::to_string(read.error_offset);
    return false;
  }
  if (read.frames_left_out != 0) {
    result.notes.push_back(request.input_path + ": left out " +
                           std::to_string(read.frames_left_out) +
                           (read.frames_left_out == 1 ? " further model" : " further models") +
                           " (animation frames); only the first is converted");
  }
  if (!open_voxel_grid(bounds.box, grid)) {
    result.failure = "cannot convert: " + request.input_path +
                     ": the scene's bounding box holds more than 2^28 cells";
    return false;
  }
  fill_grid(request.text, grid, request.parallel);
  return true;
}

template <typename Consume>
bool for_each_vox_voxel(const conversion_request& request, conversion_result& result,
                        Consume& consume) {
  voxel_grid grid;
  if (!read_vox_grid(request, result, grid)) return false;
  bool going = true;
  for_each_voxel_in_walk_order(grid, [&](const cell_voxel& cell) {
    if (going) going = consume(placed_record(cell, request.placement), no_line);
  });
  return going;
}

// Hands every voxel of the input, placed, to `consume(record, line)` in the
// order its document gets them, where `line()` gives the voxel's line or 0;
// `consume` returns false to stop. False when
// the input could not be read (result.failure says why) or consume stopped.
template <typename Consume>
bool for_each_placed_voxel(const conversion_request& request, conversion_result& result,
                           Consume&& consume) {
  switch (request.input) {
    case content_kind::model_document:
      return for_each_document_voxel(request, result, consume);
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
  const bool in_stretches = request.read_ahead && request.input == content_kind::model_document;
  cell_pieces pieces;
  // A store for each reading thread.
  pieces.stores.resize(in_stretches ? 2 : 1);
  // Room in each for as many voxels as the document's shortest lines could
  // hold, touched only as it fills: either thread may read most of it.
  constexpr std::size_t shortest_voxel_line = 44;
  if (request.input == content_kind::model_document) {
    for (std::vector<cell_voxel>& store : pieces.stores) {
      store.reserve(request.text.size() / shortest_voxel_line + 1);
      advise_large_pages(store.data(), store.capacity() * sizeof(cell_voxel));
    }
  }
  cell_collector collector{&request, &pieces.stores[0], {}, {}};
  bool read = false;
  if (in_stretches) {
    read = collect_document_in_stretches(request, result, collector, pieces);
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
  std::vector<cell_voxel> cells;
  if (!walk_ordered || request.format != output_format::csv) cells = joined_pieces(pieces);
  voxel_grid grid;
  if (!(walk_ordered ? make_voxel_box(collector.run, grid)
                     : make_voxel_grid(cells, collector.run.box, grid))) {
    result.failure = "cannot convert: " + request.input_path +
                     ": the model's bounding box holds more than 2^28 cells";
    return result;
  }
  if (grid.voxel_count == 0) {
    result.failure = "cannot convert: " + request.input_path + ": the model has no voxel to write";
    return result;
  }
  if (!walk_ordered) cells = std::vector<cell_voxel>();
  result.voxel_count = grid.voxel_count;
  // The grid is the voxels' bounding box.
  result.bounds.add(static_cast<float>(grid.min_x), static_cast<float>(grid.min_y),
                    static_cast<float>(grid.min_z));
  result.bounds.add(static_cast<float>(std::int64_t{grid.min_x} + grid.size_x - 1),
                    static_cast<float>(std::int64_t{grid.min_y} + grid.size_y - 1),
                    static_cast<float>(std::int64_t{grid.min_z} + grid.size_z - 1));
  result.grid_min[0] = grid.min_x;
  result.grid_min[1] = grid.min_y;
  result.grid_min[2] = grid.min_z;
  result.grid_size[0] = grid.size_x;
  result.grid_size[1] = grid.size_y;
  result.grid_size[2] = grid.size_z;
  if (request.format == output_format::csv) {
    result.sink_failed =
        !(walk_ordered ? write_sproxel_csv(pieces, grid, sink) : write_sproxel_csv(grid, sink));
    result.ok = !result.sink_failed;
    return result;
  }
  if (!walk_ordered) {
    cells.reserve(grid.voxel_count);
    for_each_voxel_in_walk_order(grid,
                                 [&cells](const cell_voxel& voxel) { cells.push_back(voxel); });
    grid = voxel_grid();
  }
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
  const auto note = [&request, &result](const voxel_record& record) {
    if (request.count) {
      ++result.voxel_count;
      result.bounds.add(record.x, record.y, record.z);
    }
  };
  if (request.input == content_kind::sproxel_csv) {
    // The common case keeps its own loop: the walk straight into the writer.
    const token_list tokens = read_token_list(request.text);
    const std::optional<grid_size> size = parse_grid_size(tokens);
    if (!size) {
      result.failure = grid_size_failure(request.input_path);
      return result;
    }
    if (!request.count) {
      const bool written =
          request.parallel
              ? write_model_in_parallel(tokens, *size, request.placement, request.line_end, sink,
                                        request.nul_unchecked, request.piece_threads)
              : write_model(tokens, *size, request.placement, request.line_end, sink,
                            output_block_size(request.text.size()));
      result.sink_failed = !written;
    } else {
      result.sink_failed = !write_csv_document(tokens, *size, request.placement, request.line_end,
                                               sink, default_block_size, note);
    }
    result.ok = !result.sink_failed;
    return result;
  }
  if (request.input == content_kind::vox) {
    // Whole cells with colour bytes: the lines come from the grid's texts.
    voxel_grid grid;
    if (!read_vox_grid(request, result, grid)) return result;
    if (request.parallel && !request.count) {
      result.sink_failed = !write_grid_in_parallel(grid, request.placement, request.line_end, sink,
                                                   request.piece_threads);
      result.ok = !result.sink_failed;
      return result;
    }
    model_writer writer = open_model_writer(sink, request.line_end);
    write_head(writer);
    grid_line_writer lines;
    const bool tabled =
        open_grid_line_writer(lines, writer, request.placement, grid.min_x, grid.size_x);
    for_each_voxel_in_walk_order(grid, [&](const cell_voxel& cell) {
      if (tabled) {
        write_grid_voxel(lines, cell.x, cell.y, cell.z, cell.r, cell.g, cell.b);
      } else {
        write_voxel(writer, placed_record(cell, request.placement));
      }
      if (request.count) note(placed_record(cell, request.placement));
    });
    result.sink_failed = !write_tail(writer);
    result.ok = !result.sink_failed;
    return result;
  }
  model_writer writer = open_model_writer(sink, request.line_end);
  write_head(writer);
  const bool read =
      for_each_placed_voxel(request, result, [&](const voxel_record& record, const auto&) {
        write_voxel(writer, record);
        note(record);
        return !writer.block.failed;
      });
  if (!read && !writer.block.failed) return result;
  result.sink_failed = !write_tail(writer);
  result.ok = !result.sink_failed;
  return result;
}

}  // namespace

cell_voxel drawn_cell(const voxel_record& record) {
  return {nearest_cell(record.x), nearest_cell(record.y), nearest_cell(record.z),
          colour_byte(record.r),  colour_byte(record.g),  colour_byte(record.b)};
}

namespace {

// Hands the placed cells of an export's voxels to `take(cells, count)` a
// few hundred at a time, which fills memory faster than one after another.
template <typename Take>
void walk_exported_cells(const token_list& tokens, const grid_size& size,
                         const model_placement& placement, Take&& take) {
  // An exported cell's colour bytes straight from its digits, anything
  // else through its record. Every cell of a row is on one y and z, and
  // the x cells of the grid are worked out once.
  std::vector<std::int32_t> placed_x(
      static_cast<std::size_t>(std::clamp(size.size_x, 1, max_compared_row)));
  for (std::size_t x = 0; x < placed_x.size(); ++x) {
    placed_x[x] = nearest_cell(
        place_index(static_cast<std::int64_t>(x), placement.axis_factor_x, placement.offset_x));
  }
  std::vector<cell_voxel> gathered(512);
  std::size_t gathered_count = 0;
  const auto keep = [&](const cell_voxel& cell) {
    gathered[gathered_count++] = cell;
    if (gathered_count == gathered.size()) {
      take(gathered.data(), gathered.size());
      gathered_count = 0;
    }
  };
  bool in_row = false;
  cell_cursor row;  // of y and z below
  std::int32_t row_y = 0;
  std::int32_t row_z = 0;
  walk_filled_cells(tokens, size, [&](const cell_cursor& at, std::string_view token) {
    std::uint8_t rgb[3];
    if (!read_colour_bytes(token, rgb)) {
      keep(drawn_cell(make_voxel_record(at, token, placement)));
      return;
    }
    if (!in_row || at.cell_y != row.cell_y || at.cell_z != row.cell_z) {
      in_row = true;
      row = at;
      row_y = nearest_cell(place_index(at.cell_y, placement.axis_factor_y, placement.offset_y));
      row_z = nearest_cell(place_index(at.cell_z, placement.axis_factor_z, placement.offset_z));
    }
    const std::int32_t x =
        static_cast<std::size_t>(at.cell_x) < placed_x.size()
            ? placed_x[static_cast<std::size_t>(at.cell_x)]
            : nearest_cell(place_index(at.cell_x, placement.axis_factor_x, placement.offset_x));
    keep({x, row_y, row_z, rgb[0], rgb[1], rgb[2]});
  });
  take(gathered.data(), gathered_count);
}

}  // namespace

std::optional<cell_box> exported_grid_cells(std::string_view text,
                                            const model_placement& placement) {
  const std::optional<grid_size> size = parse_grid_size(read_token_list(text));
  if (!size) return std::nullopt;
  // Placing is monotonic along each axis, so the ends of the grid are the
  // ends of the box.
  const std::int32_t sizes[3] = {size->size_x, size->size_y, size->size_z};
  const float factors[3] = {placement.axis_factor_x, placement.axis_factor_y,
                            placement.axis_factor_z};
  const std::int32_t offsets[3] = {placement.offset_x, placement.offset_y, placement.offset_z};
  cell_box box;
  for (int a = 0; a < 3; ++a) {
    const std::int32_t first = nearest_cell(place_index(0, factors[a], offsets[a]));
    const std::int32_t last =
        nearest_cell(place_index(std::max(sizes[a], 1) - 1, factors[a], offsets[a]));
    box.low[a] = std::min(first, last);
    box.high[a] = std::max(first, last);
  }
  return box;
}

void for_each_exported_cell(std::string_view text, const model_placement& placement,
                            const std::function<void(const cell_voxel*, std::size_t)>& take) {
  const token_list tokens = read_token_list(text);
  const std::optional<grid_size> size = parse_grid_size(tokens);
  if (size) walk_exported_cells(tokens, *size, placement, take);
}

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
    // Room for every cell of a full export (ten bytes a cell) or of the
    // grid, whichever is less, so that the cells are written once into
    // memory that is only touched as it fills.
    result.placed.reserve(static_cast<std::size_t>(grid_cells_up_to(*size, text.size() / 10 + 1)));
    walk_exported_cells(tokens, *size, placement, [&](const cell_voxel* cells, std::size_t count) {
      result.placed.insert(result.placed.end(), cells, cells + count);
    });
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
