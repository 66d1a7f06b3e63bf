// The platform's text convention, for tests that compare whole documents.
#pragma once

#include <string>
#include <string_view>

namespace cubewright_test {

/// The line end of documents and messages on this platform: LF, or CR LF on
/// Windows. Set by the build, not taken from the code under test.
std::string_view native_line_end();

/// `lf_text` with every LF turned into the platform's line end: what the
/// program writes for a document written here with LF line ends.
std::string native_document(std::string_view lf_text);

}  // namespace cubewright_test
