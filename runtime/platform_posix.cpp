// The platform layer on Linux and other POSIX systems.
//
// How a request reaches the exit routine: the four exit requests (SIGINT,
// SIGTERM, SIGABRT, SIGFPE) have handlers that end the run themselves, so
// the handler of a request runs the exit routine on the main thread, in the
// middle of whatever the program was doing. What is held: the requests are
// blocked only around stretches that such an exit routine must not find
// half done and that never wait on another process: one write call of a
// write-out together with marking its bytes written (else they would be
// written again), each allocation (allocate()), each change to the unit
// table, and the registration of the exit
// routine (the C library's exit lock). Once an ending has begun they stay
// blocked, so the ending that began completes.
//
// The calls that may wait on another process run with the requests let
// through, so a request that comes during one ends the run at once, through
// the exit routine, with records written out whole:
//   - open() of a data file: a FIFO waits for a writer, a file that another
//     process holds a lease on waits for the lease to break;
//   - read() of a blocking descriptor: the console, a pipe, a FIFO;
//   - the wait for room or input of a non-blocking descriptor, and a
//     write-out's wait for room: ppoll() with the requests unblocked in its
//     mask, bounded, so that a state that poll never reports (a full socket
//     whose reader has shut down) is seen at the next try.
// A write-out's own write calls never wait (write_now): a file's write, a
// socket's send(MSG_DONTWAIT), a pipe's or terminal's write of at most
// PIPE_BUF bytes once poll has seen room.
//
// The one wait that stays: once the ending has begun, its own write-out to
// a full pipe that nobody reads waits with the requests held for good, as
// the ending that began must complete without writing a record twice. It
// ends when the reader reads or goes away; SIGKILL ends it otherwise.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "platform.h"

namespace rt::platform {

namespace {

// A data file must never take the place of a closed standard descriptor:
// the fatal report would then be written into it.
int above_standard(int fd) {
  if (fd < 0 || fd > kStderr) return fd;
  int moved = fcntl(fd, F_DUPFD_CLOEXEC, kStderr + 1);
  int error = errno;
  ::close(fd);
  errno = error;
  return moved;
}

// Creates `name` for writing only where no file is: O_EXCL never opens an
// existing one. It refuses every link too, but a link to nothing names a
// missing file as well, which is then made where the link points.
int create_missing(const char* name) {
  int fd = ::open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd >= 0 || errno != EEXIST) return fd;
  struct stat target;
  if (::stat(name, &target) == 0 || errno != ENOENT) {
    errno = EEXIST;
    return -1;
  }
  return ::open(name, O_WRONLY | O_CREAT | O_CLOEXEC, 0666);  // no O_TRUNC
}

// A FIFO opened for reading and writing would hold a writer of the run's
// own, and never end. The check and the open are two steps: an entry that
// becomes a FIFO between them is opened as before.
bool is_fifo(const char* name) {
  struct stat entry;
  return ::stat(name, &entry) == 0 && S_ISFIFO(entry.st_mode);
}

}  // namespace

int open_file(const char* name, OpenMode mode) {
  switch (mode) {
    case OpenMode::kReadWrite:
      if (is_fifo(name)) return above_standard(::open(name, O_RDONLY | O_CLOEXEC));
      return above_standard(::open(name, O_RDWR | O_CLOEXEC));
    case OpenMode::kReadOnly:
      return above_standard(::open(name, O_RDONLY | O_CLOEXEC));
    case OpenMode::kCreate:
      return above_standard(create_missing(name));
  }
  return -1;
}

int close_file(int fd) {
  return ::close(fd);
}

namespace {

// One read or write `call` on `fd`, retried when a signal broke in. A
// descriptor that another process left non-blocking is not ready yet, which
// is no failure: the call waits for it and goes on. The descriptor's mode
// is left alone, for the other processes that share it.
template <class Call>
std::ptrdiff_t transfer(int fd, bool writing, Call call) {
  for (;;) {
    ssize_t n = call();
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
    if (wait_until_ready(fd, writing) < 0) return -1;
  }
}

// Set once the run's ending has begun: its waits keep the requests held.
volatile std::sig_atomic_t ending_begun = 0;

// How long a wait lasts before the call is tried again: short enough that
// a state no wait reports is seen soon, long enough to cost no CPU.
constexpr long kWaitNanoseconds = 250'000'000;

// The signals whose handlers end the process through the exit routine. An
// arithmetic fault sent from outside is one of them: nothing that holds them
// off divides, so no fault of the program's own can arrive while they wait.
constexpr int kExitRequests[] = {SIGINT, SIGTERM, SIGABRT, SIGFPE};

sigset_t exit_requests() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : kExitRequests) sigaddset(&set, signal);
  return set;
}

}  // namespace

std::ptrdiff_t read_some(int fd, void* buffer, std::size_t size) {
  return transfer(fd, false, [&] { return ::read(fd, buffer, size); });
}

