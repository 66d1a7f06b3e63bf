#include "support/native.h"

namespace cubewright_test {

std::string_view native_line_end() { return CUBEWRIGHT_TEST_CR_LF ? "\r\n" : "\n"; }

std::string native_document(std::string_view lf_text) {
  const std::string_view line_end = native_line_end();
  std::string text;
  text.reserve(lf_text.size() + lf_text.size() / 16);
  for (const char c : lf_text) {
    if (c == '\n') {
      text += line_end;
    } else {
      text += c;
    }
  }
  return text;
}

}  // namespace cubewright_test
