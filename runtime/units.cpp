#include "units.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "platform.h"
#include "report.h"

namespace rt {

NeverDestroyed<IoState> io_state;

void FileSource::attach(int fd) {
  if (fd >= 0 && buffer_ == nullptr) {
    platform::ExitSignalsHeld held;  // an exit must not find the allocator locked
    buffer_ = static_cast<unsigned char*>(std::malloc(kCapacity + 1));
    if (buffer_ == nullptr) throw std::bad_alloc();
  }
  fd_ = fd;
  next_ = end_ = buffer_;
  if (buffer_ != nullptr) *buffer_ = kSentinel;
  at_end_ = false;
}

int FileSource::refill_and_get() {
  if (at_end_ || fd_ < 0) return kEof;
  std::ptrdiff_t n = platform::read_some(fd_, buffer_, kCapacity);
  if (n < 0) fatal_system("list in", errno);
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
// bytes `written` by this write-out started on a record boundary.
void cut_back_to_whole_record(int fd, const char* written, std::size_t count) {
  std::size_t whole = count;
  while (whole > 0 && written[whole - 1] != '\n') --whole;
  if (whole == count) return;
  std::int64_t end = platform::position_of(fd);
  if (end < 0) return;  // a pipe or a terminal: nothing to cut back
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
  if (unit.name.empty()) fatal_error("read start", kCantReadMessage);
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

void open_unit(int number, std::string name) {
  Unit& unit = io().units[number];
  if (unit.connected()) close_unit(unit, false);
  unit.name = std::move(name);
  const char* path = unit.name.c_str();
  int fd = open_existing(path);
  bool created = false;
  int read_error = errno;
  if (fd < 0) {
    // Created only when missing: an existing file is never emptied.
    fd = platform::open_file(path, platform::OpenMode::kCreate);
    created = fd >= 0;
    if (fd < 0) fatal_system("open", errno == EEXIST ? read_error : errno);
  }
  unit.fd = fd;
  unit.record_at_a_time = false;
  unit.writing = created;
  unit.in.attach(created ? -1 : fd);
}

int close_unit(Unit& unit, bool remove) {
  if (!unit.connected()) return 0;
  int error = 0;
  // A named file is written only from its start, after OPEN created it, so
  // it already ends where the writing ended.
  if (unit.writing) {
    unit.out.drop_partial();
    error = write_out(unit);
  }
  if (!unit.name.empty()) {
    platform::close_file(unit.fd);
    if (remove) std::remove(unit.name.c_str());
  }
  unit.fd = -1;
  unit.name.clear();
  unit.in.attach(-1);
  return error;
}

}  // namespace rt
