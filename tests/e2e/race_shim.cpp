// Preloaded into the program (LD_PRELOAD) to make a race certain, as RACE_SHIM says:
//   create   another run creates a missing file, holding "2\n3\n5\n", just before this one does;
//   written  signal RACE_SIGNAL is raised as the first write to standard output returns, its
//            records out but not yet counted: unless held off, the exit routine writes them again;
//   atexit   an exit request arrives while the exit routine is registered, when the C library
//            holds the lock that exiting needs: unless held off there, this shim ends the run;
//   sibling  the first write of more than kShortWrite bytes to standard output writes only that
//            many; another process writes "OTHER PROCESS\n" through the same open file, and the
//            run's next write there fails with ENOSPC.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

namespace {

bool mode_is(const char* mode) {
  const char* wanted = std::getenv("RACE_SHIM");
  return wanted != nullptr && std::strcmp(wanted, mode) == 0;
}

constexpr size_t kShortWrite = 1000;

}  // namespace

extern "C" ssize_t write(int fd, const void* buffer, size_t size) {
  static const auto real =
      reinterpret_cast<ssize_t (*)(int, const void*, size_t)>(dlsym(RTLD_NEXT, "write"));
  enum Stage { kBefore, kFailNext, kAfter };
  static Stage stage = kBefore;
  if (fd != STDOUT_FILENO || stage == kAfter) return real(fd, buffer, size);
  if (stage == kFailNext) {
    stage = kAfter;
    errno = ENOSPC;
    return -1;
  }
  if (size > kShortWrite && mode_is("sibling")) {
    stage = kFailNext;
    const ssize_t written = real(fd, buffer, kShortWrite);
    const char other[] = "OTHER PROCESS\n";
    if (real(fd, other, sizeof other - 1) != sizeof other - 1) _exit(98);
    return written;
  }
  const ssize_t written = real(fd, buffer, size);
  if (written > 0 && mode_is("written")) {
    stage = kAfter;  // the exit routine's own write-out comes here too
    raise(std::atoi(std::getenv("RACE_SIGNAL")));
  }
  return written;
}

extern "C" int open(const char* name, int flags, ...) {
  va_list rest;
  va_start(rest, flags);
  const mode_t mode = (flags & O_CREAT) != 0 ? va_arg(rest, mode_t) : 0;
  va_end(rest);
  static const auto real =
      reinterpret_cast<int (*)(const char*, int, ...)>(dlsym(RTLD_NEXT, "open"));
  if ((flags & O_EXCL) != 0 && mode_is("create")) {
    const int other = real(name, O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (other >= 0 && (write(other, "2\n3\n5\n", 6) != 6 || close(other) != 0)) _exit(98);
  }
  return real(name, flags, mode);
}

extern "C" int __cxa_atexit(void (*function)(void*), void* argument, void* dso) {
  static const auto real =
      reinterpret_cast<int (*)(void (*)(void*), void*, void*)>(dlsym(RTLD_NEXT, "__cxa_atexit"));
  struct sigaction action {};
  sigset_t held;
  // Only once the run's handler is there can a request end the run.
  if (mode_is("atexit") && sigaction(SIGTERM, nullptr, &action) == 0 &&
      action.sa_handler != SIG_DFL && sigprocmask(SIG_BLOCK, nullptr, &held) == 0) {
    if (!sigismember(&held, SIGTERM)) {
      const char text[] = "an exit request would be handled inside atexit\n";
      _exit(write(2, text, sizeof text - 1) < 0 ? 98 : 99);
    }
    raise(SIGTERM);
  }
  return real(function, argument, dso);
}
