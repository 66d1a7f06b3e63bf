// The model's voxels as expat reads them, and the comparison of the pull
// reader against that, shared by the differential test and the fuzzer.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace cubewright_test {

/// What the comparisons found, summed over documents.
struct agreement_counts {
  std::size_t documents = 0;
  std::size_t well_formed = 0;      ///< by expat
  std::size_t voxels_compared = 0;  ///< voxels both readers gave, compared bit for bit
  std::size_t excused = 0;          ///< refused by the reader by design (see below)
  std::size_t excused_names = 0;    ///< of those, for non-ASCII name characters
};

/// Reads `document` with expat (voxels from its start-element callbacks, the
/// same attribute rules as the reader, strtod for numbers, which must be
/// finite as floats) and with the pull reader, and returns "" when they
/// agree: expat finds it well-formed exactly when the reader reports no
/// well-formedness error, both stop at the same kind of content fault, and
/// both give the same voxels bit for bit.
/// Excused: what the reader refuses by design (a document type declaration,
/// an encoding other than UTF-8, a limit), input that expat takes for UTF-16,
/// and names whose only fault for expat is a non-ASCII character, which expat
/// judges by the older edition of XML 1.0 and the reader by the current one.
std::string compare_with_expat(std::string_view document, agreement_counts& counts);

}  // namespace cubewright_test
