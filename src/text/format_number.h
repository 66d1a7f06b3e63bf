// Number text for the document, the same on every platform and in every locale.
#pragma once

#include <cstddef>
#include <string>

namespace cubewright {

/// The longest text format_number writes ("-1.23457e-38" and the like).
inline constexpr std::size_t max_number_text = 16;

/// Writes the text of `value`, widened to double, by the "%g" rule: six
/// significant digits, correctly rounded with exact ties going to the even
/// digit; fixed notation for decimal exponents -4 to 5, exponent notation with
/// at least two exponent digits otherwise; trailing fraction zeros dropped.
/// Both zeros are written "0". Writes at most max_number_text bytes to `out`
/// and returns how many; never uses the C library's formatting or locale.
std::size_t format_number(float value, char* out);

/// The same text as a string.
std::string format_number(float value);

}  // namespace cubewright
