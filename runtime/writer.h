// The record writer: lays list-directed items out in records by the column
// rules and keeps whole records apart from the one being built.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace rt {

// Output bytes of one unit: whole records waiting to be written out, then
// the record being built. Only whole records are ever written out, so an
// exit in the middle of a statement never leaves half a record behind.
class RecordBuffer {
 public:
  RecordBuffer() = default;
  RecordBuffer(const RecordBuffer&) = delete;
  RecordBuffer& operator=(const RecordBuffer&) = delete;

  void put(const char* bytes, std::size_t count);
  void put(char byte);
  // Makes the record being built whole.
  void end_record(std::string_view line_end);
  // Forgets the record being built.
  void drop_partial() { size_ = whole_; }

  const char* data() const { return data_; }
  std::size_t whole_size() const { return whole_; }
  std::size_t size() const { return size_; }
  // Forgets the first `count` whole bytes once they are written out.
  void consume(std::size_t count);

 private:
  void grow(std::size_t needed);

  char* data_ = nullptr;  // never freed: the exit path may still read it
  std::size_t capacity_ = 0;
  std::size_t size_ = 0;   // bytes in the buffer, record being built included
  std::size_t whole_ = 0;  // bytes of whole records
};

// Lays out the items of one WRITE statement. A record starts with one
// blank; each integer is preceded by one blank; text is copied as it is.
// An item whose digits or bytes would reach column 80 starts a new record.
class RecordWriter {
 public:
  static constexpr std::size_t kLineLength = 80;

  explicit RecordWriter(std::string_view line_end) : line_end_(line_end) {}

  // Starts a statement whose records go to `out`.
  void begin(RecordBuffer& out) {
    out_ = &out;
    column_ = 0;
  }

  void text(const char* bytes, std::size_t length);
  void integer(std::int64_t value);
  // The end of the statement: ends the record in progress.
  void finish() { end_record(); }

 private:
  void end_record();

  RecordBuffer* out_ = nullptr;
  std::string_view line_end_;
  std::size_t column_ = 0;
};

}  // namespace rt
