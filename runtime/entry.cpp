// The process entry: start-up in its fixed order, then the main program.
// Kept apart from the rest of the run-time so that test programs, which
// bring their own entry, can link the run-time.
#include <cstdlib>

#include "platform.h"
#include "runtime.h"

int main(int argc, char** argv) {
  f_setarg(argc, argv);
  f_setsig();
  f_init();
  std::atexit(f_exit);
  MAIN__();
  rt::platform::begin_ending();
  std::exit(0);
}
