// The statement layer as the program meets it, linked with the whole run-time.
#include <gtest/gtest.h>

#include "runtime.h"

namespace {

// A statement started while another is in progress, as a handler's WRITE would start it, is
// reported and ends the run: the exit routine relies on one statement at a time.
TEST(StatementDeathTest, OneAtATime) {
  const rt::ControlList output{0, 6, 0, nullptr, 0};
  EXPECT_DEATH(
      {
        f_init();
        s_wsle(&output);
        s_wsle(&output);
      },
      "I/O recursion: I/O started while already doing I/O");
}

}  // namespace
