// The process entry: start-up in its fixed order, then the main program.
// Kept apart from the rest of the run-time so that test programs, which
// bring their own entry, can link the run-time.
#include <cstdlib>

#include "platform.h"
#include "runtime.h"

int main(int argc, char** argv) {
  f_setarg(argc, argv);
  f_setsig();
  {
    // An exit request handled inside atexit would wait for ever on the lock
    // that the C library holds there, and so would every later one. It is
    // held until the exit routine is registered, then handled at once.
    rt::platform::ExitSignalsHeld held;
    f_init();
    std::atexit(f_exit);
  }
  MAIN__();
  rt::platform::begin_ending();
  std::exit(0);
}
