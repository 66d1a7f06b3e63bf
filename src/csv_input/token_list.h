// The fields of a sproxel CSV export, read straight out of the file's bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string_view>

namespace cubewright {

/// The non-empty fields of a whole input text, in file order.
///
/// A field is the text between two separators, where "," and the line end
/// separate; a line ends at LF, and a CR directly before the LF belongs to the
/// line end. Fields are kept byte for byte: nothing is trimmed or converted.
///
/// A token_list is a view: it does not own the text, which must outlive it and
/// every token taken from it. Iterating it allocates nothing.
struct token_list {
  std::string_view text;

  class iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = std::string_view;
    using difference_type = std::ptrdiff_t;
    using pointer = const std::string_view*;
    using reference = const std::string_view&;

    iterator() = default;
    iterator(const char* next, const char* end) : next_(next), end_(end), scanned_(next) {
      advance();
    }

    reference operator*() const { return token_; }
    pointer operator->() const { return &token_; }
    iterator& operator++() {
      advance();
      return *this;
    }
    iterator operator++(int) {
      iterator old = *this;
      advance();
      return old;
    }
    friend bool operator==(const iterator& a, const iterator& b) {
      return a.token_.data() == b.token_.data();
    }
    friend bool operator!=(const iterator& a, const iterator& b) { return !(a == b); }

   private:
    // Moves to the next non-empty field; at the end the token is null.
    void advance() {
      while (next_ != end_) {
        const char* start = next_;
        const char* stop = next_separator();
        next_ = stop == end_ ? stop : stop + 1;
        const char* field_end = stop;
        if (stop != end_ && *stop == '\n' && field_end != start && field_end[-1] == '\r') {
          --field_end;
        }
        if (field_end != start) {
          token_ = std::string_view(start, static_cast<std::size_t>(field_end - start));
          return;
        }
      }
      token_ = std::string_view();
    }

    // The first "," or LF from next_ on, or end_. The text is searched eight
    // bytes at a time, and each block's separators are kept for the fields
    // that follow, so every byte is looked at once.
    const char* next_separator() {
      while (separators_ == 0) {
        if (end_ - scanned_ < 8) {
          const char* from = next_ < scanned_ ? scanned_ : next_;
          while (from != end_ && *from != ',' && *from != '\n') ++from;
          return from;
        }
        block_ = scanned_;
        scanned_ += 8;
        separators_ = separator_flags(block_);
        // Entering a page of memory: ask for the next one. A text mapped from
        // a file is met page by page for the first time, and waiting for each
        // page costs more than the scan itself.
        if ((reinterpret_cast<std::uintptr_t>(block_) & (page_size - 1)) < 8 &&
            end_ - scanned_ > page_size) {
          prefetch(block_ + page_size);
        }
      }
      // The lowest flag alone is 2^(8i + 7) for byte i; the multiplication
      // brings i into the top byte.
      const std::uint64_t lowest = separators_ & (~separators_ + 1);
      separators_ ^= lowest;
      return block_ + ((lowest >> 7) * 0x0001020304050607u >> 56);
    }

    static constexpr std::ptrdiff_t page_size = 4096;

    // A hint that memory at `address` is read soon.
    static void prefetch(const char* address) {
#if defined(__GNUC__)
      __builtin_prefetch(address);
#else
      static_cast<void>(address);  // compilers without the hint do without it
#endif
    }

    // The high bit of byte i is set exactly when byte i of the block is ","
    // or LF.
    static std::uint64_t separator_flags(const char* block) {
      const auto* bytes = reinterpret_cast<const unsigned char*>(block);
      // Byte i of the text is byte i of the word, counted from the least
      // significant, whatever the machine's byte order; compilers make this
      // one load.
      const std::uint64_t word = std::uint64_t{bytes[0]} | std::uint64_t{bytes[1]} << 8 |
                                 std::uint64_t{bytes[2]} << 16 | std::uint64_t{bytes[3]} << 24 |
                                 std::uint64_t{bytes[4]} << 32 | std::uint64_t{bytes[5]} << 40 |
                                 std::uint64_t{bytes[6]} << 48 | std::uint64_t{bytes[7]} << 56;
      constexpr std::uint64_t ones = 0x0101010101010101u;
      constexpr std::uint64_t low_bits = 0x7F7F7F7F7F7F7F7Fu;
      // The high bit of each byte that is not zero. Adding 0x7F to the low
      // seven bits of a byte sets its high bit unless they are all zero, and
      // never carries into the next byte.
      const auto nonzero = [](std::uint64_t x) { return ((x & low_bits) + low_bits) | x; };
      return ~(nonzero(word ^ (ones * ',')) & nonzero(word ^ (ones * '\n'))) & ~low_bits;
    }

    const char* next_ = nullptr;  // where the next field starts
    const char* end_ = nullptr;
    const char* scanned_ = nullptr;  // the blocks before this are searched
    const char* block_ = nullptr;    // the block whose separators are kept
    std::uint64_t separators_ = 0;   // its flags not yet used
    std::string_view token_;
  };

  iterator begin() const { return iterator(text.data(), text.data() + text.size()); }
  iterator end() const { return iterator(); }
};

/// Makes the token list of a whole input text. A UTF-8 byte order mark at the
/// start is not part of the first field.
token_list read_token_list(std::string_view text);

}  // namespace cubewright
