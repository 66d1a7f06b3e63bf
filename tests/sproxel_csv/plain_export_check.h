// The strict check of an export by the plain rule, one byte at a time: what
// export_fault's fast path is held to in the tests and measured against in
// the benchmarks.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace cubewright_test {

inline std::string plain_quoted(const std::string& field) {
  std::string text = "\"";
  for (std::size_t i = 0; i < field.size() && i < 20; ++i) {
    const auto c = static_cast<unsigned char>(field[i]);
    if (c < 0x20 || c > 0x7E) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", unsigned{c});
      text += escaped;
    } else {
      text += static_cast<char>(c);
    }
  }
  return text + (field.size() > 20 ? "\"..." : "\"");
}

/// export_fault by the plain rule: split into fields at "," and LF (a CR
/// before LF dropped, empty fields skipped), then each field checked in turn.
inline std::optional<std::string> plain_export_fault(std::string_view text, std::string_view path) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  const auto at = [&](std::size_t line, std::size_t column) {
    return std::string(path) + ":" + std::to_string(line) + ":" + std::to_string(column) +
           ": not a sproxel CSV export: ";
  };
  int sides_read = 0;
  std::uint64_t sides[3] = {0, 0, 0};
  std::uint64_t cells = 0;
  std::uint64_t read = 0;
  std::optional<std::string> fault;
  std::string field;
  std::size_t line = 1;
  std::size_t column = 1;
  std::size_t field_line = 0;
  std::size_t field_column = 0;
  // Checks a whole field; false when it is the fault.
  const auto check = [&]() {
    if (sides_read < 3) {
      std::size_t first = 0;
      std::size_t last = field.size();
      while (first < last && (field[first] == ' ' || field[first] == '\t')) ++first;
      while (last > first && (field[last - 1] == ' ' || field[last - 1] == '\t')) --last;
      bool number = first < last;
      std::uint64_t value = 0;
      for (std::size_t i = first; number && i < last; ++i) {
        number = field[i] >= '0' && field[i] <= '9';
        value = value * 10 + static_cast<std::uint64_t>(field[i] - '0');
        if (value > 2147483647u) number = false;
      }
      if (number && value >= 1 && sides_read == 2) {
        // 2^64 / 2^32: the first two are below 2^31 each.
        const std::uint64_t xy = sides[0] * sides[1];
        number = value <= UINT64_MAX / xy;
      }
      if (!number || value < 1) {
        fault = at(field_line, field_column) +
                "the header must be three whole numbers (X,Y,Z), found " + plain_quoted(field);
        return false;
      }
      sides[sides_read++] = value;
      if (sides_read == 3) cells = sides[0] * sides[1] * sides[2];
      return true;
    }
    if (read == cells) {
      fault = at(field_line, field_column) + "the export holds more than its " +
              std::to_string(cells) + " cells, found " + plain_quoted(field);
      return false;
    }
    bool cell = field.size() == 9 && field[0] == '#';
    for (std::size_t i = 1; cell && i < 9; ++i) {
      const char c = field[i];
      cell = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    }
    if (!cell) {
      fault = at(field_line, field_column) + "a cell must be # and 8 hex digits, found " +
              plain_quoted(field);
      return false;
    }
    ++read;
    return true;
  };
  for (std::size_t i = 0; i <= text.size(); ++i) {
    const bool at_end = i == text.size();
    if (at_end || text[i] == ',' || text[i] == '\n') {
      if (!at_end && text[i] == '\n' && !field.empty() && field.back() == '\r') field.pop_back();
      if (!field.empty() && !check()) return fault;
      field.clear();
      if (at_end) break;
      if (text[i] == '\n') {
        ++line;
        column = 1;
      } else {
        ++column;
      }
      continue;
    }
    if (field.empty()) {
      field_line = line;
      field_column = column;
    }
    field += text[i];
    ++column;
  }
  if (sides_read < 3) {
    return at(line, column) +
           "the header must be three whole numbers (X,Y,Z), found the end of the file";
  }
  if (read < cells) {
    return at(line, column) + "the export ends after " + std::to_string(read) + " of " +
           std::to_string(cells) + " cells (cut short?)";
  }
  return std::nullopt;
}

}  // namespace cubewright_test
