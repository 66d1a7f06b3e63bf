#include "conversion/fit.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "conversion/convert.h"

namespace cubewright {

cell_bounds bounds_of(const std::vector<cell_voxel>& cells) {
  cell_bounds bounds;
  for (const cell_voxel& cell : cells) {
    const std::int64_t at[3] = {cell.x, cell.y, cell.z};
    for (int axis = 0; axis < 3; ++axis) {
      bounds.min[axis] = bounds.empty ? at[axis] : std::min(bounds.min[axis], at[axis]);
      bounds.max[axis] = bounds.empty ? at[axis] : std::max(bounds.max[axis], at[axis]);
    }
    bounds.empty = false;
  }
  return bounds;
}

std::array<std::int64_t, 3> fit_offsets(const cell_bounds& model, const cell_bounds& target,
                                        const fit_rules& rules) {
  std::array<std::int64_t, 3> offsets{};
  for (int axis = 0; axis < 3; ++axis) {
    switch (rules.axis[axis]) {
      case fit_rule::min:
        offsets[static_cast<std::size_t>(axis)] = target.min[axis] - model.min[axis];
        break;
      case fit_rule::max:
        offsets[static_cast<std::size_t>(axis)] = target.max[axis] - model.max[axis];
        break;
      case fit_rule::centre: {
        const std::int64_t twice =
            target.min[axis] + target.max[axis] - model.min[axis] - model.max[axis];
        // Floor, also below zero.
        offsets[static_cast<std::size_t>(axis)] = twice >= 0 ? twice / 2 : -((1 - twice) / 2);
        break;
      }
    }
  }
  return offsets;
}

std::string describe(const fit_rules& rules) {
  std::string text;
  for (int axis = 0; axis < 3; ++axis) {
    if (axis != 0) text += ", ";
    text += static_cast<char>('x' + axis);
    switch (rules.axis[axis]) {
      case fit_rule::min:
        text += axis == 1 ? " bottom" : " min";
        break;
      case fit_rule::centre:
        text += " centre";
        break;
      case fit_rule::max:
        text += axis == 1 ? " top" : " max";
        break;
    }
  }
  return text;
}

bool read_fit_rules(const std::string& text, fit_rules& rules) {
  fit_rules read = rules;
  bool named[3] = {false, false, false};
  std::string_view rest = text;
  for (;;) {
    const std::size_t comma = rest.find(',');
    const std::string_view part = rest.substr(0, comma);
    if (part.size() < 3 || part[0] < 'x' || part[0] > 'z' || part[1] != '=') return false;
    const auto axis = static_cast<std::size_t>(part[0] - 'x');
    if (named[axis]) return false;
    named[axis] = true;
    const std::string_view rule = part.substr(2);
    // y's edges by the names the fit's message gives them too.
    if (rule == "min" || (axis == 1 && rule == "bottom")) {
      read.axis[axis] = fit_rule::min;
    } else if (rule == "centre" || rule == "center") {
      read.axis[axis] = fit_rule::centre;
    } else if (rule == "max" || (axis == 1 && rule == "top")) {
      read.axis[axis] = fit_rule::max;
    } else {
      return false;
    }
    if (comma == std::string_view::npos) break;
    rest = rest.substr(comma + 1);
  }
  rules = read;
  return true;
}

namespace {

// The cells of a model as `placement` puts them, or the reason they cannot
// be read, in `failure`.
bool read_cells(std::string_view text, const std::string& path, const model_placement& placement,
                std::vector<cell_voxel>& cells, std::string& failure) {
  const content_kind kind = recognise_input(text);
  if (kind == content_kind::binary) {
    failure = binary_input_failure(path);
    return false;
  }
  conversion_result read = read_model_cells(text, kind, path, placement);
  if (!read.ok) {
    failure = read.failure;
    return false;
  }
  cells = std::move(read.placed);
  return true;
}

// A failure to read the model to fit to, named as that model.
std::string target_failure(const std::string& failure) {
  for (const std::string_view start :
       {"cannot read model: ", "cannot read input: ", "cannot read grid size: "}) {
    if (failure.rfind(start, 0) == 0) {
      return "cannot read the model to fit to: " + failure.substr(start.size());
    }
  }
  return failure;
}

}  // namespace

fitted_placement fit_placement(std::string_view input_text, const std::string& input_path,
                               std::string_view target_text, const std::string& target_path,
                               const model_placement& placement, const fit_rules& rules,
                               output_format format) {
  fitted_placement fitted;
  std::vector<cell_voxel> cells;
  if (!read_cells(target_text, target_path, model_placement(), cells, fitted.failure)) {
    fitted.failure = target_failure(fitted.failure);
    return fitted;
  }
  const cell_bounds target = bounds_of(cells);
  if (target.empty) {
    fitted.failure = "cannot fit to " + target_path + ": it holds no voxel";
    return fitted;
  }
  model_placement mirrored = placement;
  mirrored.offset_x = mirrored.offset_y = mirrored.offset_z = 0;
  if (!read_cells(input_text, input_path, mirrored, cells, fitted.failure)) return fitted;
  const cell_bounds model = bounds_of(cells);
  if (model.empty) {
    fitted.failure = "cannot fit " + input_path + " to " + target_path + ": it holds no voxel";
    return fitted;
  }
  const std::array<std::int64_t, 3> fit = fit_offsets(model, target, rules);
  const std::int32_t nudge[3] = {placement.offset_x, placement.offset_y, placement.offset_z};
  // A document writes six significant digits: whole numbers up to 999999
  // come out exactly.
  const std::int64_t limit = format == output_format::xml ? 999999 : 2147483647;
  const std::string cannot = "cannot fit " + input_path + " to " + target_path;
  std::string offsets;
  for (int axis = 0; axis < 3; ++axis) {
    const std::int64_t offset = fit[static_cast<std::size_t>(axis)] + nudge[axis];
    for (const std::int64_t end : {model.min[axis] + offset, model.max[axis] + offset}) {
      if (end < -limit - (format == output_format::xml ? 0 : 1) || end > limit) {
        fitted.failure = cannot;
        fitted.failure += ": it would reach ";
        fitted.failure += static_cast<char>('x' + axis);
        fitted.failure += " " + std::to_string(end);
        fitted.failure += format == output_format::xml
                              ? ", which a model document cannot hold exactly (-999999..999999)"
                              : ", past the 32-bit cells of CSV and .vox";
        return fitted;
      }
    }
    if (offset < -2147483647 - 1 || offset > 2147483647) {
      fitted.failure = cannot;
      fitted.failure += ": its ";
      fitted.failure += static_cast<char>('x' + axis);
      fitted.failure += " offset would be " + std::to_string(offset) + ", past 32 bits";
      return fitted;
    }
    fitted.offsets[axis] = static_cast<std::int32_t>(offset);
    offsets += " " + std::to_string(offset);
  }
  fitted.ok = true;
  fitted.said = "fitted to " + target_path + " (" + describe(rules) + "): offsets" + offsets;
  return fitted;
}

}  // namespace cubewright
