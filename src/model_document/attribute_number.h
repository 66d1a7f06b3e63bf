// Decimal numbers in attribute values, read exactly as strtod reads them.
#pragma once

#include <cstddef>
#include <string_view>

namespace cubewright {

/// The longest number text read, not counting the blanks around it. Longer
/// text is refused rather than copied (the document itself is never copied).
inline constexpr std::size_t max_number_text_length = 1024;

enum class number_status { ok, not_a_number, not_finite, too_long };

/// Reads the whole of `text` (attribute-value-normalised, references already
/// decoded) as `(float)strtod(text)`: blanks (" \t\n\v\f\r") may surround the
/// number; anything else left over, or no number at all, is not_a_number.
/// A number that is no finite float (nan, inf, 1e400, 3.5e38) is not_finite,
/// `value` then unspecified: a model has no place for it.
/// strtod runs on a NUL-terminated copy under the process's LC_NUMERIC, which
/// is "C" unless something calls setlocale (cubewright never does).
number_status read_number(std::string_view text, float& value);

/// The exact fast path read_number tries first: plain decimals
/// ([sign]digits[.digits][e[sign]digits], blanks around) whose integer
/// mantissa is at most 2^53 and whose power of ten is within +-22, computed
/// with one exact multiply or divide, which gives strtod's double, always a
/// finite float. False when the text is not of that shape; `value` is then
/// unspecified.
bool read_decimal_fast(std::string_view text, double& value);

/// The same fast path on the decimal that starts at `first` (no blanks
/// before it) and ends at the first character that cannot continue it;
/// `first` is moved past it. False, and `first` unchanged, when that decimal
/// is outside the fast path; then the text decides nothing.
bool read_decimal_prefix(const char*& first, const char* end, double& value);

}  // namespace cubewright
