// The record writer: the column rules of a WRITE statement, integers
// formatted in place, and the unit's buffer of whole records.
#include "writer.h"

#include <array>
#include <atomic>
#include <bit>
#include <cassert>
#include <cstring>

#include "platform.h"

namespace rt {

namespace {

// Whole records up to the write-out size, and the short records of the
// statement that reaches it.
constexpr std::size_t kInitialCapacity = RecordBuffer::kWriteOutSize + 256;

// 0, then 10 to 10^19: the powers count_digits compares with.
constexpr auto kPowersOf10 = [] {
  std::array<std::uint64_t, 20> powers{};
  powers[1] = 10;
  for (std::size_t k = 2; k < powers.size(); ++k) powers[k] = powers[k - 1] * 10;
  return powers;
}();

// Returns the number of decimal digits of n; 1 for zero.
std::size_t count_digits(std::uint64_t n) {
  // bit_width * 1233 / 4096 is log10 of the bit width's power of two,
  // at most one below the answer.
  std::size_t t = (static_cast<std::size_t>(std::bit_width(n | 1)) * 1233) >> 12;
  return t - (n < kPowersOf10[t]) + 1;
}

constexpr char kDigitPairs[] =
    "0001020304050607080910111213141516171819202122232425262728293031323334353637383940414243444546"
    "4748495051525354555657585960616263646566676869707172737475767778798081828384858687888990919293"
    "949596979899";

// Writes the decimal digits of `magnitude` backwards, ending at `end`, two
// at a time. Table values fit 32 bits, whose division is the cheaper one.
template <class UInt>
void format_digits(UInt magnitude, char* end) {
  while (magnitude >= 100) {
    end -= 2;
    std::memcpy(end, kDigitPairs + 2 * (magnitude % 100), 2);
    magnitude /= 100;
  }
  if (magnitude >= 10) {
    std::memcpy(end - 2, kDigitPairs + 2 * magnitude, 2);
  } else {
    end[-1] = static_cast<char>('0' + magnitude);
  }
}

}  // namespace

bool RecordBuffer::grow(std::size_t needed) {
  std::size_t capacity = capacity_ == 0 ? kInitialCapacity : capacity_;
  while (capacity < needed) capacity *= 2;
  char* fresh = static_cast<char*>(platform::allocate(capacity));
  if (fresh == nullptr) return false;
  if (size_ != 0) std::memcpy(fresh, data_, size_);
  // An exit routine run from a handler finds the old block or the whole
  // copy, never a freed one.
  std::atomic_signal_fence(std::memory_order_seq_cst);
  char* old = data_;
  data_ = fresh;
  capacity_ = capacity;
  platform::release(old);
  return true;
}

bool RecordBuffer::end_record() {
  if (!put(platform::kLineEnd, platform::kLineEndLength)) return false;
  // The bytes must be in place before the record counts as whole.
  std::atomic_signal_fence(std::memory_order_seq_cst);
  whole_ = size_;
  return true;
}

void RecordBuffer::forget_written() {
  std::size_t rest = size_ - written_;
  if (rest != 0 && written_ != 0) std::memmove(data_, data_ + written_, rest);
  whole_ -= written_;
  size_ = rest;
  written_ = 0;
}

bool RecordWriter::text(const char* bytes, std::size_t length) {
  if (column() != 0 && column() + length >= kLineLength && !out_->end_record()) return false;
  const std::size_t blank = column() == 0 ? 1 : 0;
  if (!out_->make_room(blank + length)) return false;
  char* to = out_->end();
  if (blank != 0) *to = ' ';
  std::memcpy(to + blank, bytes, length);
  out_->advance(blank + length);
  return true;
}

bool RecordWriter::integer(std::int64_t value) {
  // The magnitude in unsigned arithmetic, so the most negative value has one.
  std::uint64_t magnitude = static_cast<std::uint64_t>(value);
  if (value < 0) magnitude = ~magnitude + 1;
  const std::size_t digits = count_digits(magnitude);
  if (column() != 0 && column() + digits >= kLineLength && !out_->end_record()) return false;
  const std::size_t length = digits + (value < 0 ? 2 : 1);
  if (!out_->make_room(length)) return false;
  char* to = out_->end();
  to[0] = ' ';
  to[1] = '-';  // overwritten by the first digit when not negative
  if (magnitude >> 32 == 0) {
    format_digits(static_cast<std::uint32_t>(magnitude), to + length);
  } else {
    format_digits(magnitude, to + length);
  }
  out_->advance(length);
  return true;
}
}  // namespace rt
