// PNG files made from pictures in memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "preview/rgba_image.h"

namespace cubewright {

/// The bytes of a PNG file holding the picture as 8-bit RGBA. Empty when the
/// picture has no pixels or memory ran out. The picture's memory is used up
/// on the way: the rows are filtered in place when it has room for one byte
/// a row more, as make_image leaves, which spares as much fresh memory.
/// With `threads` 2, a large picture is compressed on two (see fast_zlib).
picture_bytes encode_png(rgba_image image, int threads = 1);

/// A complete zlib stream of `data`, made for speed: runs that repeat the
/// bytes `near` or `far` places back become matches, everything else
/// literals. Any zlib reader inflates it back to `data`. Both distances must
/// lie between 1 and 32768. Data of 1 MiB or more is compressed in blocks of
/// about 256 KiB, each a whole number of `far` long: with `threads` 2, on two
/// threads. The stream is the same however many threads write it.
std::string fast_zlib(const unsigned char* data, std::size_t size, std::size_t near,
                      std::size_t far, int threads = 1);

}  // namespace cubewright
