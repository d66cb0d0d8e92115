#include "platform.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace rt::platform {

#ifdef _WIN32

int open_file(const char* name, OpenMode mode) {
  switch (mode) {
    case OpenMode::kReadWrite:
      return _open(name, _O_RDWR | _O_BINARY);
    case OpenMode::kReadOnly:
      return _open(name, _O_RDONLY | _O_BINARY);
    case OpenMode::kCreate:
      return _open(name, _O_WRONLY | _O_BINARY | _O_CREAT | _O_EXCL, _S_IREAD | _S_IWRITE);
  }
  return -1;
}

int close_file(int fd) {
  return _close(fd);
}

std::ptrdiff_t read_some(int fd, void* buffer, std::size_t size) {
  return _read(fd, buffer, static_cast<unsigned>(size));
}

std::ptrdiff_t write_some(int fd, const void* buffer, std::size_t size) {
  return _write(fd, buffer, static_cast<unsigned>(size));
}

std::int64_t seek_relative(int fd, std::int64_t offset) {
  return _lseeki64(fd, offset, SEEK_CUR);
}
std::int64_t seek_to(int fd, std::int64_t position) {
  return _lseeki64(fd, position, SEEK_SET);
}
int truncate_at(int fd, std::int64_t position) {
  return _chsize_s(fd, position) == 0 ? 0 : -1;
}
bool is_terminal(int fd) {
  return _isatty(fd) != 0;
}

void prepare_standard_streams() {
  _setmode(kStdin, _O_BINARY);
  _setmode(kStdout, _O_BINARY);
  _setmode(kStderr, _O_BINARY);
}

// Console signals arrive on their own thread on this platform; there is no
// mask to hold them off, so records are simply written as they stand.
ExitSignalsHeld::ExitSignalsHeld() : saved_{} {}
ExitSignalsHeld::~ExitSignalsHeld() {}

bool install_handler(int signal, SignalHandler handler, bool /*once*/, bool keep_ignored) {
  // signal() here always resets the action to default before the handler.
  SignalHandler previous = std::signal(signal, handler);
  if (keep_ignored && previous == SIG_IGN) {
    std::signal(signal, SIG_IGN);
    return false;
  }
  return true;
}

#else

int open_file(const char* name, OpenMode mode) {
  switch (mode) {
    case OpenMode::kReadWrite:
      return ::open(name, O_RDWR | O_CLOEXEC);
    case OpenMode::kReadOnly:
      return ::open(name, O_RDONLY | O_CLOEXEC);
    case OpenMode::kCreate:
      return ::open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  }
  return -1;
}

int close_file(int fd) {
  return ::close(fd);
}

std::ptrdiff_t read_some(int fd, void* buffer, std::size_t size) {
  for (;;) {
    ssize_t n = ::read(fd, buffer, size);
    if (n >= 0 || errno != EINTR) return n;
  }
}

std::ptrdiff_t write_some(int fd, const void* buffer, std::size_t size) {
  for (;;) {
    ssize_t n = ::write(fd, buffer, size);
    if (n >= 0 || errno != EINTR) return n;
  }
}

std::int64_t seek_relative(int fd, std::int64_t offset) {
  return ::lseek(fd, offset, SEEK_CUR);
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

static_assert(sizeof(sigset_t) <= 128, "signal mask does not fit its slot");

ExitSignalsHeld::ExitSignalsHeld() {
  sigset_t hold;
  sigemptyset(&hold);
  sigaddset(&hold, SIGINT);
  sigaddset(&hold, SIGTERM);
  sigaddset(&hold, SIGABRT);
  sigprocmask(SIG_BLOCK, &hold, reinterpret_cast<sigset_t*>(saved_));
}

ExitSignalsHeld::~ExitSignalsHeld() {
  sigprocmask(SIG_SETMASK, reinterpret_cast<sigset_t*>(saved_), nullptr);
}

bool install_handler(int signal, SignalHandler handler, bool once, bool keep_ignored) {
  struct sigaction previous {};
  if (keep_ignored && sigaction(signal, nullptr, &previous) == 0 &&
      previous.sa_handler == SIG_IGN) {
    return false;
  }
  struct sigaction action {};
  action.sa_handler = handler;
  // A handler never returns: it ends the process. Holding the other
  // requests off while it runs lets the exit routine finish undisturbed.
  sigemptyset(&action.sa_mask);
  sigaddset(&action.sa_mask, SIGINT);
  sigaddset(&action.sa_mask, SIGTERM);
  sigaddset(&action.sa_mask, SIGABRT);
  action.sa_flags = once ? SA_RESETHAND : 0;
  sigaction(signal, &action, nullptr);
  return true;
}

#endif

void abnormal_end() {
  std::abort();
}

}  // namespace rt::platform
