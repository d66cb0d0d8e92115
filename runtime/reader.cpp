// The value reader's out-of-line parts: the failure line of a failed READ,
// and the conversion of a real's digits.
#include "reader.h"

#include <cassert>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "report.h"

namespace rt {

ReadFailure read_failure(ReadStatus status) {
  switch (status) {
    case ReadStatus::kEndOfFile:
      return {"list in", "end of file"};
    case ReadStatus::kInvalidNumber:
      return {"invalid number", kListInputMessage};
    case ReadStatus::kInvalidInteger:
      return {"invalid integer", kUnexpectedMessage};
    case ReadStatus::kIntegerOutOfRange:
      return {"invalid integer", kOutOfRangeMessage};
    case ReadStatus::kExponentField:
      return {"exponent field", kListInputMessage};
    case ReadStatus::kBadRepeatCount:
      return {"bad repetition count", kListInputMessage};
    case ReadStatus::kValue:
    case ReadStatus::kNull:
    case ReadStatus::kListEnd:
      break;
  }
  assert(false && "a value, a null or a list end fails no READ");
  return {"list in", kListInputMessage};
}

}  // namespace rt

namespace rt::reader_detail {

float decimal_to_float(bool negative, const char* digits, int count, std::int64_t exponent) {
  if (count == 0) return 0.0f;  // -0 and 0.000 read as plain zero
  // Digits, 'e', the exponent and its sign fit easily: 40 + 1 + 21 + 1.
  char text[kMaxSignificantDigits + 24];
  int n = 0;
  for (int k = 0; k < count; ++k) text[n++] = digits[k];
  [[maybe_unused]] int written =
      std::snprintf(text + n, sizeof text - n, "e%lld", static_cast<long long>(exponent));
  assert(written > 0 && static_cast<std::size_t>(written) < sizeof text - n);
  double value = std::atof(text);
  // Above the largest float, round to nearest by hand: the conversion of an
  // out-of-range double is not defined. Half an ulp above FLT_MAX and beyond
  // rounds to infinity (FLT_MAX's last bit is odd, so a tie goes up too).
  constexpr double kHalfUlpAboveMax = static_cast<double>(FLT_MAX) + 0x1p103;
  float result;
  if (value >= kHalfUlpAboveMax) {
    result = INFINITY;
  } else if (value > FLT_MAX) {
    result = FLT_MAX;
  } else {
    result = static_cast<float>(value);
  }
  return negative ? -result : result;
}

}  // namespace rt::reader_detail
