// Fuzzes the value reader the way a unit's input meets it: one READ after
// another, each of an integer or a real, each ending by skipping the rest of
// its record, until a read fails or the input ends. The same bytes go through
// a string and through a unit's file source fed by a descriptor in packets of
// varying size; both must agree, keep the source's push-back contract, and
// leave the variable alone unless a value was read, and keep to the record
// in which each read decided. Integers must spell the digits they were read
// from, and reals convert as the library converts.
//
// Input: byte 0 picks the item types (bit k % 8 set: statement k reads a
// real), byte 1 seeds the packet sizes, the rest is the unit's input.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "keeps_to_record.h"
#include "reader.h"
#include "units.h"

#ifndef _WIN32
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

using rt::ReadStatus;

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "reader fuzz: %s\n", what);
  std::abort();
}

// Wraps a source, checks the reader keeps to one byte of push-back and
// never pushes back the end, and counts the bytes consumed.
template <class Source>
class CheckedSource {
 public:
  explicit CheckedSource(Source& inner) : inner_(inner) {}
  int get() {
    int c = inner_.get();
    if (ended_ && c != rt::kEof) fail("a byte came after the end");
    ended_ = c == rt::kEof;
    may_unget_ = !ended_;
    if (may_unget_) ++position_;
    return c;
  }
  void unget() {
    if (!may_unget_) fail("push-back without a byte to push back");
    may_unget_ = false;
    --position_;
    inner_.unget();
  }
  std::size_t position() const { return position_; }
  // The inner source was moved on without get(): by `count` bytes, or to
  // `position`.
  void skipped(std::size_t count) { moved_to(position_ + count); }
  void moved_to(std::size_t position) {
    position_ = position;
    may_unget_ = false;
  }

 private:
  Source& inner_;
  std::size_t position_ = 0;
  bool may_unget_ = false;
  bool ended_ = false;
};

struct Outcome {
  ReadStatus status;
  std::uint64_t bits;   // the variable after the read
  std::size_t end;      // bytes consumed by the value
  bool record_skipped;  // the statement's end found a line end

  bool operator==(const Outcome&) const = default;
};

constexpr std::int64_t kUnsetInteger = 0x5EEDBEEF;
constexpr float kUnsetReal = -1234.5f;

bool is_digit(unsigned char c) {
  return c >= '0' && c <= '9';
}

// The digit run that ends at `end`, leading zeros stripped.
std::string_view last_digits(std::string_view text, std::size_t end, char& sign) {
  std::size_t first = end;
  while (first > 0 && is_digit(text[first - 1])) --first;
  sign = first > 0 ? text[first - 1] : ' ';
  std::string_view digits = text.substr(first, end - first);
  while (digits.size() > 1 && digits[0] == '0') digits.remove_prefix(1);
  return digits;
}

// Integers are built exactly: the value must spell the digits consumed.
void check_integer(std::string_view text, const Outcome& o, std::int64_t value) {
  if (o.status != ReadStatus::kValue && o.status != ReadStatus::kIntegerOutOfRange) return;
  char sign;
  std::string_view digits = last_digits(text, o.end, sign);
  if (digits.empty()) fail("an integer without digits");
  constexpr std::string_view kMax = "9223372036854775807";
  constexpr std::string_view kMinMagnitude = "9223372036854775808";
  std::string_view limit = sign == '-' ? kMinMagnitude : kMax;
  bool too_large =
      digits.size() > limit.size() || (digits.size() == limit.size() && digits > limit);
  if (too_large != (o.status == ReadStatus::kIntegerOutOfRange))
    fail("integer range decided wrongly");
  if (too_large) return;
  char spelled[24];
  std::snprintf(spelled, sizeof spelled, "%lld", static_cast<long long>(value));
  std::string_view expected = spelled[0] == '-' ? spelled + 1 : spelled;
  if (digits != expected || (value < 0) != (sign == '-' && value != 0)) fail("integer value");
}

// A real of at most 40 significant digits is converted exactly as written:
// to the nearest double, then to the nearest float, or beyond the largest
// float to infinity or the largest float. The library's own conversion of
// the same text, with its exponent spelled the usual way, is the reference.
void check_real(std::string_view text, std::size_t start, const Outcome& o, float value) {
  if (o.status != ReadStatus::kValue) return;
  if (std::isnan(value)) fail("a real read as NaN");
  std::string_view token = text.substr(start, o.end - start);
  if (std::size_t star = token.find('*'); star != std::string_view::npos) {
    token.remove_prefix(star + 1);
  }
  token.remove_prefix(std::min(token.find_first_not_of(" \t\r\n"), token.size()));
  std::string spelled;
  int significant = 0;
  bool in_exponent = false;
  for (std::size_t k = 0; k < token.size(); ++k) {
    char c = token[k];
    if (!in_exponent && k != 0 && (c == '+' || c == '-')) {
      spelled += 'e';
      in_exponent = true;
    } else if (c == 'd' || c == 'D' || c == 'e' || c == 'E') {
      c = 'e';
      in_exponent = true;
    } else if (!in_exponent && is_digit(c) && (significant != 0 || c != '0')) {
      ++significant;
    }
    spelled += c;
  }
  if (significant > 40) return;  // digits beyond the 40th are dropped, not rounded
  double reference = std::strtod(spelled.c_str(), nullptr);
  bool right = std::fabs(reference) > FLT_MAX
                   ? std::fabs(value) >= FLT_MAX && std::signbit(value) == std::signbit(reference)
                   : value == static_cast<float>(reference);
  if (!right) fail("real value");
}

