// The fatal I/O error report: four lines on standard error, then the exit
// routine and abnormal termination. The statement that failed decides it,
// and names the unit and the direction of its latest READ or WRITE.
#pragma once

namespace rt {

// The run-time's own failure messages.
inline constexpr char kEndOfFileMessage[] = "end of file";
inline constexpr char kListInputMessage[] = "incomprehensible list input";
inline constexpr char kUnexpectedMessage[] = "read unexpected character";
inline constexpr char kOutOfRangeMessage[] = "integer out of range";
inline constexpr char kCantReadMessage[] = "can't read file";
inline constexpr char kRecursionMessage[] = "I/O started while already doing I/O";

// What failed, as the report's first line says it: the context, a colon, a
// blank and the run-time's message, or where there is none the system's
// text for `error`. No context: nothing failed.
struct Failure {
  const char* context = nullptr;
  const char* message = nullptr;  // null for a system error
  int error = 0;                  // the saved errno of a system error

  explicit operator bool() const { return context != nullptr; }
};

// Reports `failure` on unit `unit`, whose latest READ or WRITE was a READ
// when `reading`, then ends the run through end_abnormally().
[[noreturn]] void report_failure(int unit, bool reading, const Failure& failure);

// Steps 3 and 4 of an abnormal ending (process.cpp): the exit routine, then
// abnormal termination by SIGABRT's default action. The report and the
// handlers that abort end through it.
[[noreturn]] void end_abnormally();

// Writes bytes to standard error as they are, unbuffered.
void write_error_text(const char* text);

}  // namespace rt
