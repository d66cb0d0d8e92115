#include "reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

namespace {

using rt::ReadStatus;
using rt::StringSource;

constexpr std::int64_t kUnset = 4242;  // what a variable held before the read
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

struct IntegerRow {
  const char* input;
  ReadStatus status;
  std::int64_t value;  // kUnset when the variable must keep its value
  const char* unread;  // what the next read starts on
};

TEST(ReadInteger, Table) {
  const IntegerRow rows[] = {
      // Plain values and what stays unread.
      {"360\n", ReadStatus::kValue, 360, "\n"},
      {"  \t-12 \n", ReadStatus::kValue, -12, " \n"},
      {"+0007", ReadStatus::kValue, 7, ""},
      {"-0\n", ReadStatus::kValue, 0, "\n"},
      {"7,8\n", ReadStatus::kValue, 7, ",8\n"},
      {"12abc\n", ReadStatus::kValue, 12, "abc\n"},
      // Blank and empty records before the value, CR LF as a line end.
      {"\n\n  \n2\n", ReadStatus::kValue, 2, "\n"},
      {"\r\n\r\n5\r\n", ReadStatus::kValue, 5, "\r\n"},
      {"\r5\n", ReadStatus::kInvalidNumber, kUnset, "5\n"},
      // The 64-bit limits, exactly; one beyond is refused.
      {"9223372036854775807", ReadStatus::kValue, kMax, ""},
      {"-9223372036854775808", ReadStatus::kValue, kMin, ""},
      {"1234567890123456789", ReadStatus::kValue, 1234567890123456789, ""},
      {"9007199254740993", ReadStatus::kValue, 9007199254740993, ""},
      {"9223372036854775808", ReadStatus::kIntegerOutOfRange, kUnset, ""},
      {"-9223372036854775809", ReadStatus::kIntegerOutOfRange, kUnset, ""},
      {"18446744073709551616", ReadStatus::kIntegerOutOfRange, kUnset, ""},
      {"00000000000000000000000000000000000000000000000000000000012", ReadStatus::kValue, 12, ""},
      // Null values keep the variable.
      {",5\n", ReadStatus::kNull, kUnset, "5\n"},
      {"/\n", ReadStatus::kListEnd, kUnset, "\n"},
      {"-,\n", ReadStatus::kNull, kUnset, ",\n"},
      // An empty repeated value leaves its line end to the statement's end.
      {"3*\n1\n", ReadStatus::kNull, kUnset, "\n1\n"},
      {"3*\r\n1\n", ReadStatus::kNull, kUnset, "\n1\n"},
      {"3*-\r\n1\n", ReadStatus::kNull, kUnset, "\n1\n"},
      {"3*", ReadStatus::kNull, kUnset, ""},
      {"3*,9", ReadStatus::kNull, kUnset, ",9"},
      {"3*-\r5\n", ReadStatus::kInvalidNumber, kUnset, "5\n"},
      // Repeat counts.
      {"3*11\n", ReadStatus::kValue, 11, "\n"},
      {"+3*-4\n", ReadStatus::kValue, -4, "\n"},
      {"*5\n", ReadStatus::kBadRepeatCount, kUnset, "5\n"},
      {"0*5\n", ReadStatus::kBadRepeatCount, kUnset, "5\n"},
      {"-2*5\n", ReadStatus::kBadRepeatCount, kUnset, "5\n"},
      {"12345678901234567890123456789012345678901*5", ReadStatus::kBadRepeatCount, kUnset, "5"},
      // Points, exponents and trailing signs are not integers.
      {"12.0\n", ReadStatus::kInvalidInteger, kUnset, "0\n"},
      {"1.5", ReadStatus::kInvalidInteger, kUnset, "5"},
      {"1e3", ReadStatus::kInvalidInteger, kUnset, "3"},
      {"1+2", ReadStatus::kInvalidInteger, kUnset, "2"},
      {"12+\n", ReadStatus::kInvalidInteger, kUnset, "\n"},
      {"12-x", ReadStatus::kInvalidInteger, kUnset, "x"},
      {"e5", ReadStatus::kInvalidNumber, kUnset, "5"},
      {"abc", ReadStatus::kInvalidNumber, kUnset, "bc"},
      {"-\n", ReadStatus::kInvalidNumber, kUnset, "\n"},
      // End of file where a value should start.
      {"", ReadStatus::kEndOfFile, kUnset, ""},
      {"  \n\t\n", ReadStatus::kEndOfFile, kUnset, ""},
  };
  for (const IntegerRow& row : rows) {
    SCOPED_TRACE(row.input);
    StringSource source(row.input);
    std::int64_t value = kUnset;
    EXPECT_EQ(rt::read_integer(source, value), row.status);
    EXPECT_EQ(value, row.value);
    if (row.status < ReadStatus::kEndOfFile) {
      EXPECT_EQ(source.rest(), std::string_view(row.unread));
    }
  }
}

TEST(ReadInteger, PowersOfTenAtTheLimit) {
  // Every digit count from 1 to 19 must build exactly, at 10^k - 1 and 10^k.
  std::uint64_t power = 1;
  for (int k = 1; k <= 18; ++k) {
    power *= 10;
    for (std::uint64_t v : {power - 1, power}) {
      std::string text("-");
      text += std::to_string(v);
      StringSource source(text);
      std::int64_t value = 0;
      ASSERT_EQ(rt::read_integer(source, value), ReadStatus::kValue) << text;
      EXPECT_EQ(value, -static_cast<std::int64_t>(v)) << text;
    }
  }
}

struct RealRow {
  const char* input;
  ReadStatus status;
  float value;
};

constexpr float kUnsetReal = -7.5f;

TEST(ReadReal, Table) {
  const RealRow rows[] = {
      // Every spelling of one.
      {"1", ReadStatus::kValue, 1.0f},
      {"1.", ReadStatus::kValue, 1.0f},
      {"+1.0", ReadStatus::kValue, 1.0f},
      {"0.1E1", ReadStatus::kValue, 1.0f},
      {"1.00000001", ReadStatus::kValue, 1.0f},
      {"1,5", ReadStatus::kValue, 1.0f},
      {"2*1", ReadStatus::kValue, 1.0f},
      // Both exponent forms.
      {"1e2", ReadStatus::kValue, 100.0f},
      {"1E2", ReadStatus::kValue, 100.0f},
      {"1d2", ReadStatus::kValue, 100.0f},
      {"1D2", ReadStatus::kValue, 100.0f},
      {"1+2", ReadStatus::kValue, 100.0f},
      {"25-1", ReadStatus::kValue, 2.5f},
      {"1.5e-3", ReadStatus::kValue, 0.0015f},
      {".5", ReadStatus::kValue, 0.5f},
      {"0.000", ReadStatus::kValue, 0.0f},
      {"-0", ReadStatus::kValue, 0.0f},
      // Beyond 40 significant digits, integer digits still scale.
      {"1000000000000000000000000000000000000000000000000", ReadStatus::kValue, INFINITY},
      {"0.00000000000000000000000000000000000000000000001e50", ReadStatus::kValue, 1e3f},
      {"1e39", ReadStatus::kValue, INFINITY},
      {"-1e39", ReadStatus::kValue, -INFINITY},
      {"3.4028235e38", ReadStatus::kValue, 3.4028235e38f},
      // Exponent field failures.
      {"1e", ReadStatus::kExponentField, kUnsetReal},
      {"1e+", ReadStatus::kExponentField, kUnsetReal},
      {"1+\n", ReadStatus::kExponentField, kUnsetReal},
      {"1e100000000", ReadStatus::kExponentField, kUnsetReal},
      {"1e99999999", ReadStatus::kValue, INFINITY},
      // No digits at all.
      {".", ReadStatus::kInvalidNumber, kUnsetReal},
      {".e5", ReadStatus::kInvalidNumber, kUnsetReal},
      {"+\n", ReadStatus::kInvalidNumber, kUnsetReal},
      {"., ", ReadStatus::kNull, kUnsetReal},
      {"3* 4", ReadStatus::kNull, kUnsetReal},
      {"3*\r\n", ReadStatus::kNull, kUnsetReal},
  };
  for (const RealRow& row : rows) {
    SCOPED_TRACE(row.input);
    StringSource source(row.input);
    float value = kUnsetReal;
    EXPECT_EQ(rt::read_real(source, value), row.status);
    EXPECT_EQ(value, row.value);
  }
}

struct RecordRow {
  const char* input;
  bool whole;
  const char* next;
};

TEST(SkipRecord, StopsAfterTheLineEnd) {
  const RecordRow rows[] = {
      {"abc\n2\n", true, "2\n"},  {"\n", true, ""}, {"\r\n3", true, "3"},
      {"no line end", false, ""}, {"", false, ""},
  };
  for (const RecordRow& row : rows) {
    StringSource source(row.input);
    EXPECT_EQ(rt::skip_record(source), row.whole) << row.input;
    EXPECT_EQ(source.rest(), row.next) << row.input;
  }
}

TEST(ReadInteger, ValueAtEndOfFileWithoutLineEnd) {
  StringSource source("17\n999983");
  std::int64_t value = 0;
  ASSERT_EQ(rt::read_integer(source, value), ReadStatus::kValue);
  EXPECT_TRUE(rt::skip_record(source));
  ASSERT_EQ(rt::read_integer(source, value), ReadStatus::kValue);
  EXPECT_EQ(value, 999983);
  EXPECT_FALSE(rt::skip_record(source));
  EXPECT_EQ(rt::read_integer(source, value), ReadStatus::kEndOfFile);
}

// A buffered source over a string, ending in the sentinel and slack bytes
// the plain-record path relies on.
class PaddedSource {
 public:
  explicit PaddedSource(std::string_view text) : bytes_(text) { bytes_.append(8, '\0'); }
  const unsigned char* buffered_begin() const { return data() + pos_; }
  const unsigned char* buffered_end() const { return data() + bytes_.size() - 8; }
  void consume_to(const unsigned char* next) { pos_ = static_cast<std::size_t>(next - data()); }

 private:
  const unsigned char* data() const {
    return reinterpret_cast<const unsigned char*>(bytes_.data());
  }
  std::string bytes_;
  std::size_t pos_ = 0;
};

TEST(ReadPlainInteger, EveryDigitCountAndSign) {
  std::uint64_t value = 0;
  for (int digits = 1; digits <= 18; ++digits) {
    value = value * 10 + static_cast<std::uint64_t>(digits % 10);
    for (const char* sign : {"", "-", "+"}) {
      std::string text(sign);
      text += std::to_string(value);
      text += '\n';
      PaddedSource source(text);
      std::int64_t read = 0;
      ASSERT_TRUE(rt::read_plain_integer(source, read)) << text;
      const auto expected = static_cast<std::int64_t>(value);
      EXPECT_EQ(read, *sign == '-' ? -expected : expected) << text;
    }
  }
}

}  // namespace
