// Fitting a model where another sat: the offsets that line up the bounding
// box of the converted model with the box of the model it replaces.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "conversion/recognise.h"
#include "model/placed_model.h"

namespace cubewright {

/// How one axis of the model is lined up with the target's: its lowest
/// cells on the target's lowest, its centre on the target's, or its highest
/// on the target's highest.
enum class fit_rule { min, centre, max };

/// A rule for each axis; by default x and z centred, y on the target's floor
/// (the grip and the feet stay where they stood).
struct fit_rules {
  fit_rule axis[3] = {fit_rule::centre, fit_rule::min, fit_rule::centre};
};

/// The cells a model covers, inclusive, along each axis.
struct cell_bounds {
  bool empty = true;
  std::int64_t min[3] = {0, 0, 0};
  std::int64_t max[3] = {0, 0, 0};
};

cell_bounds bounds_of(const std::vector<cell_voxel>& cells);

/// The whole-cell offsets that move `model` onto `target` as `rules` say:
/// an edge's offset is the difference of the two edges; a centre's is
/// floor((target_min + target_max - model_min - model_max) / 2). Both boxes
/// must hold cells.
std::array<std::int64_t, 3> fit_offsets(const cell_bounds& model, const cell_bounds& target,
                                        const fit_rules& rules);

/// The rules as the message that reports a fit names them:
/// "x centre, y bottom, z centre".
std::string describe(const fit_rules& rules);

/// Reads rules such as "x=min,y=centre" ("center" too, and "bottom" and
/// "top" for y) into `rules`; axes not named keep theirs. False for an axis or a rule it does not
/// know, or an axis named twice.
bool read_fit_rules(const std::string& text, fit_rules& rules);

/// What fitting a conversion's input to a model found: on success the
/// offsets that place it (the fit's plus the nudge the placement already
/// had) and the line that says so; else why not, as one message.
struct fitted_placement {
  bool ok = false;
  std::string failure;
  std::int32_t offsets[3] = {0, 0, 0};
  std::string said;  // "fitted to MODEL (x centre, y bottom, z centre): offsets 3 -1 0"
};

/// Fits the input (`input_text`, mirrored by `placement`'s factors) to the
/// model of `target_text` as it stands, then nudges it by `placement`'s
/// offsets. Refused when either holds no voxel, either cannot be read, or
/// a fitted position lies beyond what `format` holds exactly: whole numbers
/// of at most six digits in a document, 32-bit cells in CSV and .vox.
fitted_placement fit_placement(std::string_view input_text, const std::string& input_path,
                               std::string_view target_text, const std::string& target_path,
                               const model_placement& placement, const fit_rules& rules,
                               output_format format);

}  // namespace cubewright
