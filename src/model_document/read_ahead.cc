#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>
#include <vector>

#include "model_document/document_source.h"
#include "threads/helper_thread.h"
#include "tuning.h"

namespace cubewright {
namespace {

// A piece of a long document, from one line start to the next piece's,
// read apart from the rest by whichever thread is free, and what its reader
// found: its cells (a span of that thread's store), what they are as a run,
// and where it stopped: at `end` when only white space was left, else at
// the first thing it did not take.
struct document_piece {
  std::size_t start = 0;
  std::size_t end = 0;
  cell_pieces::span cells;
  voxel_run run;
  std::size_t stop = 0;
};

// A piece is read tuning::read_ahead_copy_bytes at a time (copied into a
// buffer of the reading thread where the input has a copier), and this many
// more after them: a voxel line starting in those bytes, and the white space
// before it, lie in them and their reach.
constexpr std::size_t copy_reach = 512;

// The pieces after the first of `document`, cut at line starts.
std::vector<document_piece> cut_pieces(std::string_view document) {
  const std::size_t count =
      std::clamp(document.size() / tuning::read_ahead_piece_bytes, tuning::min_read_ahead_pieces,
                 tuning::max_read_ahead_pieces);
  std::vector<document_piece> pieces_ahead;
  for (std::size_t k = 1; k < count; ++k) {
    const std::size_t line_end = document.find('\n', document.size() / count * k);
    if (line_end == std::string_view::npos) break;
    const std::size_t start = line_end + 1;
    if (start == document.size() || (!pieces_ahead.empty() && start <= pieces_ahead.back().start))
      continue;
    if (!pieces_ahead.empty()) pieces_ahead.back().end = start;
    document_piece piece;
    piece.start = start;
    piece.end = document.size();
    pieces_ahead.push_back(piece);
  }
  return pieces_ahead;
}

// What a thread keeps from one part of a piece to the next: the buffer
// they are copied into, and a reader that remembers the colour texts it
// has read.
struct copy_reader {
  std::vector<char> buffer;
  model_reader reader = open_voxel_line_reader({}, 0);
};

// The pieces of a document and the threads reading them.
struct piece_reading {
  const document_input* input = nullptr;
  std::string_view document;
  std::vector<document_piece> pieces_ahead;
  std::atomic<std::size_t> next_unread{0};  // the first piece no thread has taken
  std::atomic<bool> stop{false};
  std::mutex lock;
  std::condition_variable finished;  // a piece was read
  std::vector<char> read;            // per piece, under the lock

  // Takes the next piece nobody has taken and reads its voxel lines, as
  // the tool writes them, into `cells`, which become store `store`; false
  // when none was left. Each part of the piece is read where it lies, or
  // from a copy in the thread's buffer (made when first needed). A voxel
  // that is no whole cell, or a part that cannot be copied, ends the
  // piece before it: the first reader then reads on from there, and names
  // its line.
  bool read_next(std::vector<cell_voxel>& cells, std::size_t store, copy_reader& own) {
    const std::size_t index = next_unread.fetch_add(1);
    if (index >= pieces_ahead.size()) return false;
    document_piece& piece = pieces_ahead[index];
    cell_collector collector{input->path, &cells, {}, {}};
    piece.cells = {store, cells.size(), 0};
    const text_copier& copier = input->copier;
    // The copier counts from the text's start, before any byte order mark.
    const auto text_offset = static_cast<std::size_t>(document.data() - input->text.data());
    std::size_t at = piece.start;  // where the part read next starts
    bool ended = false;
    while (!ended && at < piece.end && !stop.load(std::memory_order_relaxed)) {
      const std::size_t limit = std::min(tuning::read_ahead_copy_bytes, piece.end - at);
      std::string_view part = document.substr(at, limit + copy_reach);
      if (copier.copy != nullptr) {
        std::vector<char>& buffer = own.buffer;
        if (buffer.empty()) buffer.resize(tuning::read_ahead_copy_bytes + copy_reach);
        if (!copier.copy(copier.context, text_offset + at, buffer.data(), part.size())) break;
        part = std::string_view(buffer.data(), part.size());
      }
      model_reader& reader = own.reader;
      reopen_voxel_line_reader(reader, part, 0);
      voxel_record voxel;
      while (reader.position < limit) {
        // Only white space left before the next piece: this one is read.
        // (A voxel line never runs past a line end, so none runs into it.)
        if (at + limit == piece.end && only_space_until(reader, limit)) {
          reader.position = limit;
          ended = true;
          break;
        }
        const std::size_t before = reader.position;
        if (next_voxel(reader, voxel) != read_step::voxel) {
          ended = true;
          break;
        }
        place_voxel(voxel, input->placement);
        if (!collector.add(voxel, [] { return std::size_t{0}; })) {
          reader.position = before;
          ended = true;
          break;
        }
      }
      at += reader.position;
    }
    piece.cells.count = cells.size() - piece.cells.first;
    piece.run = collector.run;
    piece.stop = at;
    const std::lock_guard<std::mutex> held(lock);
    read[index] = 1;
    finished.notify_all();
    return true;
  }

