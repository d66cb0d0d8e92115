#include "report.h"

#include <cerrno>
#include <cstring>
#include <limits>
#include <string>

#include "platform.h"
#include "runtime.h"
#include "units.h"

namespace rt {

namespace {

// A run-time failure line, whichever of the three shapes it takes.
struct FailureLine {
  const char* context;
  const char* message;  // null for a system error
  int error;            // the saved errno of a system error
};

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

void write_failure_line(const FailureLine& line) {
  write_error_text(line.context);
  write_error_text(": ");
  if (line.message != nullptr) {
    write_error_text(line.message);
  } else if (const char* text = platform::error_text(line.error)) {
    write_error_text(text);
  } else {
    write_error_text("Unknown error ");
    write_number(static_cast<unsigned>(line.error));
  }
  write_error_text(platform::kLineEnd);
}

// Steps 1 and 2 of the run's ending (process.cpp).
[[noreturn]] void report(const FailureLine& line) {
  platform::begin_ending();
  IoState& state = io();
  if (state.ending.reporting) {  // the report must not nest
    write_failure_line(line);
    write_error_text("(fatal I/O error already reported, aborting.)");
    platform::abnormal_end();
  }
  state.ending.reporting = 1;
  write_failure_line(line);
  const Statement& statement = state.statement;
  write_error_text("apparent state: unit ");
  write_number(static_cast<unsigned>(statement.unit_number));
  const std::string& name = state.units[statement.unit_number].name;
  write_error_text(name.empty() ? " (unnamed)" : " named ");
  write_error_text(name.c_str());
  write_error_text(platform::kLineEnd);
  write_error_text("last format: list io");
  write_error_text(platform::kLineEnd);
  write_error_text(statement.reading ? "lately reading" : "lately writing");
  write_error_text(" sequential formatted external");
  sig_die(" IO", 1);
}

}  // namespace

void write_error_text(const char* text) {
  std::size_t length = std::strlen(text);
  while (length != 0) {
    std::ptrdiff_t n = platform::write_some(platform::kStderr, text, length);
    if (n <= 0) return;  // nowhere left to tell it
    text += n;
    length -= static_cast<std::size_t>(n);
  }
}

void fatal_end_of_file(const char* context) {
  report({context, "end of file", 0});
}

void fatal_error(const char* context, const char* message) {
  report({context, message, 0});
}

void fatal_system(const char* context, int error) {
  report({context, nullptr, error});
}

void fatal_write(int unit, int error) {
  io().statement.unit_number = unit;
  io().statement.reading = false;
  report({"list out", nullptr, error});
}

}  // namespace rt
