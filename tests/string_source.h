// The reader's source for the unit tests and the fuzz target: a string, buffered whole as a unit's
// file source buffers a file, then the sentinel (the contract reader.h states).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "reader.h"

namespace rt {

class StringSource {
 public:
  explicit StringSource(std::string_view text) : bytes_(text) {
    bytes_.push_back(static_cast<char>(kSentinel));
  }
  int get() { return next_ < end() ? bytes()[next_++] : kEof; }
  void unget() { --next_; }
  const unsigned char* buffered_begin() const { return bytes() + next_; }
  const unsigned char* buffered_end() const { return bytes() + end(); }
  void consume_to(const unsigned char* next) { next_ = static_cast<std::size_t>(next - bytes()); }
  std::string_view rest() const { return std::string_view(bytes_).substr(next_, end() - next_); }

 private:
  const unsigned char* bytes() const {
    return reinterpret_cast<const unsigned char*>(bytes_.data());
  }
  std::size_t end() const { return bytes_.size() - 1; }  // where the sentinel stands

  std::string bytes_;
  std::size_t next_ = 0;
};

}  // namespace rt
