// Runs a program behind a pseudo-terminal that shows its code page 850 texts
// on a UTF-8 terminal:
//
//     cp850-terminal PROGRAM [ARGUMENT...]
//
// What the program writes is turned into UTF-8 as it arrives, and what is
// typed into code page 850, so the program reads and writes the bytes it
// would on a code page 850 console. To the program this is a terminal of the
// size of ours: ours is raw while it runs, so Ctrl-C, Ctrl-D and Ctrl-Z are
// bytes that the program's terminal acts on. Both ways are relayed at once,
// so no amount of input stalls against the program's output. The exit status
// is the program's; a program killed by a signal ends this one with the same
// signal, and one that cannot be started gives status 127.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cp850.h"

namespace {

constexpr std::size_t kInputHeld = 1 << 16;  // read no more input while this much waits

volatile sig_atomic_t program = 0;  // its process id, for the signal handlers
int master = -1;                    // our side of the program's terminal
termios saved;                      // our terminal as we found it
bool raw = false;

void restore_terminal() {
  if (raw) tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
  raw = false;
}

// Reports an error of our own, the terminal put back first, and ends with status 1. The program's
// terminal closes with us, which hangs it up.
[[noreturn]] void fail(const char* what) {
  const int error = errno;
  restore_terminal();
  std::fprintf(stderr, "cp850-terminal: %s: %s\n", what, std::strerror(error));
  std::exit(1);
}

// Gives the program's terminal the size of ours (none where ours is no terminal): at the start
// and on SIGWINCH.
void copy_size(int) {
  const int error = errno;
  winsize size;
  if (ioctl(STDIN_FILENO, TIOCGWINSZ, &size) == 0) ioctl(master, TIOCSWINSZ, &size);
  errno = error;
}

// Requests sent to us by name go on to the program; its end then ends us.
void forward(int sig) {
  const int error = errno;
  if (program > 0) kill(program, sig);
  errno = error;
}

// Starts the program on a new terminal whose other side is `master`; on failure it says why in
// one line and ends with status 127, as a shell does.
void start(char** argv) {
  char name[128];
  master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 ||
      ptsname_r(master, name, sizeof name) != 0)
    fail("no pseudo-terminal");
  copy_size(0);
  int report[2];  // carries the child's errno when it cannot run the program
  if (pipe2(report, O_CLOEXEC) != 0) fail("pipe");
  const pid_t pid = fork();
  if (pid < 0) fail("fork");
  if (pid == 0) {
    const int terminal = setsid() < 0 ? -1 : open(name, O_RDWR);
    if (terminal >= 0 && ioctl(terminal, TIOCSCTTY, 0) == 0 && dup2(terminal, 0) == 0 &&
        dup2(terminal, 1) == 1 && dup2(terminal, 2) == 2) {
      if (terminal > 2) close(terminal);
      execvp(argv[0], argv);
    }
    const int error = errno;
    if (write(report[1], &error, sizeof error) != sizeof error) _exit(126);
    _exit(127);
  }
  program = pid;
  close(report[1]);
  int error = 0;
  ssize_t got;
  while ((got = read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
  }
  close(report[0]);
  if (got > 0) {
    waitpid(pid, nullptr, 0);
    std::fprintf(stderr, "cp850-terminal: cannot start %s: %s\n", argv[0], std::strerror(error));
    std::exit(127);
  }
}

void write_all(int fd, const std::string& data) {
  for (std::size_t done = 0; done < data.size();) {
    const ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno != EINTR) fail("writing the output");
    if (n > 0) done += static_cast<std::size_t>(n);
  }
}

// Ends the program's input as the end of a pipe would: its terminal's end-of-input key hands
// over an unfinished line, and a second one, at the start of a line, is the end.
void end_input(std::string& to_program, bool at_line_start) {
  termios settings;
  const char eof = tcgetattr(master, &settings) == 0 ? static_cast<char>(settings.c_cc[VEOF]) : 4;
  if (!at_line_start) to_program += eof;
  to_program += eof;
}

// Copies both ways until the program's side of the terminal closes. Our own input and output
// stay blocking, for the shell shares them; the program's terminal is ours alone.
void relay() {
  if (fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK) != 0) fail("fcntl");
  cp850::Utf8Decoder typed;
  std::string to_program, shown;
  bool input_open = true, at_line_start = true;
  char buffer[4096];
  for (;;) {
    const bool want_input = input_open && to_program.size() < kInputHeld;
    pollfd fds[2] = {{master, static_cast<short>(POLLIN | (to_program.empty() ? 0 : POLLOUT)), 0},
                     {want_input ? STDIN_FILENO : -1, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      fail("poll");
    }
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
      const ssize_t n = read(master, buffer, sizeof buffer);
      if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return;  // Linux: EIO
      shown.clear();
      for (ssize_t i = 0; i < n; ++i) cp850::append_utf8(shown, buffer[i]);
      write_all(STDOUT_FILENO, shown);
    }
    if (fds[0].revents & POLLOUT) {
      const ssize_t n = write(master, to_program.data(), to_program.size());
      if (n > 0) to_program.erase(0, static_cast<std::size_t>(n));
    }
    if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
      const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      const std::size_t before = to_program.size();
      if (n > 0) {
        typed.decode(buffer, static_cast<std::size_t>(n), to_program);
      } else {  // our input ended, or failed: so does the program's
        typed.finish(to_program);
        end_input(to_program, at_line_start && to_program.size() == before);
        input_open = false;
      }
      if (to_program.size() > before)
        at_line_start = to_program.back() == '\n' || to_program.back() == '\r';
    }
  }
}

// Ends as the program ended: with its status, or killed by its signal.
[[noreturn]] void end_like(int status) {
  if (WIFSIGNALED(status)) {
    const int sig = WTERMSIG(status);
    const rlimit no_core{0, 0};  // the program has left its core file, if any
    setrlimit(RLIMIT_CORE, &no_core);
    std::signal(sig, SIG_DFL);
    sigset_t just;
    sigemptyset(&just);
    sigaddset(&just, sig);
    sigprocmask(SIG_UNBLOCK, &just, nullptr);
    raise(sig);
    std::exit(128 + sig);  // a signal whose default is not to end a process
  }
  std::exit(WIFEXITED(status) ? WEXITSTATUS(status) : 1);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs("usage: cp850-terminal PROGRAM [ARGUMENT...]\n", stderr);
    return 2;
  }
  start(argv + 1);
  struct sigaction action {};
  action.sa_flags = SA_RESTART;
  action.sa_handler = copy_size;
  sigaction(SIGWINCH, &action, nullptr);
  action.sa_handler = forward;
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaction(sig, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);  // a closed output is an error that puts the terminal back
  if (isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &saved) == 0) {
    termios settings = saved;
    cfmakeraw(&settings);
    raw = tcsetattr(STDIN_FILENO, TCSAFLUSH, &settings) == 0;
  }
  relay();
  restore_terminal();
  int status;
  while (waitpid(static_cast<pid_t>(program), &status, 0) < 0) {
    if (errno != EINTR) fail("waitpid");
  }
  end_like(status);
}
