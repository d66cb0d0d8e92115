// A unit's reading side: buffered reading from a descriptor, as a buffered
// source for the value reader.
#pragma once

#include <cassert>
#include <cstddef>

#include "reader.h"

namespace rt {

// Buffered reading from a descriptor, as a buffered source for the value
// reader (reader.h). The per-byte path is inline; only refilling leaves it.
class FileSource {
 public:
  int get() {
    if (next_ != end_) return *next_++;
    return refill_and_get();
  }
  void unget() {
    assert(buffer_ != nullptr && next_ > buffer_);  // a byte that get() returned
    --next_;
  }

  // Reads `fd` from here on, from an empty buffer; -1 reads nothing.
  void attach(int fd);
  const unsigned char* buffered_begin() const { return next_; }
  const unsigned char* buffered_end() const { return end_; }
  // Marks the buffered bytes before `next` as read.
  void consume_to(const unsigned char* next) { next_ = next; }
  // Skips the rest of the record and its line end; false when the file
  // ended, or failed, first.
  bool skip_line() {
    if (next_ != end_ && *next_ == '\n') {
      ++next_;
      return true;
    }
    return skip_line_slowly();
  }
  bool at_end() const { return at_end_; }
  // The errno of a failed read or of a buffer that could not be had, or 0.
  // A failure is sticky: the source stays at its end, as after the file's.
  int error() const { return error_; }

 private:
  int refill_and_get();
  int fail(int error);  // kEof, the source at its end
  bool skip_line_slowly();

  static constexpr std::size_t kCapacity = 64 * 1024;
  static constexpr unsigned char kNoBytes[1] = {kSentinel};  // before the first refill
  unsigned char* buffer_ = nullptr;  // kCapacity and the sentinel, made at the first
                                     // refill and kept for the next connection
  const unsigned char* next_ = kNoBytes;
  const unsigned char* end_ = kNoBytes;
  int fd_ = -1;
  bool text_ended_ = false;  // what is left of the descriptor is not text
  bool at_end_ = false;      // sticky: a console is not asked again
  int error_ = 0;
};

}  // namespace rt
