// The record rule of a READ: the line end of the record in which a read
// decided (a value, a null or a failure) stays unread, so that the end of
// the statement goes on to the next record: N READs of N records, N values.
#pragma once

#include <cstddef>
#include <string_view>

namespace rt_test {

// Where a read from `at` decides: past blanks, tabs and LF or CR LF.
inline std::size_t decided_at(std::string_view text, std::size_t at) {
  while (at < text.size() && (text[at] == ' ' || text[at] == '\t' || text[at] == '\n' ||
                              text.substr(at, 2) == "\r\n")) {
    at += text[at] == '\r' ? 2 : 1;
  }
  return at;
}

// Where the next record starts after a read from `start`.
inline std::size_t next_record(std::string_view text, std::size_t start) {
  const std::size_t line_end = text.find('\n', decided_at(text, start));
  return line_end == text.npos ? text.size() : line_end + 1;
}

// True when a read from `start` to `end` left that line end unread.
inline bool keeps_to_record(std::string_view text, std::size_t start, std::size_t end) {
  const std::size_t decided = decided_at(text, start);
  return end >= decided && text.substr(decided, end - decided).find('\n') == text.npos;
}

}  // namespace rt_test
