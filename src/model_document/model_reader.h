// The pull reader of the voxel model document: one voxel at a time, straight
// from the document's bytes.
//
// The tool carries its own reader because no XML parser packaged on the
// build machines goes into the Windows executable as a header-only or
// standard-library dependency; the tests and fuzzers hold this one to a real
// parser (expat) instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "model/placed_model.h"

namespace cubewright {

/// What kind of failure stopped the reader.
enum class read_failure {
  not_well_formed,  ///< the bytes are not well-formed XML 1.0 in UTF-8
  not_supported,    ///< well-formed perhaps, but a document type declaration or
                    ///< an encoding other than UTF-8 (or its subset US-ASCII)
  not_a_model,      ///< a root other than `model`, a voxel attribute missing or
                    ///< not a number a float holds (nan, inf, 1e400, 3.5e38)
  over_limit,       ///< a limit below was passed
};

/// Where and why reading stopped. Line and column are 1-based; the column
/// counts characters, not bytes, and a byte-order mark is not one. Line ends
/// are LF, CR LF or a lone CR. `what` is short, lower-case, without a period.
struct model_read_error {
  std::size_t line = 0;
  std::size_t column = 0;
  std::string what;
  read_failure kind = read_failure::not_well_formed;
};

/// Content in a `skeleton` or `skeletonVoxelBindings` child of the root: a
/// child element, or character data that is not white space (comments and
/// processing instructions do not count). `line`/`column` give the first.
struct skeleton_content {
  bool present = false;
  std::size_t line = 0;
  std::size_t column = 0;
};

/// What the reader passed that the game's documents do not hold, and so a
/// document written from the model leaves out, counted up to where it is.
struct left_out_content {
  std::size_t alpha_not_one = 0;     ///< voxels whose `a` is not the number 1.0
  std::size_t other_attributes = 0;  ///< on a voxel, any but x y z r g b a; on
                                     ///< the root, or on its `voxels`,
                                     ///< `skeleton` or `skeletonVoxelBindings`
                                     ///< children, any
  std::string_view first_other;      ///< the first of those attributes' name
  std::size_t comments = 0;
  std::size_t processing_instructions = 0;  ///< not counting the xml declaration

  bool any() const {
    return alpha_not_one != 0 || other_attributes != 0 || comments != 0 ||
           processing_instructions != 0;
  }
};

/// Limits that keep memory independent of the document's size.
inline constexpr std::size_t max_element_depth = 4096;    ///< "elements nested too deeply"
inline constexpr std::size_t max_attribute_count = 4096;  ///< per element
// A voxel coordinate or colour value is also capped: max_number_text_length
// characters between its blanks (model_document/attribute_number.h).

/// The reader's state over a document it does not own and never copies: the
/// document must outlive it. Treat the members as private.
struct model_reader {
  struct attribute {
    std::string_view name;
    std::string_view value;  ///< raw, between the quotes
    bool needs_decoding;     ///< holds a reference or a tab/LF/CR
  };
  enum class stage { before_root, in_root, after_root, finished, failed, voxel_lines };
  enum class context { other, voxels, skeleton };

  std::string_view document;  ///< without its byte-order mark
  std::size_t position = 0;
  stage at = stage::before_root;
  bool ascii_only = false;
  std::vector<std::string_view> open_elements;
  context root_child = context::other;  ///< what open_elements[1] is
  std::vector<attribute> attributes;
  std::vector<std::pair<std::string_view, std::size_t>> sorted_names;
  std::size_t voxel_offset = 0;
  std::size_t skeleton_offset = 0;
  bool skeleton_found = false;
  /// Colours the fast path has read, by their text: a document's colours
  /// repeat (the tool writes 256 values), and a look costs less than reading
  /// the digits.
  struct read_colour {
    std::uint64_t key_low = 0;   ///< the text's first eight bytes, zeros past its end
    std::uint32_t key_high = 0;  ///< its next three, and its length in the top byte;
                                 ///< 0: none yet
    float value = 0;
  };
  std::vector<read_colour> read_colours;
  left_out_content left_out;
  mutable std::size_t counted_offset = 0;  ///< counted_line is the line of this offset
  mutable std::size_t counted_line = 1;
  model_read_error error;
};

/// A reader at the start of `document`, which may begin with a UTF-8
/// byte-order mark.
model_reader open_model_reader(std::string_view document);

enum class read_step { voxel, end, error };

/// Reads up to and including the next voxel: a `voxel` element that is a
/// child of a `voxels` child of the `model` root, in document order. Its
/// x, y, z, r, g and b attributes (required; others ignored) are each read
/// as (float)strtod of the normalised, decoded value (model_document/
/// attribute_number.h), which must be finite. `end` only once the whole
/// document is checked; after `error`, read_error says why, and every later
/// call gives `error`
/// again. Everything before a returned voxel is well-formed, nothing after it
/// has been looked at yet.
read_step next_voxel(model_reader& reader, voxel_record& voxel);

/// A reader of the voxel lines the tool itself writes, from `offset` of a
/// document on, as if a `voxels` child of the root were open there: white
/// space, then `<voxel x=".." y=".." z=".." r=".." g=".." b=".." a="1.0" />`,
/// as many as follow one another. next_voxel gives each as the whole
/// reader would, then `end` at the first thing that is not one, with
/// `position` just after the last line read (`offset` if none). Lets a
/// second thread read ahead in a long document: what it read holds if the
/// whole reader hands over at `offset` (hands_over_at).
model_reader open_voxel_line_reader(std::string_view document, std::size_t offset);

/// Points a voxel line reader at `offset` of `document` (another window of
/// the same document, say) as open_voxel_line_reader would open it, but
/// keeping the colour texts it has learnt.
void reopen_voxel_line_reader(model_reader& reader, std::string_view document, std::size_t offset);

/// True when nothing but white space lies from `reader`'s position to
/// `offset` (false when it stands past `offset`); looks no further than the
/// first byte that is not.
bool only_space_until(const model_reader& reader, std::size_t offset);

/// True when `reader` stands where a voxel line reader from `offset` assumes
/// the document to be: a `voxels` child of the root open, and nothing but
/// white space from its position to `offset` (only_space_until). Then moving
/// its `position` to where that reader stopped skips exactly the voxels that
/// reader gave.
bool hands_over_at(const model_reader& reader, std::size_t offset);

/// The line of the `<` of the voxel just read.
std::size_t voxel_line(const model_reader& reader);

/// Meaningful after next_voxel gave `error`.
const model_read_error& read_error(const model_reader& reader);

/// Meaningful after next_voxel gave `end`.
skeleton_content skeleton_in(const model_reader& reader);

/// What `reader` has passed so far; all of the document's after `end`. A
/// voxel line reader counts nothing: the lines it takes hold none of it.
const left_out_content& left_out_in(const model_reader& reader);

/// Whether `document` reads to its end (the reader gives `end`) and then
/// has skeleton content (skeleton_in); false for one that cannot be read.
bool holds_skeleton(std::string_view document);

/// True when the first character after an optional UTF-8 byte-order mark and
/// XML white space is '<': cheap, for telling the document from other inputs.
bool looks_like_model_document(std::string_view text);

}  // namespace cubewright
