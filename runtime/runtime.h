// The I/O run-time as the main program sees it: statement control lists,
// item type codes, the statement calls, OPEN/CLOSE, STOP and the process
// entry points. Every statement is a fixed call sequence:
//   WRITE: s_wsle(&list), do_lio(...) per item, e_wsle()
//   READ:  s_rsle(&list), do_lio(...) for its one item, e_rsle()
// No call returns a failure: every failure ends the process through the
// fatal I/O error report, so the returned statuses are always 0.
#pragma once

#include <cstdint>

namespace rt {

// One machine word of a control list: the run-time's default integer.
using Word = std::int32_t;

// Item type codes passed to do_lio.
inline constexpr Word kTypeReal = 4;        // single-precision real
inline constexpr Word kTypeCharacter = 9;   // bytes, not terminated
inline constexpr Word kTypeInteger64 = 14;  // signed 64-bit integer

// Read/write statement control list. `format` null means list-directed.
struct ControlList {
  Word err;  // nonzero would ask for an error branch; always 0 here
  Word unit;
  Word end;  // nonzero would ask for an end-of-file branch; always 0 here
  const char* format;
  Word rec;
};

// OPEN control list. Only `unit`, `file` and `filelen` are looked at: every
// OPEN is taken as status "unknown", and the access, form, record length and
// blank settings are always their defaults.
struct OpenList {
  Word err;
  Word unit;
  const char* file;
  Word filelen;
  const char* stat;
  const char* access;
  const char* form;
  Word recl;
  const char* blank;
};

// CLOSE control list. Every CLOSE is taken as the default status, keep: the
// program never deletes a file.
struct CloseList {
  Word err;
  Word unit;
  const char* stat;
};

}  // namespace rt

// Statement calls.
std::int32_t s_wsle(const rt::ControlList* list);
std::int32_t e_wsle();
std::int32_t s_rsle(const rt::ControlList* list);
std::int32_t e_rsle();
// Transfers one item of the statement in progress: writes it, or reads one
// value into it. A null value leaves the item unchanged.
std::int32_t do_lio(const rt::Word* type, const rt::Word* count, void* item, rt::Word length);

// OPEN and CLOSE of a named file on a unit.
std::int32_t f_open(const rt::OpenList* list);
std::int32_t f_clos(const rt::CloseList* list);

// STOP: writes "STOP <text> statement executed" to standard error when the
// text is not empty, then exits with status 0.
[[noreturn]] void s_stop(const char* text, rt::Word length);

// Process start-up and termination.
void f_setarg(int argc, char** argv);
void f_setsig();
void f_init();
void f_exit();
// Writes `message` and a line end to standard error, then ends the process:
// with the exit routine and abort when `kill` is 1, else with exit status 1.
[[noreturn]] void sig_die(const char* message, int kill);

// The main program, supplied by the application; the run-time's main calls it.
void MAIN__();
