// Runs a program and writes its peak resident memory to a report file.
//
// Linux carries a process's peak across exec: a child spawned straight from
// a large parent (the Python benchmark script) reports at least the parent's
// size. This helper is small and linked statically, so the peak it reads
// for its child is the child's own, give or take the helper's few pages.
//
// Usage: bench_peak_rss REPORT_FILE PROGRAM [ARGUMENT...]
// The child inherits standard input, output and error. REPORT_FILE gets one
// line: "<ru_maxrss in KiB> <exit status>", the status as os.wait4 tells it.
// The helper's own status is 0 once the report is written, 1 otherwise.

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

extern char** environ;

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fputs("usage: bench_peak_rss REPORT_FILE PROGRAM [ARGUMENT...]\n", stderr);
    return 1;
  }
  pid_t pid = 0;
  int error = posix_spawn(&pid, argv[2], nullptr, nullptr, argv + 2, environ);
  if (error != 0) {
    std::fprintf(stderr, "bench_peak_rss: %s: %s\n", argv[2], std::strerror(error));
    return 1;
  }
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0) {
    if (errno != EINTR) {
      std::perror("bench_peak_rss: wait4");
      return 1;
    }
  }
  int code = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
  std::FILE* report = std::fopen(argv[1], "w");
  if (report == nullptr) {
    std::perror(argv[1]);
    return 1;
  }
  std::fprintf(report, "%ld %d\n", usage.ru_maxrss, code);
  return std::fclose(report) == 0 ? 0 : 1;
}
