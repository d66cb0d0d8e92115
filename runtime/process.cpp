// Process start-up, the signal handlers, STOP and the exit routine.
#include <csignal>
#include <cstdlib>

#include "platform.h"
#include "report.h"
#include "runtime.h"
#include "units.h"

namespace {

int saved_argc = 0;
char** saved_argv = nullptr;

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

void f_exit() {
  rt::IoState& state = rt::io();
  if (!state.initialised) return;
  // A handler may have ended the run in the middle of a READ; closing
  // would otherwise be refused as nested I/O.
  state.in_progress = 0;
  if (state.exit_closed) return;
  state.exit_closed = 1;
  for (int number = 0; number < rt::kUnitCount; ++number) {
    int error = rt::close_unit(state.units[number], false);
    // Output that never arrived is a failure, unless one is being reported.
    if (error != 0 && !state.reporting) rt::fatal_write(number, error);
  }
}

void sig_die(const char* message, int kill) {
  rt::platform::begin_ending();
  rt::write_error_text(message);
  rt::write_error_text(rt::platform::kLineEnd);
  if (kill != 1) std::exit(1);
  f_exit();
  std::signal(SIGABRT, SIG_DFL);
  rt::platform::abnormal_end();
}

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
