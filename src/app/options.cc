#include "app/options.h"

#include "csv_input/grid_size.h"

namespace cubewright {

const std::array<std::string_view, 11> usage_lines = {
    "cubewright v0.1 - sproxel CSV to ELDERMOOR XML converter. "
    "Copyright (c) 2026 the cubewright developers, MIT licence",
    "Usage:",
    "cubewright input_csv output_xml [offset_x] [offset_y] [offset_z] [flip_x]",
    "    input_csv    a CSV file exported from sproxel",
    "    output_xml   an XML file, to be used to replace an EMR voxel model",
    "    offset_x     optional x coordinate offset, useful for shifting weapon position to fit "
    "the soldier properly",
    "    offset_y     optional y coordinate offset, see offset_x",
    "    offset_z     optional z coordinate offset, see offset_y",
    "    flip_x       optional parameter, reverses the input model x axis",
    "e.g. ",
    "  cubewright shotgun.csv assault_rifle1.xml 4 -2 0 flip",
};

bool wants_usage(const std::vector<std::string>& arguments) { return arguments.size() < 2; }

conversion_options parse_options(const std::vector<std::string>& arguments) {
  conversion_options options;
  options.input_csv = arguments.at(0);
  options.output_xml = arguments.at(1);
  const std::size_t count = arguments.size();
  if (count > 2) options.offset_x = parse_decimal(arguments[2]);
  if (count > 3) options.offset_y = parse_decimal(arguments[3]);
  if (count > 4) options.offset_z = parse_decimal(arguments[4]);
  if (count > 5) options.axis_factor_x = -1.0f;
  if (count > 6) options.axis_factor_y = -1.0f;
  if (count > 7) options.axis_factor_z = -1.0f;
  return options;
}

}  // namespace cubewright
