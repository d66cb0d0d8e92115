// Process start-up, the signal handlers, STOP and the exit routine.
//
// The run ends once. Every ending takes the same road:
//   1. It begins. STOP, main's return, the handlers (through sig_die) and the
//      fatal report each call platform::begin_ending() first: from there on
//      the exit requests are held for good, so no second ending can begin and
//      the one that began completes.
//   2. The fatal report, where that is the ending, writes its four lines once
//      (Ending::reporting). A failure while it runs does not nest a second
//      report: its failure line, "(fatal I/O error already reported,
//      aborting.)" and abort.
//   3. The exit routine f_exit runs, from exit's atexit list, or called by
//      sig_die before abort. It clears the statement in progress, which a
//      handler may have interrupted in the middle of a READ, and closes every
//      unit once (Ending::closed). A failed write-out there starts the fatal
//      report, unless that is the ending under way.
//   4. exit with the status, or abort.
#include <csignal>
#include <cstdlib>

#include "platform.h"
#include "report.h"
#include "runtime.h"
#include "units.h"

namespace {

// Kept as start-up keeps it; nothing in this program reads it.
int saved_argc = 0;
char** saved_argv = nullptr;

// The handlers end the run themselves, through sig_die. One that only set a
// flag would leave the run waiting in a READ of the console, and no
// statement has a branch where the program could look at a flag. What it
// costs: the exit routine runs in the middle of whatever the program was
// doing, so every stretch that it must not find half done holds the
// requests off (platform.h), never across a wait on another process; and a
// request that comes once the ending has begun waits for it, a write-out
// to a pipe that nobody reads included (platform_posix.cpp).
void on_arithmetic_fault(int) {
  sig_die("Floating Exception", 1);
}
void on_abort(int) {
  sig_die("IOT Trap", 1);
}
void on_interrupt(int) {
  sig_die("Interrupt", 0);
}
void on_termination(int) {
  sig_die("Killed", 0);
}

}  // namespace

void f_setarg(int argc, char** argv) {
  saved_argc = argc;
  saved_argv = argv;
}

void f_setsig() {
  using rt::platform::install_handler;
  rt::platform::mark_main_thread();
  install_handler(SIGFPE, on_arithmetic_fault, true, false);
  install_handler(SIGABRT, on_abort, false, false);
  install_handler(SIGINT, on_interrupt, false, true);
  install_handler(SIGTERM, on_termination, false, false);
}

void f_init() {
  rt::platform::prepare_standard_streams();
  rt::connect_standard_units();
  rt::io().initialised = 1;
}

// Step 3 of the road above.
void f_exit() {
  rt::IoState& state = rt::io();
  if (!state.initialised) return;
  state.statement.in_progress = 0;  // else closing would be refused as nested I/O
  if (state.ending.closed) return;
  state.ending.closed = 1;
  for (int number = 0; number < rt::kUnitCount; ++number) {
    int error = rt::close_at_exit(state.units[number]);
    if (error != 0 && !state.ending.reporting) {
      rt::report_failure(number, false, {"list out", nullptr, error});
    }
  }
}

void sig_die(const char* message, int kill) {
  rt::platform::begin_ending();
  rt::write_error_text(message);
  rt::write_error_text(rt::platform::kLineEnd);
  if (kill != 1) std::exit(1);
  rt::end_abnormally();
}

namespace rt {

void end_abnormally() {
  f_exit();
  std::signal(SIGABRT, SIG_DFL);
  platform::abnormal_end();
}

}  // namespace rt

void s_stop(const char* text, rt::Word length) {
  rt::platform::begin_ending();
  if (length > 0) {
    rt::write_error_text("STOP ");
    for (rt::Word k = 0; k < length; ++k) {
      const char byte[2] = {text[k], '\0'};
      rt::write_error_text(byte);
    }
    rt::write_error_text(" statement executed");
    rt::write_error_text(rt::platform::kLineEnd);
  }
  std::exit(0);
}
