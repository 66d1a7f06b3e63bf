// A model document as a source of placed voxels: read on one thread, or read
// ahead in pieces by two.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>

#include "model/placed_model.h"
#include "model/voxel_grid.h"
#include "model_document/model_reader.h"

namespace cubewright {

/// A way to copy bytes of an input text without touching the text itself:
/// `copy(context, offset, out, size)` copies `size` bytes from `offset` on
/// into `out`, or returns false (nothing can be assumed of `out` then).
struct text_copier {
  const void* context = nullptr;
  bool (*copy)(const void* context, std::size_t offset, char* out, std::size_t size) = nullptr;
};

/// A document to read, and how.
struct document_input {
  std::string_view text;
  text_copier copier;  // optional: the threads reading ahead copy
                       // pieces of the text into small buffers
                       // with it; where a copy fails, the text
                       // itself is read
  model_placement placement;
  const std::string* path = nullptr;  // for messages
  bool skeleton_refused = false;      // a skeleton fails the reading (a document
                                      // cannot write it back); else it is
                                      // left out with a note
  bool left_out_noted = false;        // the model becomes a document: a note
                                      // says what it leaves out (left_out_note)
};

/// "PATH: the new document leaves out ...: 3 voxels' a other than 1.0
/// (written as 1.0), 2 other attributes (such as "id"), 1 comment", naming
/// only what there is; "" when there is nothing.
inline std::string left_out_note(const std::string& path, const left_out_content& left_out) {
  if (!left_out.any()) return "";
  std::string note = path + ": the new document leaves out what the game's documents do not hold:";
  const char* separator = " ";
  const auto add = [&](std::size_t count, std::string_view one, std::string_view many) {
    if (count == 0) return;
    note += separator + std::to_string(count) + " ";
    note += count == 1 ? one : many;
    separator = ", ";
  };
  add(left_out.alpha_not_one, "voxel's a other than 1.0 (written as 1.0)",
      "voxels' a other than 1.0 (written as 1.0)");
  // The name, at most 40 bytes of it cut at a character boundary.
  const std::string_view name = left_out.first_other;
  std::size_t cut = std::min<std::size_t>(name.size(), 40);
  while (cut < name.size() && cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
    --cut;
  const std::string shown =
      "\"" + std::string(name.substr(0, cut)) + (cut < name.size() ? "...\"" : "\"");
  add(left_out.other_attributes, "other attribute (" + shown + ")",
      "other attributes (such as " + shown + ")");
  add(left_out.comments, "comment", "comments");
  add(left_out.processing_instructions, "processing instruction", "processing instructions");
  return note;
}

/// Never hands over: the whole document on one thread.
struct no_handover {
  bool operator()(model_reader&) const { return true; }
};

/// Hands every voxel of a document, placed, to `consume(record, line)`,
/// where `line()` gives the voxel's line; after each, `hand_over(reader)`
/// may move the reader on past voxels it has consumed itself, or return
/// false to stop. False when the document could not be read
/// (`result.failure` says why) or either of them stopped. A skeleton is
/// refused or left out with a note, as `input` says; so is the note on what
/// a document leaves out added.
template <typename Consume, typename HandOver = no_handover>
bool for_each_document_voxel(const document_input& input, source_report& result, Consume& consume,
                             HandOver hand_over = HandOver()) {
  model_reader reader = open_model_reader(input.text);
  voxel_record voxel;
  for (;;) {
    const read_step step = next_voxel(reader, voxel);
    if (step == read_step::end) break;
    if (step == read_step::error) {
      const model_read_error& error = read_error(reader);
      result.failure = "cannot read model: " + *input.path + ":" + std::to_string(error.line) +
                       ":" + std::to_string(error.column) + ": " + error.what;
      return false;
    }
    place_voxel(voxel, input.placement);
    if (!consume(voxel, [&reader] { return voxel_line(reader); })) return false;
    if (!hand_over(reader)) return false;
  }
  const skeleton_content skeleton = skeleton_in(reader);
  if (skeleton.present) {
    const std::string where =
        *input.path + ":" + std::to_string(skeleton.line) + ":" + std::to_string(skeleton.column);
    if (input.skeleton_refused) {
      result.failure = "cannot convert: " + where +
                       ": the model has a skeleton, which cubewright cannot write back; "
                       "--to csv or --to vox exports the voxels alone";
      return false;
    }
    result.notes.push_back(where + ": the skeleton is left out; the export holds the voxels alone");
  }
  if (input.left_out_noted && left_out_in(reader).any())
    result.notes.push_back(left_out_note(*input.path, left_out_in(reader)));
  return true;
}

/// Collects the cells of a document on two threads, into store 0 of
/// `pieces` (this thread's, through `collector`) and store 1 (the second
/// thread's). The document is cut into pieces at line starts; the first is
/// read as any document is, the others as voxel lines the tool writes, each
/// by whichever thread takes it first. When the first reader reaches a
/// piece's start in the state that piece's reader assumed (a document the
/// tool wrote always gets there so), it takes that reader's cells and reads
/// on from where it stopped; a piece it reaches otherwise, it reads itself.
/// Either way the cells, the failure and the messages are those of one
/// reader.
bool collect_document_cells_ahead(const document_input& input, source_report& result,
                                  cell_collector& collector, cell_pieces& pieces);

}  // namespace cubewright
