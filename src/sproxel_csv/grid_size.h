// The grid header of an export, and the decimal numbers it is written in.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "sproxel_csv/token_list.h"

namespace cubewright {

/// The declared cell counts along x, y and z. Zero and negative sizes are
/// kept as they are; the cell walk defines what they mean.
struct grid_size {
  std::int32_t size_x = 0;
  std::int32_t size_y = 0;
  std::int32_t size_z = 0;
};

/// Reads a whole number from the start of text in base 10 or 16, the way C
/// reads one: leading white space, an optional sign, in base 16 an optional
/// 0x or 0X, then digits up to the first other character; 0 without a digit.
/// Never fails: values beyond 32 bits saturate to the nearest limit.
std::int32_t parse_integer(std::string_view text, int base);

/// Converts text the way atoi does (base 10 above).
inline std::int32_t parse_decimal(std::string_view text) { return parse_integer(text, 10); }

/// The sizes from the first three tokens, or nothing when the list holds
/// fewer than three.
std::optional<grid_size> parse_grid_size(const token_list& tokens);

/// True when text (or its start) is what the editor exports: its first three
/// fields are whole numbers (an optional sign and digits alone) and its
/// fourth begins with "#". Used to recognise an export that must not be
/// overwritten by mistake.
bool looks_like_sproxel_export(std::string_view text);

}  // namespace cubewright
