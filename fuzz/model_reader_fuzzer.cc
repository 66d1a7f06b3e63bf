// Feeds arbitrary bytes to the model document reader and to expat, and
// checks that they agree: the same verdict on well-formedness, the same
// content faults and the same voxels, bit for bit (tests/support/
// expat_reference.h says what is excused).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "support/expat_reference.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view document(reinterpret_cast<const char*>(data), size);
  cubewright_test::agreement_counts counts;
  const std::string problem = cubewright_test::compare_with_expat(document, counts);
  if (!problem.empty()) {
    std::fprintf(stderr, "property failed: %s\n", problem.c_str());
    std::abort();
  }
  return 0;
}
