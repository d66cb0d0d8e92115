#include "report.h"

#include <cerrno>
#include <cstring>
#include <limits>

#include "platform.h"
#include "units.h"

namespace rt {

namespace {

void write_number(unsigned n) {
  char digits[std::numeric_limits<unsigned>::digits10 + 2];  // and the NUL
  char* first = digits + sizeof digits;
  *--first = '\0';
  do {
    *--first = static_cast<char>('0' + n % 10);
    n /= 10;
  } while (n != 0);
  write_error_text(first);
}

void write_failure_line(const Failure& failure) {
  write_error_text(failure.context);
  write_error_text(": ");
  if (failure.message != nullptr) {
    write_error_text(failure.message);
  } else if (const char* text = platform::error_text(failure.error)) {
    write_error_text(text);
  } else {
    write_error_text("Unknown error ");
    write_number(static_cast<unsigned>(failure.error));
  }
  write_error_text(platform::kLineEnd);
}

}  // namespace

// Steps 1 and 2 of the run's ending (process.cpp).
void report_failure(int unit, bool reading, const Failure& failure) {
  platform::begin_ending();
  IoState& state = io();
  if (state.ending.reporting) {  // the report must not nest
    write_failure_line(failure);
    write_error_text("(fatal I/O error already reported, aborting.)");
    platform::abnormal_end();
  }
  state.ending.reporting = 1;
  write_failure_line(failure);
  write_error_text("apparent state: unit ");
  write_number(static_cast<unsigned>(unit));
  const Unit& failed = state.units[unit];
  write_error_text(failed.named() ? " named " : " (unnamed)");
  if (failed.named()) write_error_text(failed.name);
  write_error_text(platform::kLineEnd);
  write_error_text("last format: list io");
  write_error_text(platform::kLineEnd);
  write_error_text(reading ? "lately reading" : "lately writing");
  write_error_text(" sequential formatted external IO");
  write_error_text(platform::kLineEnd);
  end_abnormally();
}

void write_error_text(const char* text) {
  std::size_t length = std::strlen(text);
  while (length != 0) {
    std::ptrdiff_t n = platform::write_some(platform::kStderr, text, length);
    if (n <= 0) return;  // nowhere left to tell it
    text += n;
    length -= static_cast<std::size_t>(n);
  }
}

}  // namespace rt
