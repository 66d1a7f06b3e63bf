#include "model/placed_model.h"

#include "text/format_number.h"

namespace cubewright {

std::string not_whole_cell_failure(const std::string& place, int axis, float value) {
  return "cannot convert: " + place + ": " + static_cast<char>('x' + axis) + "=\"" +
         format_number(value) +
         "\" is not a whole cell (CSV and .vox positions are whole numbers within 32 bits)";
}

}  // namespace cubewright
