// The picture of a conversion, drawn from its input read again with the
// same placement, alongside the run or when it is asked for.
#pragma once

#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "conversion/convert.h"
#include "preview/png.h"
#include "preview/preview.h"

namespace cubewright {

/// The picture of a conversion as PNG bytes: drawn on a thread of its own
/// while the run goes on once `start` is called and a thread can be started,
/// else when `png` asks for it. Empty when there was no memory for it. The
/// request is copied, so the run may go on changing its own; whatever the
/// input turns out to be, reading it is safe. Its title is `title_head`, the
/// count of voxels drawn, then `title_tail`.
class picture_drawing {
 public:
  picture_drawing(const conversion_request& request, const std::vector<cell_voxel>* compared,
                  std::string title_head, std::string title_tail)
      : request_(request),
        compared_(compared),
        title_head_(std::move(title_head)),
        title_tail_(std::move(title_tail)) {}
  picture_drawing(const picture_drawing&) = delete;
  picture_drawing& operator=(const picture_drawing&) = delete;
  ~picture_drawing() { finish(); }

  void start();
  const picture_bytes& png();

 private:
  void finish();
  void draw(int threads);
  std::optional<preview_sketch> sketch() const;

  conversion_request request_;  // a copy, never changed
  const std::vector<cell_voxel>* compared_;
  std::string title_head_;  // the title: head, voxel count, tail
  std::string title_tail_;
  std::thread thread_;
  picture_bytes png_;
  bool drawn_ = false;
};

}  // namespace cubewright
