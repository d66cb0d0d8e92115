// The record rule of a READ, as the tests check it: the line end that ends
// the record in which a read decided (a value, a null or a failure) is never
// consumed by the read, so that ending the statement goes on to the next
// record, and N statements over N records read N values.
#pragma once

#include <cstddef>
#include <string_view>

namespace rt_test {

// Where a read that starts at `start` decides: at the first byte that is not
// a blank, a tab or a line end (LF, or CR LF), which the read passes over.
inline std::size_t decided_at(std::string_view text, std::size_t start) {
  std::size_t at = start;
  while (at < text.size()) {
    if (text[at] == ' ' || text[at] == '\t' || text[at] == '\n') {
      ++at;
    } else if (text.substr(at, 2) == "\r\n") {
      at += 2;
    } else {
      break;
    }
  }
  return at;
}

// Where the next record starts after a read that started at `start`: just
// past the line end of the record in which it decided, or the end of the text.
inline std::size_t next_record(std::string_view text, std::size_t start) {
  std::size_t line_end = text.find('\n', decided_at(text, start));
  return line_end == std::string_view::npos ? text.size() : line_end + 1;
}

// True when a read from `start` to `end` passed over what comes before its
// decision and left that record's line end unread.
inline bool keeps_to_record(std::string_view text, std::size_t start, std::size_t end) {
  std::size_t decided = decided_at(text, start);
  return end >= decided && text.substr(decided, end - decided).find('\n') == std::string_view::npos;
}

}  // namespace rt_test
