// The strict check of a sproxel CSV export: whether a text is exactly what the
// editor writes, and where it is not.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace cubewright {

/// Why text is not a well-formed sproxel export, as
/// "PATH:LINE:COLUMN: not a sproxel CSV export: WHAT", or nothing when it is
/// one.
///
/// Fields are split as read_token_list splits them. Well-formed: the first
/// three non-empty fields are whole numbers from 1 to 2147483647 (digits
/// alone, blanks (space, tab) around them allowed) whose product fits in 64
/// bits; then exactly that many fields of "#" and eight hex digits of either
/// case; after them only empty fields. LINE and COLUMN count from 1, COLUMN
/// in bytes, the byte order mark left out; they give where the wrong field
/// starts, or where the text ends when it is cut short. A field quoted in the
/// message is cut to 20 bytes, "..." after the quotes saying so, and a byte
/// outside printable ASCII is written \xHH. Allocates nothing when the text
/// is well-formed.
std::optional<std::string> export_fault(std::string_view text, std::string_view path);

/// True when `start`, the first bytes of a file (possibly cut anywhere),
/// begins as a well-formed export does: three header numbers, the third at
/// least begun, and cells so far, all as export_fault wants them, where the
/// last field may be cut short (a number whose digits may go on, a cell of
/// fewer than nine bytes, a CR whose LF is cut off).
bool begins_like_export(std::string_view start);

}  // namespace cubewright
