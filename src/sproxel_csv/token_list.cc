#include "sproxel_csv/token_list.h"

namespace cubewright {

token_list read_token_list(std::string_view text) {
  constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";
  if (text.substr(0, byte_order_mark.size()) == byte_order_mark) {
    text.remove_prefix(byte_order_mark.size());
  }
  return token_list{text};
}

}  // namespace cubewright
