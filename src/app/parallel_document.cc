#include "app/parallel_document.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#if defined(__x86_64__) || defined(_M_X64) || defined(__i386__) || defined(_M_IX86)
#include <immintrin.h>
#endif

#include "threads/other_core.h"
#include "sproxel_csv/cell_walk.h"
#include "model_document/model_writer.h"
#include "model/voxel_grid.h"

namespace cubewright {
namespace {

struct piece {
  const char* start = nullptr;
  const char* end = nullptr;
  cell_cursor expected;  // where the regular lines say its first cell is
};

bool same_cell(const cell_cursor& a, const cell_cursor& b) {
  return a.cell_x == b.cell_x && a.cell_y == b.cell_y && a.cell_z == b.cell_z;
}

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

// The cells cut at line starts about document_piece_size apart.
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
  while (static_cast<std::size_t>(end - start) > 2 * document_piece_size) {
    const char* cut = start + document_piece_size;
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

// What a document written in pieces is made of: how many pieces, where each
// is expected to start, and the lines of each.
class piece_source {
 public:
  virtual ~piece_source() = default;
  virtual std::size_t count() const = 0;
  virtual cell_cursor expected_start(std::size_t index) const = 0;
  // Writes the lines of piece `index` from `cursor` on, through `lines` when
  // `tabled`, else through write_voxel; leaves the cursor where the next
  // piece starts.
  virtual void write(std::size_t index, cell_cursor& cursor, model_writer& writer,
                     grid_line_writer& lines, bool tabled) const = 0;
  // Whether the input of piece `index` is to be refused: it holds a NUL byte
  // that nothing checked before.
  virtual bool refused(std::size_t index) const {
    static_cast<void>(index);
    return false;
  }
};

// What the two threads share.
struct shared_run {
  const piece_source* source = nullptr;
  const model_placement* placement = nullptr;
  std::string_view line_end;
  std::int64_t x_first = 0;
  std::int64_t x_count = 0;
  output_sink target;

  std::mutex lock;
  std::condition_variable turn_changed;
  std::atomic<std::size_t> next_piece{0};  // the first piece no thread has taken
  std::size_t written = 0;                 // pieces written so far
  std::vector<cell_cursor> after;          // per written piece: where the next starts
  bool failed = false;
  // `written` and `failed`, also read without the lock by a thread about
  // to wait for its turn.
  std::atomic<std::size_t> written_seen{0};
  std::atomic<bool> failed_seen{false};
};

// One piece on its way out: whether it is its turn yet, where it was
// formatted from, and whether that proved wrong.
struct piece_output {
  shared_run* run = nullptr;
  std::size_t index = 0;
  bool in_turn = false;
  cell_cursor start;
  bool misplaced = false;
};

// How long a thread waits awake for its turn: a few hundred microseconds.
constexpr int max_spins = 20000;

void pause_briefly() {
#if defined(__x86_64__) || defined(_M_X64) || defined(__i386__) || defined(_M_IX86)
  _mm_pause();
#else
  std::this_thread::yield();
#endif
}

// Waits for the piece's turn; false after a failure, or when the piece was
// formatted from the wrong cell (then `misplaced`).
bool take_turn(piece_output& out) {
  if (out.in_turn) return true;
  shared_run& run = *out.run;
  // The turn usually comes within the other thread's write: waiting for it
  // awake is quicker than being woken, which can take as long as a write.
  for (int spin = 0; spin < max_spins; ++spin) {
    if (run.written_seen.load(std::memory_order_relaxed) == out.index ||
        run.failed_seen.load(std::memory_order_relaxed)) {
      break;
    }
    pause_briefly();
  }
  std::unique_lock<std::mutex> held(run.lock);
  run.turn_changed.wait(held, [&] { return run.failed || run.written == out.index; });
  if (run.failed) return false;
  out.in_turn = true;
  if (out.index != 0 && !same_cell(run.after[out.index - 1], out.start)) {
    out.misplaced = true;
    return false;
  }
  return true;
}

bool write_piece_bytes(void* context, const char* data, std::size_t size) {
  auto& out = *static_cast<piece_output*>(context);
  if (!take_turn(out)) return false;
  shared_run& run = *out.run;
  if (run.target.write(run.target.context, data, size)) return true;
  const std::lock_guard<std::mutex> held(run.lock);
  run.failed = true;
  run.failed_seen = true;
  run.turn_changed.notify_all();
  return false;
}

// A thread's block, line texts and the pieces it formats.
class piece_writer {
 public:
  explicit piece_writer(shared_run& run)
      : run_(run), writer_(open_model_writer(output_sink{}, run.line_end)) {
    tabled_ = open_grid_line_writer(lines_, writer_, *run.placement, run.x_first, run.x_count);
  }
  piece_writer(const piece_writer&) = delete;
  piece_writer& operator=(const piece_writer&) = delete;

  // Formats and writes piece `index`; false once the run has failed.
  bool write(std::size_t index) {
    if (run_.source->refused(index)) {
      const std::lock_guard<std::mutex> held(run_.lock);
      run_.failed = true;
      run_.failed_seen = true;
      run_.turn_changed.notify_all();
      return false;
    }
    piece_output out;
    out.run = &run_;
    out.index = index;
    {
      const std::lock_guard<std::mutex> held(run_.lock);
      if (run_.failed) return false;
      out.in_turn = run_.written == index;
      out.start =
          index != 0 && out.in_turn ? run_.after[index - 1] : run_.source->expected_start(index);
    }
    for (;;) {
      cell_cursor cursor = out.start;
      format(index, out, cursor);
      if (take_turn(out) && !writer_.block.failed) {
        const std::lock_guard<std::mutex> held(run_.lock);
        run_.after[index] = cursor;
        ++run_.written;
        run_.written_seen = run_.written;
        run_.turn_changed.notify_all();
        return true;
      }
      if (!out.misplaced) return false;
      // It is this piece's turn now, and where it starts is known.
      const std::lock_guard<std::mutex> held(run_.lock);
      out.misplaced = false;
      out.start = run_.after[index - 1];
    }
  }

 private:
  void format(std::size_t index, piece_output& out, cell_cursor& cursor) {
    output_block& block = writer_.block;
    block.sink.context = &out;
    block.sink.write = &write_piece_bytes;
    block.used = 0;
    block.failed = false;
    if (index == 0) write_head(writer_);
    run_.source->write(index, cursor, writer_, lines_, tabled_);
    if (index + 1 == run_.source->count()) {
      write_tail(writer_);
    } else {
      flush_output_block(block);
    }
  }

  shared_run& run_;
  model_writer writer_;
  grid_line_writer lines_;
  bool tabled_ = false;
};

// Takes the next piece nobody has taken and writes it, until the pieces end
// or the run fails. A thread that is held up (the one that started the run,
// or one the system sets aside) simply takes fewer pieces.
void write_pieces(shared_run* run) {
  piece_writer writer(*run);
  for (;;) {
    const std::size_t index = run->next_piece.fetch_add(1, std::memory_order_relaxed);
    if (index >= run->source->count() || !writer.write(index)) return;
  }
}

// Writes the pieces of `source` on `threads` threads (1 or 2).
bool write_in_pieces(const piece_source& source, const model_placement& placement,
                     std::string_view line_end, std::int64_t x_first, std::int64_t x_count,
                     output_sink sink, int threads) {
  shared_run run;
  run.source = &source;
  run.placement = &placement;
  run.line_end = line_end;
  run.x_first = x_first;
  run.x_count = x_count;
  run.target = sink;
  run.after.resize(source.count());
  std::thread helper;
  bool helped = false;
  if (threads > 1 && source.count() > 1) {
    // The one place that must catch: a thread that cannot be started is
    // reported by an exception, and the run goes on without it.
    try {
      helper = std::thread(write_pieces, &run);
      start_on_another_core(helper);
      helped = true;
    } catch (const std::system_error&) {
      helped = false;
    }
  }
  write_pieces(&run);
  if (helped) helper.join();
  return !run.failed && run.written == source.count();
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

// About this many cells of a grid to a piece (whole layers, at least one).
constexpr std::size_t grid_piece_cells = std::size_t{1} << 16;

// The layers of a grid, a few at a time, from the top down. A piece's
// cursor is its first layer; where a piece starts is always known.
class grid_pieces : public piece_source {
 public:
  grid_pieces(const voxel_grid& grid, const model_placement& placement)
      : grid_(grid), placement_(placement) {
    const std::size_t layer_cells =
        static_cast<std::size_t>(grid.size_x) * static_cast<std::size_t>(grid.size_z);
    std::int32_t y = grid.size_y;
    while (y > 0) {
      firsts_.push_back(y - 1);
      std::size_t cells = 0;
      do {
        --y;
        cells += layer_cells;
      } while (y > 0 && cells < grid_piece_cells);
    }
    if (firsts_.empty()) firsts_.push_back(-1);  // no layers: one empty piece
    firsts_.push_back(-1);
  }

  std::size_t count() const override { return firsts_.size() - 1; }

  cell_cursor expected_start(std::size_t index) const override {
    cell_cursor cursor;
    cursor.cell_y = firsts_[index];
    return cursor;
  }

  void write(std::size_t index, cell_cursor& cursor, model_writer& writer, grid_line_writer& lines,
             bool tabled) const override {
    for_each_voxel_in_layers(
        grid_, firsts_[index], firsts_[index + 1], [&](const cell_voxel& cell) {
          if (tabled) {
            write_grid_voxel(lines, cell.x, cell.y, cell.z, cell.r, cell.g, cell.b);
          } else {
            write_voxel(writer, placed_record(cell, placement_));
          }
        });
    cursor.cell_y = firsts_[index + 1];
  }

 private:
  const voxel_grid& grid_;
  const model_placement& placement_;
  std::vector<std::int32_t> firsts_;  // each piece's top layer, then -1
};

}  // namespace

bool write_model_in_parallel(const token_list& tokens, const grid_size& size,
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

bool write_grid_in_parallel(const voxel_grid& grid, const model_placement& placement,
                            std::string_view line_end, output_sink sink, int threads) {
  const grid_pieces pieces(grid, placement);
  return write_in_pieces(pieces, placement, line_end, grid.min_x, grid.size_x, sink, threads);
}

}  // namespace cubewright
