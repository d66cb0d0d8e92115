// The fatal I/O error report: four lines on standard error, then the exit
// routine and abnormal termination. It names the unit of the statement in
// progress and the direction of the latest READ or WRITE.
#pragma once

namespace rt {

// The run-time's own failure messages.
inline constexpr char kListInputMessage[] = "incomprehensible list input";
inline constexpr char kUnexpectedMessage[] = "read unexpected character";
inline constexpr char kOutOfRangeMessage[] = "integer out of range";
inline constexpr char kCantReadMessage[] = "can't read file";
inline constexpr char kRecursionMessage[] = "I/O started while already doing I/O";

[[noreturn]] void fatal_end_of_file(const char* context);
[[noreturn]] void fatal_error(const char* context, const char* message);
// A system error: the context, a colon, a blank and the system's text.
[[noreturn]] void fatal_system(const char* context, int error);
// A failed write of whole records on `unit`: "list out" and the system's text.
[[noreturn]] void fatal_write(int unit, int error);

// Writes bytes to standard error as they are, unbuffered.
void write_error_text(const char* text);

}  // namespace rt
