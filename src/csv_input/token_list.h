// The fields of a sproxel CSV export, read straight out of the file's bytes.
#pragma once

#include <cstddef>
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
    iterator(const char* next, const char* end) : next_(next), end_(end) { advance(); }

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
        const char* stop = start;
        while (stop != end_ && *stop != ',' && *stop != '\n') ++stop;
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

    const char* next_ = nullptr;
    const char* end_ = nullptr;
    std::string_view token_;
  };

  iterator begin() const { return iterator(text.data(), text.data() + text.size()); }
  iterator end() const { return iterator(); }
};

/// Makes the token list of a whole input text. A UTF-8 byte order mark at the
/// start is not part of the first field.
token_list read_token_list(std::string_view text);

}  // namespace cubewright
