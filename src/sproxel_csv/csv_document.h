// The document of a CSV export, written straight from its cells: in turn, or
// in pieces by two threads.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "io/output_sink.h"
#include "model/placed_model.h"
#include "sproxel_csv/grid_size.h"
#include "sproxel_csv/token_list.h"

namespace cubewright {

/// Writes the whole document for the tokens of an export whose header gave
/// `size`, through blocks of `block_size` bytes, adding every voxel to
/// `tally` unless it is null. True when the sink took every byte.
bool write_export_document(const token_list& tokens, const grid_size& size,
                           const model_placement& placement, std::string_view line_end,
                           output_sink sink, std::size_t block_size = default_block_size,
                           voxel_tally* tally = nullptr);

/// Writes the same bytes as write_export_document, in pieces by `threads`
/// threads (model_document/document_pieces.h). A piece's cells start where
/// the previous piece's end, and only the walk of that piece knows where
/// that is, so a piece is formatted from where an exported file's regular
/// lines say it starts. With `check_nul`, each thread also checks the bytes
/// of its pieces for a NUL before it formats them, so that the check costs
/// no pass of its own, and the run stops at the first piece that holds one.
/// True when the sink took the whole document (and no NUL was found).
bool write_export_document_in_pieces(const token_list& tokens, const grid_size& size,
                                     const model_placement& placement, std::string_view line_end,
                                     output_sink sink, bool check_nul = false, int threads = 2);

/// The document for a whole export's text, or nothing when the text holds
/// fewer than three fields.
std::optional<std::string> export_to_document(std::string_view csv_text,
                                              const model_placement& placement,
                                              std::string_view line_end = "\n");

}  // namespace cubewright
