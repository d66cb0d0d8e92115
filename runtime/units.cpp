#include "units.h"

#include <cassert>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform.h"
#include "report.h"

namespace rt {

NeverDestroyed<IoState> io_state;

void FileSource::attach(int fd) {
  fd_ = fd;
  next_ = end_ = kNoBytes;
  text_ended_ = false;
  at_end_ = false;
}

int FileSource::refill_and_get() {
  if (at_end_ || fd_ < 0) return kEof;
  if (buffer_ == nullptr) {
    platform::ExitSignalsHeld held;  // an exit must not find the allocator locked
    buffer_ = static_cast<unsigned char*>(std::malloc(kCapacity + 1));
    if (buffer_ == nullptr) fatal_system("list in", ENOMEM);
  }
  std::ptrdiff_t n = text_ended_ ? 0 : platform::read_some(fd_, buffer_, kCapacity);
  if (n < 0) fatal_system("list in", errno);
  if (n > 0) {
    const std::size_t text = platform::text_length(fd_, buffer_, static_cast<std::size_t>(n));
    text_ended_ = text < static_cast<std::size_t>(n);
    n = static_cast<std::ptrdiff_t>(text);
  }
  if (n == 0) {
    at_end_ = true;
    return kEof;
  }
  next_ = buffer_;
  end_ = buffer_ + n;
  buffer_[n] = kSentinel;
  return *next_++;
}

bool FileSource::skip_line_slowly() {
  for (;;) {
    const void* line_end = std::memchr(next_, '\n', static_cast<std::size_t>(end_ - next_));
    if (line_end != nullptr) {
      next_ = static_cast<const unsigned char*>(line_end) + 1;
      return true;
    }
    next_ = end_;
    if (refill_and_get() == kEof) return false;
    --next_;  // the byte refilling took is looked at again
  }
}

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
    // Standard error is unbuffered; a console sees each record as it ends.
    unit.record_at_a_time = s.fd == platform::kStderr || platform::is_terminal(s.fd);
    if (!s.writing) unit.in.attach(s.fd);
  }
}

namespace {

// A write that fails part way leaves the file ending inside a record. A
// file that can be positioned is cut back to its last whole record; the
// bytes `written` by this write-out started on a record boundary. Only
// bytes of this run's go: a file that holds more beyond them is left as it
// is.
void cut_back_to_whole_record(int fd, const char* written, std::size_t count) {
  std::size_t whole = count;
  while (whole > 0 && written[whole - 1] != '\n') --whole;
  if (whole == count) return;
  std::int64_t end = platform::position_of(fd);
  if (end < 0 || platform::size_of(fd) != end) return;  // a pipe, or bytes not ours
  std::int64_t cut = end - static_cast<std::int64_t>(count - whole);
  if (platform::truncate_at(fd, cut) == 0) platform::seek_to(fd, cut);
}

}  // namespace

int write_out(Unit& unit) {
  RecordBuffer& out = unit.out;
  if (out.whole_size() == 0) return 0;
  platform::ExitSignalsHeld held;
  std::size_t done = 0;
  int error = 0;
  while (done < out.whole_size()) {
    std::ptrdiff_t n = platform::write_some(unit.fd, out.data() + done, out.whole_size() - done);
    if (n < 0) {
      error = errno;
      cut_back_to_whole_record(unit.fd, out.data(), done);
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  // Records that could not be written are dropped, never retried: the
  // failure itself ends the run.
  out.consume(out.whole_size());
  return error;
}

void write_out_or_fail(int number, Unit& unit) {
  if (int error = write_out(unit); error != 0) fatal_write(number, error);
}

namespace {

// Opens an existing file at its start: for reading and writing where it
// may be written, else for reading only.
int open_existing(const char* name) {
  int fd = platform::open_file(name, platform::OpenMode::kReadWrite);
  return fd >= 0 ? fd : platform::open_file(name, platform::OpenMode::kReadOnly);
}

}  // namespace

void switch_to_reading(int number, Unit& unit) {
  write_out_or_fail(number, unit);
  assert(!unit.name.empty());  // the program reads no unit that it writes
  // A unit that OPEN had to create is write-only: reopen it for reading
  // at the same position.
  std::int64_t position = platform::position_of(unit.fd);
  int fd = open_existing(unit.name.c_str());
  if (fd < 0 || (position > 0 && platform::seek_to(fd, position) < 0)) {
    fatal_error("read start", kCantReadMessage);
  }
  platform::close_file(unit.fd);
  unit.fd = fd;
  unit.writing = false;
  unit.in.attach(fd);
}

namespace {

// Opens `name` as found, or creates it empty where no file is; an existing
// file is never emptied. Another run may create the file between the two
// attempts: it is then opened as found. Returns the descriptor, with
// `created` set when this run made the file; a failure is reported with the
// error of the step that really failed.
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
    if (errno != EEXIST) fatal_system("open", errno);
    // A file is there: one that cannot be opened, or one just made.
    if (error != ENOENT) break;
  }
  fatal_system("open", error);
}

}  // namespace

void open_unit(int number, std::string name) {
  Unit& unit = io().units[number];
  if (unit.connected()) close_unit(unit);
  unit.name = std::move(name);
  bool created = false;
  unit.fd = open_or_create(unit.name.c_str(), created);
  unit.record_at_a_time = false;
  unit.writing = created;
  unit.in.attach(created ? -1 : unit.fd);
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
  if (!unit.name.empty()) platform::close_file(unit.fd);
  unit.fd = -1;
  unit.name.clear();
  unit.in.attach(-1);
  return error;
}

}  // namespace rt
