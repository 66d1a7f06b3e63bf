// The benchmark model: an export of any size, the same bytes on every platform.
#pragma once

#include <cstdint>
#include <string>

namespace cubewright_bench {

inline constexpr std::uint64_t default_model_seed = 20260101;

/// A cube of `side` cells a side, laid out as the voxel editor exports it:
/// the size header, then for each layer from the top one line per z row with
/// its x cells joined by ",", and a blank line after each layer. About a fifth
/// of the cells are filled with varied colours in upper-case #RRGGBBAA; the
/// rest hold the empty marker. The same side and seed always give the same
/// text.
std::string model_text(int side, std::uint64_t seed = default_model_seed);

}  // namespace cubewright_bench
