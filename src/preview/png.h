// PNG files made from pictures in memory.
#pragma once

#include <string>

#include "preview/rgba_image.h"

namespace cubewright {

/// The bytes of a PNG file holding the picture as 8-bit RGBA. Empty when the
/// picture has no pixels or memory ran out.
std::string encode_png(const rgba_image& image);

/// A complete zlib stream of `data`, made for speed: runs that repeat the
/// bytes `near` or `far` places back become matches, everything else
/// literals. Any zlib reader inflates it back to `data`. Both distances must
/// lie between 1 and 32768.
std::string fast_zlib(const unsigned char* data, std::size_t size, std::size_t near,
                      std::size_t far);

}  // namespace cubewright
