#include "conversion/run_plan.h"

#include "tuning.h"

namespace cubewright {

run_plan plan_run(const run_facts& facts) {
  const bool csv = facts.input == content_kind::sproxel_csv;
  const bool plain_document = facts.format == output_format::xml && !facts.count;
  const bool large_csv = facts.input_size >= tuning::min_two_formatting_csv;
  const bool two_formatting =
      plain_document &&
      ((csv && large_csv) ||
       (facts.input == content_kind::vox && facts.input_size >= tuning::min_two_formatting_vox));
  const bool threads = facts.threads_allowed;
  run_plan plan;
  plan.block_size = large_csv ? tuning::large_block : tuning::small_block;
  if (threads && !facts.drawing) {
    plan.in_pieces = two_formatting;
    plan.writing_thread = !two_formatting && !(plain_document && csv);
  } else if (threads && !facts.comparing && csv && two_formatting) {
    plan.in_pieces = true;
    plan.piece_threads = 1;
  }
  plan.read_ahead = threads && facts.input == content_kind::model_document &&
                    facts.format != output_format::xml &&
                    facts.input_size >= tuning::min_read_ahead_document;
  plan.nul_in_pieces = csv && plan.in_pieces && facts.replaced_at_the_end;
  plan.picture_thread = threads && facts.drawing;
  return plan;
}

}  // namespace cubewright