// One READ statement after another, as the statements run them. A string
// goes through the reader alone; a unit's file source, as in the run-time,
// first offers an integer to the fast path and skips the rest of a record
// by its own means.
template <class Source>
std::vector<Outcome> read_unit(Source& source, std::uint8_t types, std::string_view text) {
  constexpr bool kUnitSource = requires {
    source.skip_line();
  };
  CheckedSource<Source> s(source);
  std::vector<Outcome> outcomes;
  for (unsigned k = 0;; ++k) {
    std::size_t start = s.position();
    Outcome o{};
    if (types >> (k % 8) & 1) {
      float value = kUnsetReal;
      o.status = rt::read_real(s, value);
      o.end = s.position();
      std::memcpy(&o.bits, &value, sizeof value);
      if (o.status != ReadStatus::kValue && value != kUnsetReal)
        fail("real changed without a value");
      check_real(text, start, o, value);
    } else {
      std::int64_t value = kUnsetInteger;
      bool plain = false;
      if constexpr (kUnitSource) {
        const unsigned char* before = source.buffered_begin();
        plain = rt::read_plain_integer(source, value);
        if (plain) s.skipped(static_cast<std::size_t>(source.buffered_begin() - before));
      }
      o.status = plain ? ReadStatus::kValue : rt::read_integer(s, value);
      o.end = s.position();
      o.bits = static_cast<std::uint64_t>(value);
      if (o.status != ReadStatus::kValue && value != kUnsetInteger) {
        fail("integer changed without a value");
      }
      check_integer(text, o, value);
    }
    if (!rt_test::keeps_to_record(text, start, o.end)) fail("a READ took its record's line end");
    if (o.status >= ReadStatus::kEndOfFile) {
      outcomes.push_back(o);
      return outcomes;  // the statement fails: the run would end here
    }
    if constexpr (kUnitSource) {
      o.record_skipped = source.skip_line();
      s.moved_to(rt_test::next_record(text, start));
    } else {
      o.record_skipped = rt::skip_record(s);
      if (s.position() != rt_test::next_record(text, start)) fail("not at the next record");
    }
    outcomes.push_back(o);
    if (!o.record_skipped) return outcomes;  // the next READ finds the end
  }
}

#ifndef _WIN32
// The input as a descriptor that delivers it in packets, so the file
// source refills at arbitrary places, then reports the end.
int packet_descriptor(std::string_view text, unsigned seed) {
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET, 0, ends) != 0) fail("socketpair");
  constexpr int kMaxPackets = 32;  // keeps the queue well inside the socket's buffer
  for (int packets = 1; !text.empty(); ++packets) {
    seed = seed * 1103515245u + 12345u;
    std::size_t size = packets == kMaxPackets ? text.size() : 1 + (seed >> 16) % 256;
    if (size > text.size()) size = text.size();
    if (send(ends[0], text.data(), size, 0) != static_cast<ssize_t>(size)) fail("send");
    text.remove_prefix(size);
  }
  close(ends[0]);
  return ends[1];
}
#endif

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  // A packet must fit the file source's buffer whole.
  constexpr std::size_t kMaxInput = 64 * 1024;
  std::string_view text(reinterpret_cast<const char*>(data) + 2,
                        size - 2 < kMaxInput ? size - 2 : kMaxInput);
  rt::StringSource string_source(text);
  std::vector<Outcome> expected = read_unit(string_source, data[0], text);
#ifndef _WIN32
  static rt::FileSource file_source;  // its buffer is kept, as a unit keeps it
  int fd = packet_descriptor(text, data[1]);
  file_source.attach(fd);
  std::vector<Outcome> got = read_unit(file_source, data[0], text);
  bool at_end = file_source.at_end();
  file_source.attach(-1);
  close(fd);
  if (got != expected) fail("the file source and the string disagree");
  if (!got.back().record_skipped && got.back().status < ReadStatus::kEndOfFile && !at_end) {
    fail("the end of the input did not stick");
  }
#endif
  return 0;
}
