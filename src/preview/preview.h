// The preview picture: a model in the game's frame drawn from the front, the
// side, the top and three-quarter, with an optional second model as a ghost.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "model/placed_model.h"
#include "preview/rgba_image.h"

namespace cubewright {

class preview_sketch;

/// What to draw. Everything is borrowed for the call. The model is `sketch`
/// when given, and `compare` must then be null; otherwise it is `model`,
/// which must not be null, and `compare` may be. Either vector may be empty
/// or hold several voxels on one cell (one of them is drawn). The title is
/// one line of UTF-8 text; each character outside printable ASCII shows as
/// one "?", as does each byte that is not part of a well-formed character,
/// and what does not fit in 1600 pixels is cut.
struct preview_request {
  const std::vector<cell_voxel>* model = nullptr;
  const std::vector<cell_voxel>* compare = nullptr;
  std::string title;
  const preview_sketch* sketch = nullptr;
};

/// Of a model read a few voxels at a time, the voxels the panels can show:
/// in each panel, the nearest voxel of each line of sight. Drawn in place of
/// the whole model they make the same picture, as long as the frame takes
/// one cell a bin and no model is compared. So a large model need not be
/// kept to be drawn (`preview_request::sketch`); its box must be known
/// before its first voxel.
class preview_sketch {
 public:
  /// Whether a model whose voxels all lie in cells `low`..`high` (inclusive)
  /// is drawn one cell a bin when no model is compared, which a sketch needs.
  static bool fits(const std::int32_t (&low)[3], const std::int32_t (&high)[3]);

  /// An empty sketch of a box that fits.
  preview_sketch(const std::int32_t (&low)[3], const std::int32_t (&high)[3]);
  preview_sketch(preview_sketch&&) noexcept;
  preview_sketch& operator=(preview_sketch&&) noexcept;
  ~preview_sketch();

  /// Takes voxels into account. One outside the box spoils the sketch: it
  /// takes no more, and the model must be drawn whole.
  void add(const cell_voxel* voxels, std::size_t count);
  bool spoilt() const { return spoilt_; }

  /// How many voxels were added.
  std::size_t added() const { return added_; }

  /// What the sketch holds, for render_preview.
  struct views;
  const views& seen() const { return *views_; }

 private:
  std::unique_ptr<views> views_;
  std::size_t added_ = 0;
  bool spoilt_ = false;
};

/// The four panels, laid out two by two in this order.
enum class preview_panel { front, side, top, three_quarter };

/// A rectangle of pixels.
struct pixel_rect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

/// Where everything goes in the picture. A cell c spans c..c+1 along each
/// axis, so the axes, the grid lines (every 8 cells) and the origin mark run
/// along cell edges: cell (0, 0, 0) lies just right of, above and in front of
/// the origin.
///
/// The frame holds both models and the origin plus a margin. Each flat panel
/// draws `pixels_per_bin` pixels per bin of `cells_per_bin` cells along each
/// axis: one cell a bin, and as many pixels as fit the picture into about
/// 1600 x 1200 (at most 32, at least 1). A frame wider than 400 cells along an
/// axis puts several cells in a bin, which keeps the panels of the largest
/// picture within about 2300 x 2300 pixels whatever the coordinates.
struct preview_layout {
  int width = 0;
  int height = 0;
  std::int64_t frame_low[3] = {0, 0, 0};  ///< first cell shown along x, y, z
  std::int64_t bins[3] = {0, 0, 0};       ///< bins shown along x, y, z
  std::int64_t cells_per_bin = 1;
  int pixels_per_bin = 1;
  int iso_half = 1;        ///< half the height of a cube's top face, three-quarter panel
  pixel_rect panels[4];    ///< drawing areas, indexed by preview_panel
  pixel_rect captions[4];  ///< the text above each drawing area
  /// The axes' names ("+x") by panel and axis, each within its panel's
  /// margin and clear of every other; a flat panel names only its two axes,
  /// and its third rectangle is empty.
  pixel_rect labels[4][3];
};

/// The layout render_preview uses for a request.
preview_layout layout_preview(const preview_request& request);

/// The pixels that show cell (x, y, z) in a panel: in the flat panels its
/// bin's square; in the three-quarter panel one pixel at the middle of its
/// top face. A cell outside the frame gets pixels outside the panel.
pixel_rect cell_pixels(const preview_layout& layout, preview_panel panel, std::int32_t x,
                       std::int32_t y, std::int32_t z);

/// The pixel where a panel's axes cross: the origin, which a small square
/// ring marks.
pixel_rect origin_pixel(const preview_layout& layout, preview_panel panel);

/// The colour the compare model is drawn in: its outline exactly, its inside
/// mixed over the background.
inline constexpr rgb_colour ghost_colour{255, 0, 200};

/// The picture: an opaque plain background, the title line, and the four
/// panels. Never fails; the cost grows with the voxels and the picture's size.
rgba_image render_preview(const preview_request& request);

}  // namespace cubewright
