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
    if (next != kEof) s.unget();
    return '\r';
  }
}

inline ReadStatus check_repeat_count(bool minus, int significant) {
  if (minus || significant == 0 || significant > kMaxSignificantDigits) {
    return ReadStatus::kBadRepeatCount;
  }
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
    if (next != kEof) s.unget();
    return next == '\n' ? ReadStatus::kNull : ReadStatus::kInvalidNumber;
  }
  if (ender != kEof) s.unget();
  if (ends_list_item(ender)) return null_for(ender);
  if (after_count && (ender == kEof || is_blank(ender))) return ReadStatus::kNull;
  return ReadStatus::kInvalidNumber;
}

// Converts the kept digits times ten to `exponent` as atof does, then to
// the nearest single-precision value; too large becomes infinity.
float decimal_to_float(bool negative, const char* digits, int count, std::int64_t exponent);

// The digits and exponent of a real value as scanned.
struct RealDigits {
  char digits[kMaxSignificantDigits];
  int count = 0;              // significant digits kept
  int significant = 0;        // integer-part significant digits seen, up to 41
  std::int64_t exponent = 0;  // value = digits * 10^exponent
  bool any_digit = false;
};

// Integer part of a real: leading zeros skipped, 40 digits kept, each
// further digit scales by ten. Returns the byte after the digits.
template <class Source>
int scan_integer_part(Source& s, int c, RealDigits& r) {
  while (c == '0') {
    r.any_digit = true;
    c = s.get();
  }
  for (; digit_of(c) <= 9; c = s.get()) {
    r.any_digit = true;
    if (r.count < kMaxSignificantDigits) {
      r.digits[r.count++] = static_cast<char>(c);
    } else {
      ++r.exponent;
    }
    if (r.significant <= kMaxSignificantDigits) ++r.significant;
  }
  return c;
}

template <class Source>
int scan_fraction(Source& s, int c, RealDigits& r) {
  for (; digit_of(c) <= 9; c = s.get()) {
    r.any_digit = true;
    if (r.count == 0 && c == '0') {
      --r.exponent;  // zeros before the first significant digit only scale
    } else if (r.count < kMaxSignificantDigits) {
      r.digits[r.count++] = static_cast<char>(c);
      --r.exponent;
    }
  }
  return c;
}

// Exponent digits after the letter or sign; at least one is required.
template <class Source>
ReadStatus scan_exponent(Source& s, int c, bool minus, std::int64_t& exponent) {
  if (digit_of(c) > 9) {
    if (c != kEof) s.unget();  // it may be the record's line end
    return ReadStatus::kExponentField;
  }
  std::int64_t value = 0;
  for (; digit_of(c) <= 9; c = s.get()) {
    value = value * 10 + digit_of(c);
    if (value > kMaxExponent) return ReadStatus::kExponentField;
  }
  if (c != kEof) s.unget();
  exponent += minus ? -value : value;
  return ReadStatus::kValue;
}

// One real number starting at byte `c` (sign, digits, point, exponent).
template <class Source>
ReadStatus scan_real(Source& s, int c, bool after_count, float& out) {
  bool minus = false;
  if (c == '+' || c == '-') {
    minus = c == '-';
    c = s.get();
  }
  RealDigits r;
  c = scan_integer_part(s, c, r);
  if (c == '*' && !after_count) {
    if (ReadStatus st = check_repeat_count(minus, r.significant); st != ReadStatus::kValue) {
      return st;
    }
    return scan_real(s, s.get(), true, out);
  }
  if (c == '.') c = scan_fraction(s, s.get(), r);
  if (!r.any_digit) return no_digits(s, c, after_count);
  if (is_exponent_letter(c)) {
    c = s.get();
    bool exp_minus = false;
    if (c == '+' || c == '-') {
      exp_minus = c == '-';
      c = s.get();
    }
    if (ReadStatus st = scan_exponent(s, c, exp_minus, r.exponent); st != ReadStatus::kValue) {
      return st;
    }
  } else if (c == '+' || c == '-') {
    if (ReadStatus st = scan_exponent(s, s.get(), c == '-', r.exponent); st != ReadStatus::kValue) {
      return st;
    }
  } else if (c != kEof) {
    s.unget();
  }
  out = decimal_to_float(minus, r.digits, r.count, r.exponent);
  return ReadStatus::kValue;
}

// One integer starting at byte `c`: sign and digits only, built exactly.
template <class Source>
ReadStatus scan_integer(Source& s, int c, bool after_count, std::int64_t& out) {
  bool minus = false;
  if (c == '+' || c == '-') {
    minus = c == '-';
    c = s.get();
  }
  bool any_digit = false;
  while (c == '0') {
    any_digit = true;
    c = s.get();
  }
  std::uint64_t magnitude = 0;
  int significant = 0;
  bool too_large = false;
  for (unsigned d; (d = digit_of(c)) <= 9; c = s.get()) {
    any_digit = true;
    if (significant <= kMaxSignificantDigits) ++significant;
    if (magnitude >= kMaxBy10 && (magnitude > kMaxBy10 || d > kMaxLastDigit)) {
      too_large = true;  // keep consuming: the whole number is the value
    } else {
      magnitude = magnitude * 10 + d;
    }
  }
  if (c == '*' && !after_count) {
    if (ReadStatus st = check_repeat_count(minus, significant); st != ReadStatus::kValue) {
      return st;
    }
    return scan_integer(s, s.get(), true, out);
  }
  if (c == '.') return ReadStatus::kInvalidInteger;
  if (!any_digit) return no_digits(s, c, after_count);
  if (is_exponent_letter(c) || c == '+' || c == '-') return ReadStatus::kInvalidInteger;
  if (c != kEof) s.unget();
  if (too_large || (!minus && magnitude == kMaxMagnitude)) return ReadStatus::kIntegerOutOfRange;
  // Negating in unsigned arithmetic keeps the most negative value exact.
  out = static_cast<std::int64_t>(minus ? ~magnitude + 1 : magnitude);
  return ReadStatus::kValue;
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
  return st == ReadStatus::kValue ? reader_detail::scan_integer(s, c, false, out) : st;
}

template <class Source>
ReadStatus read_real(Source& s, float& out) {
  int c;
  ReadStatus st = reader_detail::start_value(s, c);
  return st == ReadStatus::kValue ? reader_detail::scan_real(s, c, false, out) : st;
}

}  // namespace rt
