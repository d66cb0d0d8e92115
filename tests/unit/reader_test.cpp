#include "reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using rt::ReadStatus;

constexpr std::int64_t kUnsetInteger = 4242;  // what a variable held before
constexpr float kUnsetReal = -7.5f;

// One READ from `input` into a 64-bit integer ('i') or a real ('r'): what the
// program sees (the value, "null" or "list end" when the variable keeps its
// value, or the fatal report's failure line), and what stays unread.
struct Row {
  const char* input;
  char type;
  const char* outcome;
  const char* unread;
};

const Row kRows[] = {
    // Plain values; the byte that ends a value stays unread.
    {"360\n", 'i', "360", "\n"},
    {"  \t-12 \n", 'i', "-12", " \n"},
    {"7,8\n", 'i', "7", ",8\n"},
    {"12abc\n", 'i', "12", "abc\n"},
    // Blank and empty records before the value; CR LF is a line end, a lone
    // CR is an ordinary byte.
    {"\n\n  \n2\n", 'i', "2", "\n"},
    {"\r\n\r\n5\r\n", 'i', "5", "\r\n"},
    {"\r5\n", 'i', "invalid number: incomprehensible list input", "5\n"},
    // The 64-bit limits exactly; one beyond is refused.
    {"9223372036854775807", 'i', "9223372036854775807", ""},
    {"-9223372036854775808", 'i', "-9223372036854775808", ""},
    {"9007199254740993", 'i', "9007199254740993", ""},
    {"9223372036854775808", 'i', "invalid integer: integer out of range", ""},
    {"-9223372036854775809", 'i', "invalid integer: integer out of range", ""},
    {"18446744073709551616", 'i', "invalid integer: integer out of range", ""},
    {"00000000000000000000000000000000000000000000000000000012", 'i', "12", ""},
    // Null values keep the variable.
    {",5\n", 'i', "null", "5\n"},
    {"/\n", 'i', "list end", "\n"},
    {"-,\n", 'i', "null", ",\n"},
    {"., ", 'r', "null", ", "},
    // An empty repeated value leaves its record's line end to the end of the
    // statement; a CR is that line end only with an LF after it.
    {"3*\n1\n", 'i', "null", "\n1\n"},
    {"3*\r\n1\n", 'r', "null", "\n1\n"},
    {"3*-\r\n1\n", 'i', "null", "\n1\n"},
    {"3*-\r5\n", 'i', "invalid number: incomprehensible list input", "5\n"},
    {"3*", 'i', "null", ""},
    {"3*,9", 'i', "null", ",9"},
    {"3* 4", 'r', "null", " 4"},
    // Repeat counts: only the value after the "*" is used.
    {"3*11\n", 'i', "11", "\n"},
    {"+3*-4\n", 'i', "-4", "\n"},
    {"2*1", 'r', "1", ""},
    {"*5\n", 'i', "bad repetition count: incomprehensible list input", "5\n"},
    {"0*5\n", 'i', "bad repetition count: incomprehensible list input", "5\n"},
    {"-2*5\n", 'r', "bad repetition count: incomprehensible list input", "5\n"},
    {"1234567890123456789012345678901234567890*5", 'i', "5", ""},
    {"12345678901234567890123456789012345678901*5", 'i',
     "bad repetition count: incomprehensible list input", "5"},
    // Points, exponents and trailing signs are not integers.
    {"12.0\n", 'i', "invalid integer: read unexpected character", "0\n"},
    {"1e3", 'i', "invalid integer: read unexpected character", "3"},
    {"12+\n", 'i', "invalid integer: read unexpected character", "\n"},
    {"12-x", 'i', "invalid integer: read unexpected character", "x"},
    {"abc", 'i', "invalid number: incomprehensible list input", "abc"},
    {"-\n", 'i', "invalid number: incomprehensible list input", "\n"},
    // End of file where a value should start.
    {"", 'r', "list in: end of file", ""},
    {"  \n\t\n", 'i', "list in: end of file", ""},
    // Reals: what reads as exactly one, and both exponent forms.
    {"1.", 'r', "1", ""},
    {"0.1E1", 'r', "1", ""},
    {"1.00000001", 'r', "1", ""},
    {"1,5", 'r', "1", ",5"},
    {"1d2", 'r', "100", ""},
    {"1D2\n", 'r', "100", "\n"},
    {"1e+2", 'r', "100", ""},
    {"1+2", 'r', "100", ""},
    {"25-1", 'r', "2.5", ""},
    {"1.5e-3", 'r', "0.0015", ""},
    {".5", 'r', "0.5", ""},
    {"0.000", 'r', "0", ""},
    {"-0", 'r', "0", ""},
    // Beyond 40 significant digits, integer digits still scale; too large
    // for single precision is infinity.
    {"1000000000000000000000000000000000000000000000000", 'r', "inf", ""},
    {"0.00000000000000000000000000000000000000000000001e50", 'r', "1000", ""},
    {"-1e39", 'r', "-inf", ""},
    {"3.4028235e38", 'r', "3.4028235e38", ""},
    {"340282356779733661637539395458142568448", 'r', "inf", ""},
    {"10000000000000000000000000000000000000000e-30", 'r', "1e10", ""},
    {"1e99999999", 'r', "inf", ""},
    // Exponent fields without digits, or too large.
    {"1e", 'r', "exponent field: incomprehensible list input", ""},
    {"1e+\n", 'r', "exponent field: incomprehensible list input", "\n"},
    {"1+\n", 'r', "exponent field: incomprehensible list input", "\n"},
    {"1e100000000", 'r', "exponent field: incomprehensible list input", ""},
    {".e5", 'r', "invalid number: incomprehensible list input", "e5"},
};

std::string spelled(float value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
  return text;
}

// What the program would see after reading `row`, spelled as a row spells it.
std::string outcome_of(const Row& row, rt::StringSource& source) {
  ReadStatus status;
  std::string value;
  bool kept;
  if (row.type == 'i') {
    std::int64_t item = kUnsetInteger;
    status = rt::read_integer(source, item);
    value = std::to_string(item);
    kept = item == kUnsetInteger;
  } else {
    float item = kUnsetReal;
    status = rt::read_real(source, item);
    value = spelled(item);
    kept = item == kUnsetReal;
  }
  if (status == ReadStatus::kValue) return value;
  if (!kept) return "changed without a value";
  if (status == ReadStatus::kNull) return "null";
  if (status == ReadStatus::kListEnd) return "list end";
  rt::ReadFailure failure = rt::read_failure(status);
  return std::string(failure.context) + ": " + failure.message;
}

class Read : public testing::TestWithParam<Row> {};

TEST_P(Read, Row) {
  const Row& row = GetParam();
  SCOPED_TRACE(testing::Message() << row.type << " " << testing::PrintToString(row.input));
  rt::StringSource source(row.input);
  std::string expected = row.outcome;
  char* end;
  float real = std::strtof(row.outcome, &end);
  if (row.type == 'r' && *end == '\0') expected = spelled(real);
  EXPECT_EQ(outcome_of(row, source), expected);
  EXPECT_EQ(source.rest(), row.unread);
}

INSTANTIATE_TEST_SUITE_P(Rows, Read, testing::ValuesIn(kRows));

}  // namespace
