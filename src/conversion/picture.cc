#include "conversion/picture.h"

#include <new>

#include "sproxel_csv/export_cells.h"
#include "threads/helper_thread.h"

namespace cubewright {

void picture_drawing::start() {
  // Without a thread, drawn when asked for.
  thread_ = start_helper_thread([this] { draw(2); });
}

const picture_bytes& picture_drawing::png() {
  finish();
  if (!drawn_) draw(1);
  return png_;
}

void picture_drawing::finish() {
  if (thread_.joinable()) thread_.join();
}

// With `threads` 2, the picture may take a second thread to compress
// itself: by then the run's own work is mostly done.
void picture_drawing::draw(int threads) {
  drawn_ = true;
  try {
    preview_request picture;
    std::vector<cell_voxel> placed;
    std::size_t count = 0;
    const std::optional<preview_sketch> sketched = sketch();
    if (sketched) {
      picture.sketch = &*sketched;
      count = sketched->added();
    } else {
      placed =
          read_model_cells(request_.text, request_.input, request_.input_path, request_.placement)
              .placed;
      picture.model = &placed;
      picture.compare = compared_;
      count = placed.size();
    }
    picture.title = title_head_ + std::to_string(count) + title_tail_;
    png_ = encode_png(render_preview(picture), threads);
  } catch (const std::bad_alloc&) {
    png_.clear();
  }
}

// Of an export drawn alone, only what the picture shows is kept, found as
// its cells go by. None when the export cannot be drawn that way.
std::optional<preview_sketch> picture_drawing::sketch() const {
  if (request_.input != content_kind::sproxel_csv || compared_ != nullptr) return std::nullopt;
  const std::optional<cell_box> box = exported_grid_cells(request_.text, request_.placement);
  if (!box || !preview_sketch::fits(box->low, box->high)) return std::nullopt;
  preview_sketch seen(box->low, box->high);
  for_each_exported_cell(request_.text, request_.placement,
                         [&seen](const cell_voxel* cells, std::size_t n) { seen.add(cells, n); });
  if (seen.spoilt()) return std::nullopt;
  return seen;
}

}  // namespace cubewright
