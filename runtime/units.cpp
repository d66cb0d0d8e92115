#include "units.h"

#include <cassert>
#include <cerrno>
#include <initializer_list>

#include "platform.h"

namespace rt {

NeverDestroyed<IoState> io_state;

void connect_standard_units() {
  struct Standard {
    int number, fd;
    bool writing;
  };
  for (Standard s : {Standard{kErrorUnit, platform::kStderr, true},
                     Standard{kInputUnit, platform::kStdin, false},
                     Standard{kOutputUnit, platform::kStdout, true}}) {
    Unit& unit = io().units[s.number];
    unit.fd = s.fd;
    unit.writing = s.writing;
    unit.kind = platform::stream_kind(s.fd);
    // Standard error is unbuffered; a console sees each record as it ends.
    unit.record_at_a_time = s.fd == platform::kStderr || platform::is_terminal(s.fd);
    if (!s.writing) unit.in.attach(s.fd);
  }
}

namespace {

// A write that fails part way leaves the file ending inside a record. The
// bytes `buffer[first, first + count)` were written from `start` on; a file
// whose size is exactly where they end is cut back to its last whole
// record, when that record began in these bytes. A file that ends anywhere
// else holds bytes that are not ours after them (a sibling process writing
// through the same open file, say), and is left as it is, torn record and
// all. The window left is between the size's check and the cut, a few
// instructions against another process's write: far narrower than the
// write-out's own, and no check made here could close it.
void cut_back_to_whole_record(int fd, std::int64_t start, const char* buffer, std::size_t first,
                              std::size_t count) {
  std::size_t whole = first + count;
  while (whole > 0 && buffer[whole - 1] != '\n') --whole;
  const std::size_t torn = first + count - whole;
  if (torn == 0 || torn > count || start < 0) return;
  const std::int64_t end = start + static_cast<std::int64_t>(count);
  if (platform::size_of(fd) != end) return;  // a pipe, or bytes not ours
  const std::int64_t cut = end - static_cast<std::int64_t>(torn);
  if (platform::truncate_at(fd, cut) == 0) platform::seek_to(fd, cut);
}

}  // namespace

// Each write call runs with the exit requests held together with marking
// its bytes written, and never waits; the waits for room come between them
// with the requests let through. An exit routine run from a request in a
// wait finds every byte either written and counted or still to write.
int write_out(Unit& unit) {
  RecordBuffer& out = unit.out;
  if (out.unwritten_size() == 0) return 0;
  // Where the bytes land, taken before the first of them, for the cut-back.
  const std::size_t first = static_cast<std::size_t>(out.unwritten() - out.data());
  const std::int64_t start =
      unit.kind == platform::StreamKind::kFile ? platform::write_position(unit.fd) : -1;
  int error = 0;
  for (;;) {
    {
      platform::ExitSignalsHeld held;
      std::ptrdiff_t n =
          platform::write_now(unit.fd, unit.kind, out.unwritten(), out.unwritten_size());
      error = n < 0 ? errno : 0;
      if (n > 0) out.mark_written(static_cast<std::size_t>(n));
      if (out.unwritten_size() == 0) {
        out.forget_written();
        return 0;
      }
    }
    if (error == EAGAIN || error == EWOULDBLOCK) {
      error = platform::wait_until_ready(unit.fd, true) == 0 ? 0 : errno;
    }
    if (error != 0 && error != EINTR) break;
  }
  platform::ExitSignalsHeld held;
  const std::size_t done = static_cast<std::size_t>(out.unwritten() - out.data()) - first;
  cut_back_to_whole_record(unit.fd, start, out.data(), first, done);
  // Records that could not be written are dropped, never retried: the
  // failure itself ends the run.
  out.mark_written(out.unwritten_size());
  out.forget_written();
  return error;
}

namespace {

// Opens an existing file at its start: for reading and writing where it
// may be written, else for reading only.
int open_existing(const char* name) {
  int fd = platform::open_file(name, platform::OpenMode::kReadWrite);
  return fd >= 0 ? fd : platform::open_file(name, platform::OpenMode::kReadOnly);
}

}  // namespace

bool reopen_for_reading(Unit& unit) {
  assert(unit.named());  // the program reads no unit that it writes
  std::int64_t position = platform::position_of(unit.fd);
  int fd = open_existing(unit.name);
  if (fd >= 0 && position > 0 && platform::seek_to(fd, position) < 0) {
    platform::close_file(fd);
    fd = -1;
  }
  if (fd < 0) return false;
  platform::ExitSignalsHeld held;  // the unit table changes
  platform::close_file(unit.fd);
  unit.fd = fd;
  unit.kind = platform::stream_kind(fd);
  unit.writing = false;
  unit.in.attach(fd);
  return true;
}

namespace {

// Opens `name` as found, or creates it empty where no file is; an existing
// file is never emptied. Another run may create the file between the two
// attempts: it is then opened as found. Returns the descriptor, with
// `created` set when this run made the file, or -1 with errno set by the
// step that really failed.
int open_or_create(const char* name, bool& created) {
  constexpr int kAttempts = 8;  // a file that keeps coming and going
  int error = 0;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    int fd = open_existing(name);
    if (fd >= 0) return fd;
    error = errno;
    fd = platform::open_file(name, platform::OpenMode::kCreate);
    created = fd >= 0;
    if (fd >= 0) return fd;
    if (errno != EEXIST) return -1;
    // A file is there: one that cannot be opened, or one just made.
    if (error != ENOENT) break;
  }
  errno = error;
  return -1;
}

}  // namespace

// The open itself may wait on another process (a FIFO's writer, a lease
// to break), so it runs with the exit requests let through; only the
// changes to the unit table hold them.
int open_unit(int number, char* name) {
  Unit& unit = io().units[number];
  if (unit.connected()) close_unit(unit);
  char* old = unit.name;
  unit.name = name;  // the report of a failed open names it
  platform::release(old);
  bool created = false;
  int fd = open_or_create(unit.name, created);
  if (fd < 0) return errno;
  platform::ExitSignalsHeld held;
  unit.fd = fd;
  unit.kind = platform::stream_kind(fd);
  unit.record_at_a_time = false;
  unit.writing = created;
  unit.in.attach(created ? -1 : fd);
  return 0;
}

int close_unit(Unit& unit) {
  if (!unit.connected()) return 0;
  int error = 0;
  // A named file is written only from its start, after OPEN created it, so
  // it already ends where the writing ended.
  if (unit.writing) {
    unit.out.drop_partial();
    error = write_out(unit);
  }
  platform::ExitSignalsHeld held;  // the unit table changes
  if (unit.named()) platform::close_file(unit.fd);
  unit.fd = -1;
  if (unit.name != nullptr) unit.name[0] = '\0';  // the block stays: the exit routine frees none
  unit.in.attach(-1);
  return error;
}

int close_at_exit(Unit& unit) {
  return io().statement.in_progress ? 0 : close_unit(unit);
}

}  // namespace rt
