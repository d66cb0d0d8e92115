#include "writer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <limits>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace {

using Item = std::variant<std::string, std::int64_t>;

// The whole records that one statement with these items produces.
std::string write_statement(const std::vector<Item>& items) {
  rt::RecordBuffer buffer;
  rt::RecordWriter writer;
  writer.begin(buffer);
  for (const Item& item : items) {
    if (const auto* text = std::get_if<std::string>(&item)) {
      writer.text(text->data(), text->size());
    } else {
      writer.integer(std::get<std::int64_t>(item));
    }
  }
  writer.finish();
  return std::string(buffer.data(), buffer.whole_size());
}

// Joins pieces; plain operator+ chains trip a false warning in this compiler.
std::string cat(std::initializer_list<std::string_view> pieces) {
  std::string joined;
  for (std::string_view piece : pieces) joined += piece;
  return joined;
}

struct Row {
  const char* name;
  std::vector<Item> items;
  std::string record;
};

TEST(RecordWriter, ColumnRules) {
  const std::string t79(79, 't');
  const std::string t80(80, 'u');
  const std::string t70(70, 'v');
  const Row rows[] = {
      {"text alone", {"Torna-ho a intentar."}, " Torna-ho a intentar.\n"},
      {"echo", {"El nombre \x82s", std::int64_t{360}}, " El nombre \x82s 360\n"},
      {"negative echo", {"El nombre \x82s", std::int64_t{-12}}, " El nombre \x82s -12\n"},
      {"report line",
       {"El nombre", std::int64_t{360}, " \x82s divisible entre", std::int64_t{2}},
       " El nombre 360 \x82s divisible entre 2\n"},
      {"zero", {std::int64_t{0}}, " 0\n"},
      {"most negative", {std::numeric_limits<std::int64_t>::min()}, " -9223372036854775808\n"},
      {"longest report line",
       {"El nombre", std::numeric_limits<std::int64_t>::min(), " \x82s divisible entre",
        std::numeric_limits<std::int64_t>::min()},
       " El nombre -9223372036854775808 \x82s divisible entre -9223372036854775808\n"},
      // The 80-column limit.
      {"79 bytes fill the record", {t79}, cat({" ", t79, "\n"})},
      {"an 80-byte text at column 0 stays whole", {t80}, cat({" ", t80, "\n"})},
      {"a number after column 79 starts a record",
       {t79, std::int64_t{5}},
       cat({" ", t79, "\n 5\n"})},
      {"text reaching column 80 starts a record",
       {t70, "123456789"},
       cat({" ", t70, "\n 123456789\n"})},
      {"text ending at column 79 stays", {t70, "12345678"}, cat({" ", t70, "12345678\n"})},
      {"digits count, not the blank and sign",
       {std::string(60, 'w'), std::int64_t{-1234567890123456789}},
       cat({" ", std::string(60, 'w'), "\n -1234567890123456789\n"})},
      {"digits that just fit",
       {std::string(59, 'w'), std::int64_t{-1234567890123456789}},
       cat({" ", std::string(59, 'w'), " -1234567890123456789\n"})},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(write_statement(row.items), row.record) << row.name;
  }
}

TEST(RecordBuffer, OnlyWholeRecordsAreWhole) {
  rt::RecordBuffer buffer;
  buffer.put("first", 5);
  buffer.end_record();
  buffer.put("half", 4);
  EXPECT_EQ(std::string(buffer.data(), buffer.whole_size()), "first\n");
  buffer.consume(buffer.whole_size());
  EXPECT_EQ(buffer.whole_size(), 0u);
  EXPECT_EQ(std::string(buffer.data(), buffer.size()), "half");
  // A record far larger than the buffer grows it and stays whole.
  std::string big(300000, 'x');
  buffer.put(big.data(), big.size());
  buffer.end_record();
  EXPECT_EQ(std::string(buffer.data(), buffer.whole_size()), "half" + big + "\n");
}

}  // namespace
