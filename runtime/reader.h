// The value reader: takes one list-directed value from a byte source.
//
// A source has two operations:
//   int get();    the next byte (0..255), or kEof; at the end it stays there
//   void unget(); pushes back the byte get() just returned; one byte only,
//                 and never kEof
// The reader works on any source: units read through their buffered file
// source, the tests through a string. A buffered source also shows its
// buffered bytes, for the plain-record path (read_plain_integer):
//   buffered_begin(), buffered_end(): the bytes not yet read; the byte at
//       buffered_end() is always kSentinel
//   consume_to(p): marks the bytes before p as read
#pragma once

#include <cassert>
#include <cstdint>

namespace rt {

inline constexpr int kEof = -1;
// The byte after a buffered source's bytes: neither a digit, a sign nor a
// blank, so scans over the buffer stop there without counting.
inline constexpr unsigned char kSentinel = '\0';

// Outcome of reading one value. Anything from kEndOfFile on fails the
// statement; the variable is assigned only on kValue.
enum class ReadStatus : std::uint8_t {
  kValue,
  kNull,               // a comma or an empty repeated value: keep the old value
  kListEnd,            // a slash: this item and the rest keep their values
  kEndOfFile,          // the file ended where a value should start
  kInvalidNumber,      // no digit where a value should be
  kInvalidInteger,     // a point, exponent or trailing sign in an integer
  kIntegerOutOfRange,  // beyond the signed 64-bit range
  kExponentField,      // exponent without digits, or above kMaxExponent
  kBadRepeatCount,     // empty, zero, negative or overlong repeat count
};

// The failure line of a READ that failed with `status` (kEndOfFile or any
// later status): the step that failed and the run-time's message for it.
struct ReadFailure {
  const char* context;
  const char* message;
};
ReadFailure read_failure(ReadStatus status);

namespace reader_detail {

inline constexpr int kMaxSignificantDigits = 40;
inline constexpr std::int64_t kMaxExponent = 99999999;
// Magnitude limit of a 64-bit integer: 2^63 for a negative value.
inline constexpr std::uint64_t kMaxMagnitude = std::uint64_t{1} << 63;
inline constexpr std::uint64_t kMaxBy10 = kMaxMagnitude / 10;
inline constexpr unsigned kMaxLastDigit = kMaxMagnitude % 10;

inline bool is_blank(int c) {
  return c == ' ' || c == '\t' || c == '\n';
}
inline bool ends_list_item(int c) {
  return c == ',' || c == '/';
}
inline ReadStatus null_for(int c) {
  return c == '/' ? ReadStatus::kListEnd : ReadStatus::kNull;
}
inline bool is_exponent_letter(int c) {
  return c == 'e' || c == 'E' || c == 'd' || c == 'D';
}
inline unsigned digit_of(int c) {
  return static_cast<unsigned>(c - '0');
}

// Leaves the byte that ended a step unread for the next one (the end of the
// file is no byte).
template <class Source>
void unread(Source& s, int c) {
  if (c != kEof) s.unget();
}

// Skips blanks, tabs and line ends; a CR directly before a line end is part
// of the line end. Returns the first other byte, consumed. A lone CR comes
// back as '\r' with the byte after it pushed back.
template <class Source>
int skip_blanks(Source& s) {
  for (;;) {
    int c = s.get();
    if (is_blank(c)) continue;
    if (c != '\r') return c;
    int next = s.get();
    if (next == '\n') continue;
    unread(s, next);
    return '\r';
  }
}

// The first byte of a value: end of file, a null, or the value's own byte.
template <class Source>
ReadStatus start_value(Source& s, int& c) {
  c = skip_blanks(s);
  if (c == kEof) return ReadStatus::kEndOfFile;
  // A lone CR starts no value, and the byte after it is already pushed back.
  if (c == '\r') return ReadStatus::kInvalidNumber;
  if (ends_list_item(c)) return null_for(c);
  return ReadStatus::kValue;
}

// A number that ended at `ender` before any digit. It is an empty value, a
// null, where a comma or slash ends it, or after a repeat count a blank, tab,
// line end or the end of the file; anything else is an invalid number. The
// byte that ended it stays unread, so a line end is left to the end of the
// statement. A CR is a line end only with an LF after it: the LF is looked at
// and pushed back in its place.
template <class Source>
ReadStatus no_digits(Source& s, int ender, bool after_count) {
  if (ender == '\r' && after_count) {
    int next = s.get();
    unread(s, next);
    return next == '\n' ? ReadStatus::kNull : ReadStatus::kInvalidNumber;
  }
  unread(s, ender);
  if (ends_list_item(ender)) return null_for(ender);
  if (after_count && (ender == kEof || is_blank(ender))) return ReadStatus::kNull;
  return ReadStatus::kInvalidNumber;
}

// Converts the kept digits times ten to `exponent` as atof does, then to
// the nearest single-precision value; too large becomes infinity.
float decimal_to_float(bool negative, const char* digits, int count, std::int64_t exponent);

// A number as scanned: its sign, its first 40 significant digits and the
// power of ten they are scaled by.
struct Digits {
  bool minus = false;
  char digits[kMaxSignificantDigits];
  int count = 0;              // significant digits kept
  int significant = 0;        // integer-part significant digits seen, up to 41
  std::int64_t exponent = 0;  // value = digits * 10^exponent
  bool any_digit = false;
  bool after_count = false;  // a repeat count came before
};

// Optional sign at `c`: consumes it and moves `c` on; true for a minus.
template <class Source>
bool optional_sign(Source& s, int& c) {
  if (c != '+' && c != '-') return false;
  const bool minus = c == '-';
  c = s.get();
  return minus;
}

// An optional sign, then the integer digits: leading zeros skipped, 40
// digits kept, each further digit scales by ten. Returns the byte after them.
template <class Source>
int scan_sign_and_digits(Source& s, int c, Digits& d) {
  d.minus = optional_sign(s, c);
  while (c == '0') {
    d.any_digit = true;
    c = s.get();
  }
  for (; digit_of(c) <= 9; c = s.get()) {
    d.any_digit = true;
    if (d.count < kMaxSignificantDigits) {
      d.digits[d.count++] = static_cast<char>(c);
    } else {
      ++d.exponent;
    }
    if (d.significant <= kMaxSignificantDigits) ++d.significant;
  }
  return c;
}

// Repeat count: a '*' at `c` makes the sign and digits just scanned a count,
// which must be 1 to 40 digits without a sign. Only the value after the '*'
// is used; its sign and integer digits replace the count's in `d`, and a
// second '*' ends it.
template <class Source>
ReadStatus repeat_count(Source& s, int& c, Digits& d) {
  if (c != '*') return ReadStatus::kValue;
  if (d.minus || d.significant == 0 || d.significant > kMaxSignificantDigits) {
    return ReadStatus::kBadRepeatCount;
  }
  d = Digits{};
  d.after_count = true;
  c = scan_sign_and_digits(s, s.get(), d);
  return ReadStatus::kValue;
}

// Digits after the point. Returns the byte after them.
template <class Source>
int scan_fraction(Source& s, int c, Digits& d) {
  for (; digit_of(c) <= 9; c = s.get()) {
    d.any_digit = true;
    if (d.count == 0 && c == '0') {
      --d.exponent;  // zeros before the first significant digit only scale
    } else if (d.count < kMaxSignificantDigits) {
      d.digits[d.count++] = static_cast<char>(c);
      --d.exponent;
    }
  }
  return c;
}

// Optional exponent at `c`: a letter and an optional sign, or a sign alone,
// then at least one digit, up to kMaxExponent. Without one, `c` is left
// unread; so is the byte after the exponent, or after a letter or sign
// without digits (it may be the record's line end).
template <class Source>
ReadStatus scan_exponent(Source& s, int c, std::int64_t& exponent) {
  if (is_exponent_letter(c)) {
    c = s.get();
  } else if (c != '+' && c != '-') {
    unread(s, c);
    return ReadStatus::kValue;
  }
  const bool minus = optional_sign(s, c);
  if (digit_of(c) > 9) {
    unread(s, c);
    return ReadStatus::kExponentField;
  }
  std::int64_t value = 0;
  for (; digit_of(c) <= 9; c = s.get()) {
    value = value * 10 + digit_of(c);
    if (value > kMaxExponent) return ReadStatus::kExponentField;
  }
  unread(s, c);
  exponent += minus ? -value : value;
  return ReadStatus::kValue;
}

// The integer that scanned digits spell, exactly, or kIntegerOutOfRange
// beyond the signed 64-bit range (which the 40 kept digits are, when more
// were scanned).
inline ReadStatus integer_of(const Digits& d, std::int64_t& out) {
  std::uint64_t magnitude = 0;
  for (int k = 0; k < d.count; ++k) {
    const unsigned digit = digit_of(d.digits[k]);
    if (magnitude >= kMaxBy10 && (magnitude > kMaxBy10 || digit > kMaxLastDigit)) {
      return ReadStatus::kIntegerOutOfRange;
    }
    magnitude = magnitude * 10 + digit;
  }
  if (!d.minus && magnitude == kMaxMagnitude) return ReadStatus::kIntegerOutOfRange;
  // Negating in unsigned arithmetic keeps the most negative value exact.
  out = static_cast<std::int64_t>(d.minus ? ~magnitude + 1 : magnitude);
  return ReadStatus::kValue;
}

// One real number starting at byte `c`: [count *] [sign] digits [. digits]
// [exponent].
template <class Source>
ReadStatus scan_real(Source& s, int c, float& out) {
  Digits d;
  c = scan_sign_and_digits(s, c, d);
  if (ReadStatus st = repeat_count(s, c, d); st != ReadStatus::kValue) return st;
  if (c == '.') c = scan_fraction(s, s.get(), d);
  if (!d.any_digit) return no_digits(s, c, d.after_count);
  if (ReadStatus st = scan_exponent(s, c, d.exponent); st != ReadStatus::kValue) return st;
  out = decimal_to_float(d.minus, d.digits, d.count, d.exponent);
  return ReadStatus::kValue;
}

// One integer starting at byte `c`: [count *] [sign] digits; a point, an
// exponent or a sign after the digits makes it invalid.
template <class Source>
ReadStatus scan_integer(Source& s, int c, std::int64_t& out) {
  Digits d;
  c = scan_sign_and_digits(s, c, d);
  if (ReadStatus st = repeat_count(s, c, d); st != ReadStatus::kValue) return st;
  if (c == '.') return ReadStatus::kInvalidInteger;
  if (!d.any_digit) return no_digits(s, c, d.after_count);
  if (is_exponent_letter(c) || c == '+' || c == '-') return ReadStatus::kInvalidInteger;
  unread(s, c);
  return integer_of(d, out);
}

}  // namespace reader_detail

// The common table record, read straight from a buffered source: blanks,
// an optional sign, at most 18 digits (no overflow is possible) and a byte
// that plainly ends the value, all within the buffer. The sentinel after
// the buffer spares every loop here a bounds check. Returns false, with
// nothing consumed, for anything else; the full reader takes it then.
template <class BufferedSource>
bool read_plain_integer(BufferedSource& s, std::int64_t& out) {
  assert(*s.buffered_end() == kSentinel);
  const unsigned char* p = s.buffered_begin();
  while (*p == ' ' || *p == '\t') ++p;
  const bool minus = *p == '-';
  if (minus || *p == '+') ++p;
  const unsigned char* const first = p;
  std::uint64_t magnitude = 0;  // may wrap on a long run of digits, refused below
  for (std::uint64_t d; (d = std::uint64_t{*p} - '0') <= 9; ++p) magnitude = magnitude * 10 + d;
  if (p == first || p - first > 18 || p >= s.buffered_end()) return false;
  const unsigned char c = *p;
  if (c != '\n' && c != '\r' && c != ' ' && c != '\t' && c != ',' && c != '/') return false;
  s.consume_to(p);
  out = minus ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
  return true;
}

// Reads one value into `out`; `out` is changed only when kValue comes back.
// The byte that ended the value stays unread, and so does the line end of
// the record in which the value, a null or a failure was decided.
template <class Source>
ReadStatus read_integer(Source& s, std::int64_t& out) {
  int c;
  ReadStatus st = reader_detail::start_value(s, c);
  return st == ReadStatus::kValue ? reader_detail::scan_integer(s, c, out) : st;
}

template <class Source>
ReadStatus read_real(Source& s, float& out) {
  int c;
  ReadStatus st = reader_detail::start_value(s, c);
  return st == ReadStatus::kValue ? reader_detail::scan_real(s, c, out) : st;
}

}  // namespace rt
