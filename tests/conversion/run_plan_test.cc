#include "conversion/run_plan.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>

namespace cubewright {
namespace {

constexpr std::size_t kib = 1024;
constexpr std::size_t mib = 1024 * kib;

// One row: the facts, then the plan they must give.
struct plan_case {
  const char* what;
  content_kind input;
  std::size_t size;
  output_format format;
  bool count;
  bool drawing;
  bool comparing;
  bool threads;
  bool replaced_at_the_end;
  // The plan.
  bool writing_thread;
  std::size_t block_size;
  bool in_pieces;
  int piece_threads;
  bool read_ahead;
  bool nul_in_pieces;
  bool picture_thread;
};

constexpr content_kind csv = content_kind::sproxel_csv;
constexpr content_kind doc = content_kind::model_document;
constexpr content_kind vox = content_kind::vox;
constexpr output_format to_doc = output_format::xml;
constexpr output_format to_csv = output_format::csv;
constexpr output_format to_vox = output_format::vox;
constexpr std::size_t small = 256 * kib;
constexpr std::size_t large = 1 * mib;

// clang-format off
const plan_case cases[] = {
  // what                                  input size      format  count  draw   comp   thr    end    | writing block  pieces threads ahead  nul    picture
  {"small export, in turn",                csv,  1 * mib,  to_doc, false, false, false, true,  true,    false,  small, false, 2,      false, false, false},
  {"large export, two formatting",         csv,  8 * mib,  to_doc, false, false, false, true,  true,    false,  large, true,  2,      false, true,  false},
  {"large export to a device",             csv,  8 * mib,  to_doc, false, false, false, true,  false,   false,  large, true,  2,      false, false, false},
  {"large export with -v: writing thread", csv,  8 * mib,  to_doc, true,  false, false, true,  true,    true,   large, false, 2,      false, false, false},
  {"export to CSV: writing thread",        csv,  1 * mib,  to_csv, false, false, false, true,  true,    true,   small, false, 2,      false, false, false},
  {"small .vox, writing thread",           vox,  512 * kib, to_doc, false, false, false, true, true,    true,   small, false, 2,      false, false, false},
  {"large .vox, two formatting",           vox,  1 * mib,  to_doc, false, false, false, true,  true,    false,  small, true,  2,      false, false, false},
  {"document to document",                 doc,  9 * mib,  to_doc, false, false, false, true,  true,    true,   large, false, 2,      false, false, false},
  {"short document exported",              doc,  512 * kib, to_csv, false, false, false, true, true,    true,   small, false, 2,      false, false, false},
  {"long document exported, read ahead",   doc,  1 * mib,  to_csv, false, false, false, true,  true,    true,   small, false, 2,      true,  false, false},
  {"long document to .vox, read ahead",    doc,  1 * mib,  to_vox, false, false, false, true,  true,    true,   small, false, 2,      true,  false, false},
  {"drawing a large export: one thread",   csv,  8 * mib,  to_doc, false, true,  false, true,  true,    false,  large, true,  1,      false, true,  true},
  {"drawing it compared: in turn",         csv,  8 * mib,  to_doc, false, true,  true,  true,  true,    false,  large, false, 2,      false, false, true},
  {"drawing a large .vox: in turn",        vox,  2 * mib,  to_doc, false, true,  false, true,  true,    false,  small, false, 2,      false, false, true},
  {"drawing a document exported",          doc,  2 * mib,  to_csv, false, true,  false, true,  true,    false,  small, false, 2,      true,  false, true},
  {"no threads: all in turn",              csv,  8 * mib,  to_doc, false, true,  false, false, true,    false,  large, false, 2,      false, false, false},
  {"no threads, document exported",        doc,  2 * mib,  to_csv, false, false, false, false, true,    false,  small, false, 2,      false, false, false},
};
// clang-format on

TEST(RunPlan, FollowsTheTable) {
  for (const plan_case& c : cases) {
    SCOPED_TRACE(c.what);
    run_facts facts;
    facts.input = c.input;
    facts.input_size = c.size;
    facts.format = c.format;
    facts.count = c.count;
    facts.drawing = c.drawing;
    facts.comparing = c.comparing;
    facts.threads_allowed = c.threads;
    facts.replaced_at_the_end = c.replaced_at_the_end;
    const run_plan plan = plan_run(facts);
    EXPECT_EQ(plan.writing_thread, c.writing_thread);
    EXPECT_EQ(plan.block_size, c.block_size);
    EXPECT_EQ(plan.in_pieces, c.in_pieces);
    if (plan.in_pieces) {
      EXPECT_EQ(plan.piece_threads, c.piece_threads);
    }
    EXPECT_EQ(plan.read_ahead, c.read_ahead);
    EXPECT_EQ(plan.nul_in_pieces, c.nul_in_pieces);
    EXPECT_EQ(plan.picture_thread, c.picture_thread);
  }
}

// Just below and at each threshold.
TEST(RunPlan, ThresholdsAreInclusive) {
  run_facts facts;
  facts.input_size = 8 * mib - 1;
  EXPECT_FALSE(plan_run(facts).in_pieces);
  facts.input_size = 8 * mib;
  EXPECT_TRUE(plan_run(facts).in_pieces);
  facts.input = doc;
  facts.format = to_csv;
  facts.input_size = 1 * mib - 1;
  EXPECT_FALSE(plan_run(facts).read_ahead);
  facts.input_size = 1 * mib;
  EXPECT_TRUE(plan_run(facts).read_ahead);
}

}  // namespace
}  // namespace cubewright
