// The platform layer on Linux and other POSIX systems.
//
// How a request reaches the exit routine: the four exit requests (SIGINT,
// SIGTERM, SIGABRT, SIGFPE) have handlers that end the run themselves, so
// the handler of a request runs the exit routine on the main thread, in the
// middle of whatever the program was doing. What is held: the requests are
// blocked around every stretch that such an exit routine must not find half
// done: the write-out of whole records (else it would write them again),
// each allocation (else it could wait on the allocator's lock) and the
// registration of the exit routine (the C library's exit lock). Once an
// ending has begun they stay blocked, so the ending that began completes.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

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

}  // namespace

int open_file(const char* name, OpenMode mode) {
  switch (mode) {
    case OpenMode::kReadWrite:
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
// is no failure: the call waits for `events` and goes on. The descriptor's
// mode is left alone, for the other processes that share it.
template <class Call>
std::ptrdiff_t transfer(int fd, short events, Call call) {
  for (;;) {
    ssize_t n = call();
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
    pollfd ready{fd, events, 0};
    while (::poll(&ready, 1, -1) < 0) {
      if (errno != EINTR) return -1;
    }
  }
}

}  // namespace

std::ptrdiff_t read_some(int fd, void* buffer, std::size_t size) {
  return transfer(fd, POLLIN, [&] { return ::read(fd, buffer, size); });
}

std::ptrdiff_t write_some(int fd, const void* buffer, std::size_t size) {
  return transfer(fd, POLLOUT, [&] { return ::write(fd, buffer, size); });
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

namespace {

// The signals whose handlers end the process through the exit routine. An
// arithmetic fault sent from outside is one of them: nothing that holds them
// off divides, so no fault of the program's own can arrive while they wait.
sigset_t exit_requests() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : {SIGINT, SIGTERM, SIGABRT, SIGFPE}) sigaddset(&set, signal);
  return set;
}

}  // namespace

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
  sigset_t hold = exit_requests();
  sigprocmask(SIG_BLOCK, &hold, nullptr);
}

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
