#include "model_document/document_pieces.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#if defined(__x86_64__) || defined(_M_X64) || defined(__i386__) || defined(_M_IX86)
#include <immintrin.h>
#endif

#include "threads/helper_thread.h"
#include "tuning.h"

namespace cubewright {
namespace {

bool same_cell(const cell_cursor& a, const cell_cursor& b) {
  return a.cell_x == b.cell_x && a.cell_y == b.cell_y && a.cell_z == b.cell_z;
}

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
  for (int spin = 0; spin < tuning::turn_spins; ++spin) {
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

}  // namespace

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
  if (threads > 1 && source.count() > 1) {
    helper = start_helper_thread([&run] { write_pieces(&run); });
  }
  write_pieces(&run);
  if (helper.joinable()) helper.join();
  return !run.failed && run.written == source.count();
}

namespace {

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
      } while (y > 0 && cells < tuning::grid_piece_cells);
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

bool write_grid_document_in_pieces(const voxel_grid& grid, const model_placement& placement,
                                   std::string_view line_end, output_sink sink, int threads) {
  const grid_pieces pieces(grid, placement);
  return write_in_pieces(pieces, placement, line_end, grid.min_x, grid.size_x, sink, threads);
}

}  // namespace cubewright
