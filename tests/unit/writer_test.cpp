#include "writer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace {

using Item = std::variant<std::string, std::int64_t>;

std::string xs(std::size_t count) {
  return std::string(count, 'x');
}

// One WRITE statement's items and the records the column rules give, each
// "|" a record end: a record starts with a blank, an integer gets a blank
// and its sign before its digits, text is copied as it is, and an item that
// is not first in its record starts a new one where its digits or its bytes
// would reach column 80.
const struct {
  std::vector<Item> items;
  std::string records;
} kRows[] = {
    // The program's record shapes.
    {{"Torna-ho a intentar."}, " Torna-ho a intentar."},
    {{"El nombre", 360, " es divisible entre", 2}, " El nombre 360 es divisible entre 2"},
    {{"El nombre", -12}, " El nombre -12"},
    {{"El nombre", INT64_MIN, " es", INT64_MAX},
     " El nombre -9223372036854775808 es 9223372036854775807"},
    {{0}, " 0"},
    // Column 80: the digits or bytes count, the blank and the sign do not.
    {{xs(77), 5}, " " + xs(77) + " 5"},
    {{xs(78), 5}, " " + xs(78) + "| 5"},
    {{xs(77), -5}, " " + xs(77) + " -5"},
    {{xs(76), 10}, " " + xs(76) + " 10"},
    {{xs(77), 10}, " " + xs(77) + "| 10"},
    {{xs(77), "y"}, " " + xs(77) + "y"},
    {{xs(78), "y"}, " " + xs(78) + "| y"},
    {{5, xs(77)}, " 5" + xs(77)},
    {{5, xs(78)}, " 5| " + xs(78)},
    // A first item is never moved, however long.
    {{xs(80)}, " " + xs(80)},
    {{xs(100), 1, 2}, " " + xs(100) + "| 1 2"},
};

std::string written(const std::vector<Item>& items) {
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

std::string records(std::string text) {
  for (std::size_t at; (at = text.find('|')) != text.npos;)
    text.replace(at, 1, rt::platform::kLineEnd);
  return text + rt::platform::kLineEnd;
}

TEST(Write, ColumnRules) {
  for (const auto& row : kRows) EXPECT_EQ(written(row.items), records(row.records));
}

TEST(Write, EveryDigitCount) {
  std::int64_t power = 1;
  for (int digits = 1; digits <= 18; ++digits) {
    power *= 10;
    for (std::int64_t n : {power - 1, power, -power}) {
      EXPECT_EQ(written({n}), records(" " + std::to_string(n)));
    }
  }
}

}  // namespace
