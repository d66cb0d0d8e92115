// The unit table: which stream each unit number is connected to, and the
// state the statements, OPEN/CLOSE and the exit routine share.
#pragma once

#include <cassert>
#include <csignal>
#include <cstddef>
#include <cstdint>

#include "platform.h"
#include "reader.h"
#include "writer.h"

namespace rt {

inline constexpr int kUnitCount = 100;
inline constexpr int kErrorUnit = 0;
inline constexpr int kInputUnit = 5;
inline constexpr int kOutputUnit = 6;

// Buffered reading from a descriptor, as a buffered source for the value
// reader (reader.h). The per-byte path is inline; only refilling leaves it.
class FileSource {
 public:
  int get() {
    if (next_ != end_) return *next_++;
    return refill_and_get();
  }
  void unget() {
    assert(buffer_ != nullptr && next_ > buffer_);  // a byte that get() returned
    --next_;
  }

  // Reads `fd` from here on, from an empty buffer; -1 reads nothing.
  void attach(int fd);
  const unsigned char* buffered_begin() const { return next_; }
  const unsigned char* buffered_end() const { return end_; }
  // Marks the buffered bytes before `next` as read.
  void consume_to(const unsigned char* next) { next_ = next; }
  // Skips the rest of the record and its line end; false when the file
  // ended, or failed, first.
  bool skip_line() {
    if (next_ != end_ && *next_ == '\n') {
      ++next_;
      return true;
    }
    return skip_line_slowly();
  }
  bool at_end() const { return at_end_; }
  // The errno of a failed read or of a buffer that could not be had, or 0.
  // A failure is sticky: the source stays at its end, as after the file's.
  int error() const { return error_; }

 private:
  int refill_and_get();
  int fail(int error);  // kEof, the source at its end
  bool skip_line_slowly();

  static constexpr std::size_t kCapacity = 64 * 1024;
  static constexpr unsigned char kNoBytes[1] = {kSentinel};  // before the first refill
  unsigned char* buffer_ = nullptr;  // kCapacity and the sentinel, made at the first
                                     // refill and kept for the next connection
  const unsigned char* next_ = kNoBytes;
  const unsigned char* end_ = kNoBytes;
  int fd_ = -1;
  bool text_ended_ = false;  // what is left of the descriptor is not text
  bool at_end_ = false;      // sticky: a console is not asked again
  int error_ = 0;
};

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