std::ptrdiff_t write_some(int fd, const void* buffer, std::size_t size) {
  return transfer(fd, true, [&] { return ::write(fd, buffer, size); });
}

StreamKind stream_kind(int fd) {
  struct stat file;
  if (::fstat(fd, &file) != 0) return StreamKind::kFile;  // its write reports why
  if (S_ISSOCK(file.st_mode)) return StreamKind::kSocket;
  if (S_ISFIFO(file.st_mode) || (S_ISCHR(file.st_mode) && ::isatty(fd))) return StreamKind::kPipe;
  return S_ISREG(file.st_mode) ? StreamKind::kFile : StreamKind::kDevice;
}

std::ptrdiff_t write_now(int fd, StreamKind kind, const void* buffer, std::size_t size) {
  switch (kind) {
    case StreamKind::kFile:
    case StreamKind::kDevice:
      break;
    case StreamKind::kSocket:  // the same bytes and SIGPIPE as write, never a wait
      return ::send(fd, buffer, size, MSG_DONTWAIT);
    case StreamKind::kPipe: {
      // With room, a write of at most PIPE_BUF bytes completes at once.
      pollfd room{fd, POLLOUT, 0};
      int ready = ::poll(&room, 1, 0);
      if (ready <= 0) {
        if (ready == 0) errno = EAGAIN;
        return -1;
      }
      size = std::min<std::size_t>(size, PIPE_BUF);
      break;
    }
  }
  return ::write(fd, buffer, size);
}

// Out of line: inlined with every write to standard error, it bloats the
// scan that link-time optimisation builds around them, and costs the scans
// of 360 about 2.5% of their instructions.
[[gnu::noinline]] int wait_until_ready(int fd, bool writing) {
  pollfd ready{fd, static_cast<short>(writing ? POLLOUT : POLLIN), 0};
  const timespec bound{0, kWaitNanoseconds};
  sigset_t mask;
  sigprocmask(SIG_BLOCK, nullptr, &mask);
  if (!ending_begun) {
    for (int signal : kExitRequests) sigdelset(&mask, signal);
  }
  if (::ppoll(&ready, 1, &bound, &mask) < 0 && errno != EINTR) return -1;
  return 0;
}

std::int64_t write_position(int fd) {
  int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0) return -1;
  if ((flags & O_APPEND) != 0) return size_of(fd);
  return ::lseek(fd, 0, SEEK_CUR);
}

std::size_t text_length(int, const void*, std::size_t count) {
  return count;
}

std::int64_t position_of(int fd) {
  return ::lseek(fd, 0, SEEK_CUR);
}
std::int64_t size_of(int fd) {
  struct stat file;
  return ::fstat(fd, &file) == 0 ? file.st_size : -1;
}
std::int64_t seek_to(int fd, std::int64_t position) {
  return ::lseek(fd, position, SEEK_SET);
}
int truncate_at(int fd, std::int64_t position) {
  return ::ftruncate(fd, position);
}
bool is_terminal(int fd) {
  return ::isatty(fd) != 0;
}
void prepare_standard_streams() {}

ExitSignalsHeld::ExitSignalsHeld() {
  sigset_t hold = exit_requests();
  sigprocmask(SIG_BLOCK, &hold, &saved_);
}

ExitSignalsHeld::~ExitSignalsHeld() {
  sigprocmask(SIG_SETMASK, &saved_, nullptr);
}

// Every hold made after this saves and puts back a mask that holds the
// requests; none made before it is put back, as no ending returns.
void begin_ending() {
  ending_begun = 1;
  sigset_t hold = exit_requests();
  sigprocmask(SIG_BLOCK, &hold, nullptr);
}

void mark_main_thread() {}  // a signal here reaches the thread it is meant for

void install_handler(int signal, SignalHandler handler, bool once, bool keep_ignored) {
  struct sigaction previous {};
  if (keep_ignored && sigaction(signal, nullptr, &previous) == 0 &&
      previous.sa_handler == SIG_IGN) {
    return;
  }
  struct sigaction action {};
  action.sa_handler = handler;
  // A handler never returns: it ends the process. Holding the other
  // requests off while it runs lets the exit routine finish undisturbed.
  action.sa_mask = exit_requests();
  action.sa_flags = once ? SA_RESETHAND : 0;
  sigaction(signal, &action, nullptr);
  // A mask inherited from the parent must not change which ending comes.
  sigset_t one;
  sigemptyset(&one);
  sigaddset(&one, signal);
  sigprocmask(SIG_UNBLOCK, &one, nullptr);
}

const char* error_text(int error) {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || __GLIBC_MINOR__ >= 32)
  return strerrordesc_np(error);  // strerror would read the locale's tables
#else
  return std::strerror(error);
#endif
}

void abnormal_end() {
  std::abort();
}

}  // namespace rt::platform
