// How a run uses threads, blocks, reading ahead and the check for NUL bytes:
// decided once, from what the run converts, before anything is converted.
#pragma once

#include <cstddef>

#include "conversion/recognise.h"

namespace cubewright {

/// What a run's plan is decided from.
struct run_facts {
  content_kind input = content_kind::sproxel_csv;  // as recognise_input_unchecked tells
  std::size_t input_size = 0;
  output_format format = output_format::xml;
  bool count = false;                // the run reports what it wrote (-v)
  bool drawing = false;              // a picture is drawn too
  bool comparing = false;            // with a model to compare with
  bool threads_allowed = true;       // the build may start threads
  bool replaced_at_the_end = false;  // the output is a file put in place at the end
};

/// The plan. A picture drawn on a thread of its own takes the second core,
/// so a run that draws writes its output in turn (more threads were no
/// faster).
struct run_plan {
  bool writing_thread = false;  // blocks are written by a thread of their own
  std::size_t block_size = 0;   // of the output's blocks
  bool in_pieces = false;       // a CSV or .vox input's document is formatted in
                                // pieces (a .vox grid is then filled by two
                                // threads too)...
  int piece_threads = 2;        // ...by this many threads
  bool read_ahead = false;      // a document input is read by two threads
  bool nul_in_pieces = false;   // a CSV input is checked for NUL bytes piece by
                                // piece as it is formatted, not by a pass of its
                                // own first
  bool picture_thread = false;  // the picture is drawn on a thread of its own
};

/// The plan for a run. Two formatting threads for a large export or .vox
/// file's document and none for a smaller export's, where starting one cost
/// more than it saved; a writing thread for everything else. A drawing run
/// that would have formatted a large export in pieces still takes its
/// pieces, on one thread, so that the NUL check goes with them: a pass of
/// its own came before the document's first byte, and where the export's
/// pages were not mapped yet, it paid for mapping all of them alone. The
/// NUL check goes with the pieces only where the output is put in place at
/// the end, so that nothing of it is left when the check fails.
run_plan plan_run(const run_facts& facts);

}  // namespace cubewright