  // Waits until piece `index` is read, reading others into `cells`, store
  // `store`, meanwhile while any are left.
  void wait_for(std::size_t index, std::vector<cell_voxel>& cells, std::size_t store,
                copy_reader& own) {
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

}  // namespace

bool collect_document_cells_ahead(const document_input& input, source_report& result,
                                  cell_collector& collector, cell_pieces& pieces) {
  const auto consume = [&collector](const voxel_record& record, const auto& line) {
    return collector.add(record, line);
  };
  piece_reading reading;
  reading.input = &input;
  reading.document = open_model_reader(input.text).document;
  reading.pieces_ahead = cut_pieces(reading.document);
  if (reading.pieces_ahead.empty()) {
    const bool read = for_each_document_voxel(input, result, consume);
    pieces.add_span(0, 0);
    return read;
  }
  reading.read.assign(reading.pieces_ahead.size(), 0);
  // Without it, the pieces are all read on this thread.
  std::thread second = start_helper_thread([&reading, &pieces] {
    // Its cells are its own until it ends: two vectors side by side, each
    // grown by one thread, would share a cache line and cost both threads
    // a miss at every cell.
    std::vector<cell_voxel> cells = std::move(pieces.stores[1]);
    copy_reader own;
    while (!reading.stop.load(std::memory_order_relaxed) && reading.read_next(cells, 1, own)) {
    }
    pieces.stores[1] = std::move(cells);
  });
  // Stopped and waited for however the reading ends.
  struct joined {
    piece_reading& reading;
    std::thread& thread;
    ~joined() {
      reading.stop.store(true, std::memory_order_relaxed);
      if (thread.joinable()) thread.join();
    }
  } second_thread{reading, second};

  copy_reader own;            // this thread's, for the pieces it reads
  std::size_t next = 0;       // the next piece to reach
  std::size_t own_cells = 0;  // the first of this reader's cells not in a span
  const bool read = for_each_document_voxel(input, result, consume, [&](model_reader& reader) {
    while (next < reading.pieces_ahead.size()) {
      const document_piece& piece = reading.pieces_ahead[next];
      if (!hands_over_at(reader, piece.start)) {
        // Short of the start (something before it, or another state): read
        // on. Past it: this piece is read here.
        if (reader.position <= piece.start) return true;
        ++next;
        continue;
      }
      pieces.add_span(0, own_cells);
      reading.wait_for(next, pieces.stores[0], 0, own);
      if (piece.cells.count != 0) pieces.spans.push_back(piece.cells);
      collector.run.join(piece.run);
      own_cells = pieces.stores[0].size();
      ++next;
      // Read up to the next piece, or up to something else, which is
      // read here.
      reader.position = piece.stop;
    }
    return true;
  });
  pieces.add_span(0, own_cells);
  return read;
}

}  // namespace cubewright
