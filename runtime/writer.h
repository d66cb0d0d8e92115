// The record writer: lays list-directed items out in records by the column
// rules and keeps whole records apart from the one being built.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform.h"

namespace rt {

// Output bytes of one unit: whole records waiting to be written out, then
// the record being built. Only whole records are ever written out, so an
// exit in the middle of a statement never leaves half a record behind. A
// unit's buffer lives in the unit table, which is never destroyed, so the
// exit path can always read it; any other buffer frees its block. Each call
// that adds bytes fails (null or false) only when memory is out; the buffer
// then holds what it held.
class RecordBuffer {
 public:
  // A unit's whole records are written out at the end of a statement once
  // this many bytes wait; the first block holds that much and more.
  static constexpr std::size_t kWriteOutSize = 64 * 1024;

  RecordBuffer() = default;
  ~RecordBuffer() { platform::release(data_); }
  RecordBuffer(const RecordBuffer&) = delete;
  RecordBuffer& operator=(const RecordBuffer&) = delete;

  [[nodiscard]] bool put(const char* bytes, std::size_t count) {
    if (!make_room(count)) return false;
    std::memcpy(end(), bytes, count);
    size_ += count;
    return true;
  }
  // Room for `count` more bytes of the record being built, from end() on;
  // advance() then takes in as many as were written there. Only growing
  // can fail, so a buffer with room costs no second test.
  [[nodiscard]] bool make_room(std::size_t count) {
    return capacity_ - size_ >= count || grow(size_ + count);
  }
  char* end() { return data_ + size_; }
  void advance(std::size_t count) {
    assert(count <= capacity_ - size_);
    size_ += count;
  }
  // Makes the record being built whole, with the platform's line end.
  [[nodiscard]] bool end_record();
  // Forgets the record being built.
  void drop_partial() { size_ = whole_; }

  const char* data() const { return data_; }
  std::size_t whole_size() const { return whole_; }
  std::size_t size() const { return size_; }
  // The whole bytes not yet written out, which follow the written ones.
  const char* unwritten() const { return data_ + written_; }
  std::size_t unwritten_size() const { return whole_ - written_; }
  // Counts `count` more whole bytes as written out: made together with
  // their write, so that an exit routine never writes them again.
  void mark_written(std::size_t count) {
    assert(count <= whole_ - written_);
    written_ += count;
  }
  // Forgets the bytes written out, once a write-out is over: one move of
  // what follows them for the whole write-out.
  void forget_written();

 private:
  // Out of line: inlined into the scan's loop, it costs 50 scans of 360
  // about 13% (g++ 12, the bench's workloads, as every attribute here).
  [[gnu::noinline]] bool grow(std::size_t needed);

  char* data_ = nullptr;
  std::size_t capacity_ = 0;
  std::size_t size_ = 0;     // bytes in the buffer, record being built included
  std::size_t whole_ = 0;    // bytes of whole records
  std::size_t written_ = 0;  // of those, bytes written out
};

// Lays out the items of one WRITE statement. A record starts with one
// blank; each integer is preceded by one blank; text is copied as it is.
// An item whose digits or bytes would reach column 80 starts a new record.
// Each call returns false when memory is out for its bytes.
class RecordWriter {
 public:
  static constexpr std::size_t kLineLength = 80;

  // Starts a statement whose records go to `out`, which holds no partial
  // record.
  void begin(RecordBuffer& out) { out_ = &out; }

  [[nodiscard]] bool text(const char* bytes, std::size_t length);
  [[nodiscard]] bool integer(std::int64_t value);
  // The end of the statement: ends the record in progress.
  [[nodiscard]] bool finish() { return out_->end_record(); }

 private:
  // Bytes of the record being built, its first blank included.
  std::size_t column() const { return out_->size() - out_->whole_size(); }

  RecordBuffer* out_ = nullptr;
};

}  // namespace rt
