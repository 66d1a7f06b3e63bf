// What an input or an existing file holds, as far as its bytes tell, and the
// kinds of content the tool writes.
#pragma once

#include <optional>
#include <string_view>

namespace cubewright {

/// What a text holds: a model document begins with "<" after an optional
/// byte order mark and white space, a .vox file with "VOX ". Anything else
/// is read as CSV, unless it holds a NUL byte, which no export does.
enum class content_kind { sproxel_csv, model_document, vox, binary };

/// What the program writes.
enum class output_format { xml, csv, vox };

content_kind recognise_input(std::string_view text);

/// The same without the pass over the whole text for a NUL byte: CSV for
/// anything that is not a document or a .vox file. For a run that checks
/// the text as it reads it (run_plan::nul_in_pieces).
content_kind recognise_input_unchecked(std::string_view text);

/// Whether the text holds a NUL byte anywhere.
bool holds_nul(std::string_view text);

/// What an existing file that is about to be replaced holds, judged from its
/// start: a sproxel export (see looks_like_sproxel_export), a model document
/// (its first element is <model>, after an optional declaration and
/// comments), a .vox file, or something else (nothing).
std::optional<content_kind> recognise_existing(std::string_view start);

/// What a file that holds no model holds, judged from its start, for
/// messages: "a PNG picture", "a program", "text" or "other data".
std::string_view describe_other(std::string_view start);

/// The name of a kind of content for messages: "a sproxel CSV export", ...
std::string_view describe(content_kind kind);

/// The kind of content a format writes.
content_kind written_kind(output_format format);

}  // namespace cubewright
