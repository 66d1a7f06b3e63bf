// The conversion written the plain way, as the yardstick for cubewright's
// speed: every line read with std::getline and kept, every field copied into
// its own string, colour pairs read through a std::istringstream, numbers
// formatted with "%g" and written through std::ofstream. It writes the same
// bytes as cubewright for any well-formed export; it does not report errors
// or protect an existing output.
//
//   plain_convert INPUT_CSV OUTPUT_XML [offset_x] [offset_y] [offset_z] [flip_x] [flip_y] [flip_z]

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

int read_hex_pair(const std::string& text) {
  int value = 0;
  std::istringstream stream(text);
  stream >> std::hex >> value;
  return value;
}

std::string number_text(float value) {
  if (value == 0.0f) value = 0.0f;  // no "-0"
  char text[32];
  std::snprintf(text, sizeof text, "%g", static_cast<double>(value));
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << "usage: plain_convert INPUT_CSV OUTPUT_XML [offsets and flips as cubewright]\n";
    return 2;
  }
  std::ifstream input(argv[1]);
  if (!input) {
    std::cerr << "plain_convert: cannot open input: " << argv[1] << "\n";
    return 1;
  }
  const int offset[3] = {argc > 3 ? std::atoi(argv[3]) : 0, argc > 4 ? std::atoi(argv[4]) : 0,
                         argc > 5 ? std::atoi(argv[5]) : 0};
  const float factor[3] = {argc > 6 ? -1.0f : 1.0f, argc > 7 ? -1.0f : 1.0f,
                           argc > 8 ? -1.0f : 1.0f};

  std::vector<std::string> lines;
  std::string line;
  while (std::getline(input, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  if (!lines.empty() && lines[0].compare(0, 3, "\xEF\xBB\xBF") == 0) lines[0].erase(0, 3);

  std::vector<std::string> tokens;
  for (const std::string& text : lines) {
    std::istringstream fields(text);
    std::string field;
    while (std::getline(fields, field, ',')) {
      if (!field.empty()) tokens.push_back(field);
    }
  }
  if (tokens.size() < 3) {
    std::cerr << "plain_convert: fewer than three fields: " << argv[1] << "\n";
    return 1;
  }
  const long size_x = std::atoi(tokens[0].c_str());
  const long size_z = std::atoi(tokens[2].c_str());

  std::ofstream output(argv[2]);
  output << "<model>\n<voxels>\n";
  long cell_x = 0;
  long cell_y = std::atoi(tokens[1].c_str()) - 1L;
  long cell_z = 0;
  for (std::size_t i = 3; i < tokens.size(); ++i) {
    const std::string& token = tokens[i];
    if (token != "#00000000") {
      const float x = static_cast<float>(cell_x) * factor[0] + static_cast<float>(offset[0]);
      const float y = static_cast<float>(cell_y) * factor[1] + static_cast<float>(offset[1]);
      const float z = static_cast<float>(cell_z) * factor[2] + static_cast<float>(offset[2]);
      const float r = static_cast<float>(read_hex_pair(token.substr(1, 2))) * 0.00390625f;
      const float g = static_cast<float>(read_hex_pair(token.substr(3, 2))) * 0.00390625f;
      const float b = static_cast<float>(read_hex_pair(token.substr(5, 2))) * 0.00390625f;
      output << "<voxel x=\"" << number_text(x) << "\" y=\"" << number_text(y) << "\" z=\""
             << number_text(z) << "\" r=\"" << number_text(r) << "\" g=\"" << number_text(g)
             << "\" b=\"" << number_text(b) << "\" a=\"1.0\" />\n";
    }
    if (++cell_x > size_x - 1) {
      cell_x = 0;
      if (++cell_z > size_z - 1) {
        cell_z = 0;
        --cell_y;
      }
    }
  }
  output << "</voxels>\n<skeleton />\n<skeletonVoxelBindings />\n</model>\n";
  return output.flush() ? 0 : 1;
}
