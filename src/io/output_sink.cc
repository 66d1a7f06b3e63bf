#include "io/output_sink.h"

namespace cubewright {
namespace {

// Once the sink has failed the block only keeps room for the writer to go on
// filling; what it fills is dropped.
void use_own_block(output_block& block, std::size_t size) {
  block.own.resize(size);
  block.data = block.own.data();
  block.size = size;
}

}  // namespace

output_sink string_sink(std::string& text) {
  output_sink sink;
  sink.context = &text;
  sink.write = [](void* context, const char* data, std::size_t size) {
    static_cast<std::string*>(context)->append(data, size);
    return true;
  };
  return sink;
}

output_block open_output_block(output_sink sink, std::size_t block_size, std::size_t line_limit) {
  output_block block;
  block.sink = sink;
  if (sink.exchange != nullptr && sink.block_size >= line_limit) {
    block.data = sink.exchange(sink.context, nullptr, 0);
    block.size = sink.block_size;
    if (block.data == nullptr) {
      block.failed = true;
      use_own_block(block, line_limit);
    }
    return block;
  }
  block.sink.exchange = nullptr;
  use_own_block(block, block_size < line_limit ? line_limit : block_size);
  return block;
}

void flush_output_block(output_block& block) {
  if (!block.failed && block.used != 0) {
    if (block.sink.exchange != nullptr) {
      block.data = block.sink.exchange(block.sink.context, block.data, block.used);
      if (block.data == nullptr) {
        block.failed = true;
        use_own_block(block, block.size);
      }
    } else {
      block.failed = !block.sink.write(block.sink.context, block.data, block.used);
    }
  }
  block.used = 0;
}

}  // namespace cubewright
