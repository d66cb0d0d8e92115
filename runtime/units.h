// The unit table: which stream each unit number is connected to, and the
// state the statements, OPEN/CLOSE and the exit routine share.
#pragma once

#include <cassert>
#include <csignal>
#include <cstddef>
#include <cstdint>

#include "file_source.h"
#include "platform.h"
#include "writer.h"

namespace rt {

inline constexpr int kUnitCount = 100;
inline constexpr int kErrorUnit = 0;
inline constexpr int kInputUnit = 5;
inline constexpr int kOutputUnit = 6;

struct Unit {
  int fd = -1;                    // -1: not connected
  bool writing = false;           // direction of the last transfer
  bool record_at_a_time = false;  // each whole record is written out at once
  platform::StreamKind kind = platform::StreamKind::kFile;  // how it is written
  char* name = nullptr;  // from allocate(); null or empty: a preconnected unit,
                         // whose descriptor is never closed
  FileSource in;
  RecordBuffer out;

  bool connected() const { return fd >= 0; }
  bool named() const { return name != nullptr && name[0] != '\0'; }
};

// The statement in progress: a READ, WRITE, OPEN or CLOSE, one at a time.
// The fatal report names its unit and the direction of the latest READ or
// WRITE.
struct Statement {
  volatile std::sig_atomic_t in_progress = 0;  // cleared by the exit routine too
  Unit* unit = nullptr;                        // the unit of the latest statement
  bool reading = false;                        // the latest READ or WRITE was a READ
  bool list_ended = false;                     // a slash ended the READ's input list
  RecordWriter writer;                         // lays out the WRITE's items
};

// How far the run's ending has got. The run ends once: process.cpp shows
// the whole order, and every place that reads or sets these points there.
struct Ending {
  volatile std::sig_atomic_t closed = 0;     // the exit routine's pass ran
  volatile std::sig_atomic_t reporting = 0;  // the fatal report is under way
};

// Everything the exit routine and the fatal report must be able to see.
struct IoState {
  Unit units[kUnitCount];
  Statement statement;
  Ending ending;
  volatile std::sig_atomic_t initialised = 0;  // the preconnected units exist
};

// Holds a value that is never destroyed.
template <class T>
union NeverDestroyed {
  T value;
  constexpr NeverDestroyed() : value() {}
  ~NeverDestroyed() {}
};

// The one state of the run-time. It is never destroyed, so an exit from a
// signal handler, which runs after static destructors could, can use it.
extern NeverDestroyed<IoState> io_state;
inline IoState& io() {
  return io_state.value;
}

// Connects the preconnected units 0, 5 and 6.
void connect_standard_units();

// Writes out the whole records of a writing unit. Returns 0, or the errno
// of the failed write; the records are dropped either way. Out of line:
// inlined, it costs the scans of 360 and of a large prime about 4%.
[[gnu::noinline]] int write_out(Unit& unit);

// Reopens a unit whose records are written out for reading, at the same
// position: only a file that OPEN had to create is written, and reading it
// needs a descriptor that reads. False, the unit unchanged, when it cannot.
bool reopen_for_reading(Unit& unit);

// OPEN with status "unknown" of `name`, a block from allocate() that the
// unit takes over, on the unit. Returns 0, or the errno of the step that
// failed, the unit then named but not connected.
int open_unit(int number, char* name);
// CLOSE with status keep. Returns 0 or the errno of a failed write-out; the
// unit is disconnected either way.
int close_unit(Unit& unit);
// The exit routine's CLOSE: as close_unit, but refused (0, the unit left
// as it is) while a statement is in progress, as I/O nested in it.
int close_at_exit(Unit& unit);

}  // namespace rt
