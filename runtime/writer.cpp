#include "writer.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

namespace rt {

namespace {

constexpr std::size_t kInitialCapacity = 64 * 1024 + 256;

// Writes the decimal digits of `magnitude` backwards, ending at `end`.
char* format_digits(std::uint64_t magnitude, char* end) {
  do {
    *--end = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  return end;
}

}  // namespace

void RecordBuffer::grow(std::size_t needed) {
  std::size_t capacity = capacity_ == 0 ? kInitialCapacity : capacity_;
  while (capacity < needed) capacity *= 2;
  // A fresh block filled before it replaces the old one: an exit routine
  // running from a signal handler sees one complete buffer or the other.
  char* fresh = static_cast<char*>(std::malloc(capacity));
  if (fresh == nullptr) throw std::bad_alloc();
  if (size_ != 0) std::memcpy(fresh, data_, size_);
  char* old = data_;
  data_ = fresh;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  capacity_ = capacity;
  std::free(old);
}

void RecordBuffer::put(const char* bytes, std::size_t count) {
  if (capacity_ - size_ < count) grow(size_ + count);
  std::memcpy(data_ + size_, bytes, count);
  size_ += count;
}

void RecordBuffer::put(char byte) {
  if (size_ == capacity_) grow(size_ + 1);
  data_[size_++] = byte;
}

void RecordBuffer::end_record(std::string_view line_end) {
  put(line_end.data(), line_end.size());
  // The bytes must be in place before the record counts as whole.
  std::atomic_signal_fence(std::memory_order_seq_cst);
  whole_ = size_;
}

void RecordBuffer::consume(std::size_t count) {
  std::size_t rest = size_ - count;
  if (rest != 0) std::memmove(data_, data_ + count, rest);
  whole_ -= count;
  size_ = rest;
}

void RecordWriter::end_record() {
  out_->end_record(line_end_);
  column_ = 0;
}

void RecordWriter::text(const char* bytes, std::size_t length) {
  if (column_ != 0 && column_ + length >= kLineLength) end_record();
  if (column_ == 0) {
    out_->put(' ');
    column_ = 1;
  }
  out_->put(bytes, length);
  column_ += length;
}

void RecordWriter::integer(std::int64_t value) {
  // Sign, blank and digits: digits10 + 1 digits plus two.
  char buffer[std::numeric_limits<std::int64_t>::digits10 + 3];
  char* end = buffer + sizeof buffer;
  // The magnitude in unsigned arithmetic, so the most negative value has one.
  std::uint64_t magnitude = static_cast<std::uint64_t>(value);
  if (value < 0) magnitude = ~magnitude + 1;
  char* first = format_digits(magnitude, end);
  std::size_t digits = static_cast<std::size_t>(end - first);
  if (column_ != 0 && column_ + digits >= kLineLength) end_record();
  if (value < 0) *--first = '-';
  *--first = ' ';
  std::size_t length = static_cast<std::size_t>(end - first);
  out_->put(first, length);
  column_ += length;
}

}  // namespace rt
