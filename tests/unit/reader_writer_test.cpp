// The value reader and the record writer, row by row.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <variant>
#include <vector>

#include "platform.h"
#include "reader.h"
#include "string_source.h"
#include "writer.h"

namespace {

using rt::ReadStatus;

constexpr std::int64_t kUnsetInteger = 4242;  // what a variable held before
constexpr float kUnsetReal = -7.5f;

// One READ of `input` into a 64-bit integer or a real ('r') through a buffered source, as a unit
// reads: the value, "null" or "list end" (the variable kept) or the report's failure line, and
// what stays unread. An integer row is 'p' where the plain-record path must take it, else 'i'.
struct Row {
  const char* input;
  char type;
  const char* outcome;
  const char* unread;
};

const Row kRows[] = {
    // The plain record, the shape of every table record: up to 18 digits, then a byte that plainly
    // ends the value, which stays unread.
    {"  \t-12 \n", 'p', "-12", " \n"},
    {"+999999999999999999\r\n", 'p', "999999999999999999", "\r\n"},
    {"7/", 'p', "7", "/"},
    {"1000000000000000000\n", 'i', "1000000000000000000", "\n"},
    {"999983", 'i', "999983", ""},
    {"12abc\n", 'i', "12", "abc\n"},
    // Blank and empty records before the value; CR LF is a line end, a lone CR is an ordinary byte.
    {"\r\n\r\n5\r\n", 'i', "5", "\r\n"},
    {"\r5\n", 'i', "invalid number: incomprehensible list input", "5\n"},
    // One beyond the 64-bit limits (read exactly in the end-to-end scans) is refused.
    {"9223372036854775808", 'i', "invalid integer: integer out of range", ""},
    {"-9223372036854775809", 'i', "invalid integer: integer out of range", ""},
    {"18446744073709551616", 'i', "invalid integer: integer out of range", ""},
    {",5\n", 'i', "null", "5\n"},
    {"/\n", 'i', "list end", "\n"},
    {"-,\n", 'i', "null", ",\n"},
    {"- 5\n", 'i', "invalid number: incomprehensible list input", " 5\n"},
    // An empty repeated value leaves its record's line end to the end of the statement; a CR is
    // that line end only with an LF after it.
    {"3*\n1\n", 'i', "null", "\n1\n"},
    {"3*\r\n1\n", 'r', "null", "\n1\n"},
    {"3*-\r5\n", 'i', "invalid number: incomprehensible list input", "5\n"},
    {"3*", 'i', "null", ""},
    // Repeat counts: only the value after the "*" is used.
    {"+3*-4\n", 'i', "-4", "\n"},
    {"*5\n", 'i', "bad repetition count: incomprehensible list input", "5\n"},
    {"-2*5\n", 'r', "bad repetition count: incomprehensible list input", "5\n"},
    {"1234567890123456789012345678901234567890*5", 'i', "5", ""},
    {"12345678901234567890123456789012345678901*5", 'i',
     "bad repetition count: incomprehensible list input", "5"},
    {"12.0\n", 'i', "invalid integer: read unexpected character", "0\n"},
    {"1e3", 'i', "invalid integer: read unexpected character", "3"},
    {"12+\n", 'i', "invalid integer: read unexpected character", "\n"},
    {"\357\273\27784", 'i', "invalid number: incomprehensible list input", "\357\273\27784"},
    {"  \n\t\n", 'i', "list in: end of file", ""},
    // Reals: what reads as exactly one, and both exponent forms.
    {"0.1E1", 'r', "1", ""},
    {"1.00000001", 'r', "1", ""},
    {"1d2", 'r', "100", ""},
    {"1+2", 'r', "100", ""},
    {"-25-1", 'r', "-2.5", ""},
    {".5", 'r', "0.5", ""},
    {"-0", 'r', "0", ""},
    // Beyond 40 significant digits, integer digits still scale; too large for single precision is
    // infinity.
    {"100000000000000000000000000000000000000000000e-44", 'r', "1", ""},
    {"0.00000000000000000000000000000000000000000000001e50", 'r', "1000", ""},
    {"340282356779733661637539395458142568448", 'r', "inf", ""},
    {"1e99999999", 'r', "inf", ""},
    {"1e", 'r', "exponent field: incomprehensible list input", ""},
    {"1+\n", 'r', "exponent field: incomprehensible list input", "\n"},
    {"1e100000000", 'r', "exponent field: incomprehensible list input", ""},
};

// What the program would see after reading `row`, spelled as a row spells it (a real as "%.9g").
std::string outcome_of(const Row& row, rt::StringSource& source) {
  ReadStatus status;
  std::string value;
  bool kept;
  if (row.type != 'r') {
    std::int64_t item = kUnsetInteger;
    const bool plain = rt::read_plain_integer(source, item);
    EXPECT_EQ(plain, row.type == 'p') << "the plain-record path";
    status = plain ? ReadStatus::kValue : rt::read_integer(source, item);
    value = std::to_string(item);
    kept = item == kUnsetInteger;
  } else {
    float item = kUnsetReal;
    status = rt::read_real(source, item);
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(item));
    value = text;
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
  EXPECT_EQ(outcome_of(row, source), row.outcome);
  EXPECT_EQ(source.rest(), row.unread);
}

INSTANTIATE_TEST_SUITE_P(Rows, Read, testing::ValuesIn(kRows));

using Item = std::variant<std::string, std::int64_t>;

// The records one WRITE statement's items make, each "|" a record end.
std::string written(const std::vector<Item>& items) {
  rt::RecordBuffer buffer;
  rt::RecordWriter writer;
  writer.begin(buffer);
  for (const Item& item : items) {
    const auto* text = std::get_if<std::string>(&item);
    EXPECT_TRUE(text ? writer.text(text->data(), text->size())
                     : writer.integer(std::get<std::int64_t>(item)));
  }
  EXPECT_TRUE(writer.finish());
  std::string records(buffer.data(), buffer.whole_size());
  for (std::size_t at; (at = records.find(rt::platform::kLineEnd)) != records.npos;)
    records.replace(at, rt::platform::kLineEndLength, "|");
  return records;
}

std::string xs(std::size_t count) {
  return std::string(count, 'x');
}

// From the rules: a record starts with a blank, an integer has a blank and its sign before its
// digits, text is copied as it is, and an item not first in its record starts a new one where its
// digits or bytes would reach 80.
TEST(Write, ColumnRules) {
  const struct {
    std::vector<Item> items;
    std::string records;
  } rows[] = {
      // Column 80: the digits or bytes count, the blank and the sign do not.
      {{xs(77), 5}, " " + xs(77) + " 5|"},
      {{xs(78), 5}, " " + xs(78) + "| 5|"},
      {{xs(77), -5}, " " + xs(77) + " -5|"},
      {{xs(77), "y"}, " " + xs(77) + "y|"},
      {{xs(78), "y"}, " " + xs(78) + "| y|"},
      // A first item is never moved, however long.
      {{xs(100), 1, 2}, " " + xs(100) + "| 1 2|"},
  };
  for (const auto& row : rows) EXPECT_EQ(written(row.items), row.records);
}

TEST(Write, EveryDigitCount) {
  std::int64_t power = 1;
  for (int digits = 1; digits <= 18; ++digits) {
    power *= 10;
    for (std::int64_t n : {power - 1, power, -power}) {
      EXPECT_EQ(written({n}), " " + std::to_string(n) + "|");
    }
  }
}

}  // namespace
