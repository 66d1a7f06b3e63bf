// The strict check of an export by the plain rule, one byte at a time: what
// export_fault's fast path is held to in the tests and measured against in
// the benchmarks.
#pragma once

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace cubewright_test {

/// export_fault by the plain rule: fields split at "," and LF (a CR before
/// LF dropped, empty ones skipped), each checked as it ends.
inline std::optional<std::string> plain_export_fault(std::string_view text, std::string_view path) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  std::uint64_t sides[3] = {0, 0, 0};
  int sides_read = 0;
  std::uint64_t cells = 0;
  std::uint64_t read = 0;
  std::string field;
  std::size_t line = 1, column = 1, field_line = 0, field_column = 0;
  const auto fault = [&](std::size_t at_line, std::size_t at_column, const std::string& what) {
    return std::string(path) + ":" + std::to_string(at_line) + ":" + std::to_string(at_column) +
           ": not a sproxel CSV export: " + what;
  };
  const auto found = [&] {
    std::string quoted = "\"";
    for (std::size_t i = 0; i < field.size() && i < 20; ++i) {
      char escaped[8] = {field[i], 0};
      if (field[i] < 0x20 || field[i] > 0x7E) {
        std::snprintf(escaped, sizeof escaped, "\\x%02X",
                      unsigned{static_cast<unsigned char>(field[i])});
      }
      quoted += escaped;
    }
    return quoted + (field.size() > 20 ? "\"..." : "\"");
  };
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && text[i] != ',' && text[i] != '\n') {
      if (field.empty()) field_line = line, field_column = column;
      field += text[i];
      ++column;
      continue;
    }
    if (i < text.size() && text[i] == '\n' && !field.empty() && field.back() == '\r') {
      field.pop_back();
    }
    if (sides_read < 3 && !field.empty()) {
      const std::size_t first = field.find_first_not_of(" \t");
      const std::size_t last = field.find_last_not_of(" \t");
      const std::string digits =
          first == std::string::npos ? "" : field.substr(first, last - first + 1);
      std::uint64_t value = 0;
      bool number = !digits.empty();
      for (char c : digits) {
        number = number && c >= '0' && c <= '9';
        value = value > 2147483647u ? value : value * 10 + static_cast<std::uint64_t>(c - '0');
      }
      number = number && value >= 1 && value <= 2147483647u &&
               (sides_read < 2 || value <= UINT64_MAX / (sides[0] * sides[1]));
      if (!number) {
        return fault(field_line, field_column,
                     "the header must be three whole numbers (X,Y,Z), found " + found());
      }
      sides[sides_read++] = value;
      cells = sides[0] * sides[1] * sides[2];
    } else if (!field.empty() && read == cells) {
      return fault(
          field_line, field_column,
          "the export holds more than its " + std::to_string(cells) + " cells, found " + found());
    } else if (!field.empty()) {
      bool cell = field.size() == 9 && field[0] == '#';
      for (std::size_t k = 1; cell && k < 9; ++k)
        cell = std::isxdigit(static_cast<unsigned char>(field[k])) != 0;
      if (!cell) {
        return fault(field_line, field_column,
                     "a cell must be # and 8 hex digits, found " + found());
      }
      ++read;
    }
    field.clear();
    if (i == text.size()) break;
    if (text[i] == '\n') {
      ++line;
      column = 1;
    } else {
      ++column;
    }
  }
  if (sides_read < 3) {
    return fault(line, column,
                 "the header must be three whole numbers (X,Y,Z), found the end of the file");
  }
  if (read < cells) {
    return fault(line, column,
                 "the export ends after " + std::to_string(read) + " of " + std::to_string(cells) +
                     " cells (cut short?)");
  }
  return std::nullopt;
}

}  // namespace cubewright_test
