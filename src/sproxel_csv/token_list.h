// The fields of a sproxel CSV export, read straight out of the file's bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string_view>

#include "text/byte_words.h"

namespace cubewright {

/// Reads the non-empty fields of a text one at a time, from a position that
/// is the start of a field.
///
/// A field is the text between two separators, where "," and the line end
/// separate; a line ends at LF, and a CR directly before the LF belongs to the
/// line end. Fields are kept byte for byte: nothing is trimmed or converted.
/// The reader holds no state but its position, so a caller that knows the
/// shape of what follows may read past it itself and move the position on.
class field_reader {
 public:
  field_reader() = default;
  field_reader(const char* next, const char* end) : next_(next), end_(end) {}

  /// Where the next field starts (or the empty ones before it).
  const char* position() const { return next_; }
  const char* end() const { return end_; }
  std::size_t remaining() const { return static_cast<std::size_t>(end_ - next_); }

  /// Moves to `next`, which must be the start of a field not before the
  /// current position, or the end.
  void move_to(const char* next) { next_ = next; }

  /// The next non-empty field; false at the end of the text.
  bool next(std::string_view& field) {
    while (next_ != end_) {
      const char* start = next_;
      const char* stop = next_separator(start, end_);
      next_ = stop == end_ ? stop : stop + 1;
      const char* field_end = stop;
      if (stop != end_ && *stop == '\n' && field_end != start && field_end[-1] == '\r') {
        --field_end;
      }
      if (field_end != start) {
        field = std::string_view(start, static_cast<std::size_t>(field_end - start));
        return true;
      }
    }
    return false;
  }

  /// The high bit of byte i is set exactly when byte i of the word is "," or
  /// LF.
  static std::uint64_t separator_flags(std::uint64_t word) {
    return bytes_equal_to(word, ',') | bytes_equal_to(word, '\n');
  }

 private:
  // The first "," or LF from `from` on, or `end`, searched eight bytes at a
  // time.
  static const char* next_separator(const char* from, const char* end) {
    for (; end - from >= 8; from += 8) {
      const std::uint64_t flags = separator_flags(load_word(from));
      if (flags != 0) return from + first_flagged_byte(flags);
    }
    while (from != end && *from != ',' && *from != '\n') ++from;
    return from;
  }

  const char* next_ = nullptr;
  const char* end_ = nullptr;
};

/// The non-empty fields of a whole input text, in file order, as field_reader
/// reads them.
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
    iterator(const char* next, const char* end) : fields_(next, end) { advance(); }

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

    /// The fields after the current one.
    const field_reader& rest() const { return fields_; }

   private:
    // Moves to the next non-empty field; at the end the token is null.
    void advance() {
      if (!fields_.next(token_)) token_ = std::string_view();
    }

    field_reader fields_;
    std::string_view token_;
  };

  iterator begin() const { return iterator(text.data(), text.data() + text.size()); }
  iterator end() const { return iterator(); }
};

/// Makes the token list of a whole input text. A UTF-8 byte order mark at the
/// start is not part of the first field.
token_list read_token_list(std::string_view text);

}  // namespace cubewright
