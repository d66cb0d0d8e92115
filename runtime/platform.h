// Everything that differs between the Linux build and the Windows console
// build: the line end, raw descriptor I/O, file modes, text mode's end of
// input, the console's code page, how exit requests are held off and the way
// the process dies abnormally. One source a system implements it:
// platform_posix.cpp and platform_windows.cpp.
#pragma once

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace rt::platform {

#ifdef _WIN32
inline constexpr char kLineEnd[] = "\r\n";
#else
inline constexpr char kLineEnd[] = "\n";
#endif
inline constexpr std::size_t kLineEndLength = sizeof kLineEnd - 1;

inline constexpr int kStdin = 0;
inline constexpr int kStdout = 1;
inline constexpr int kStderr = 2;

// How OPEN tries a file: reading and writing, reading only, or creating it
// empty for writing. Create never touches a file that already exists.
enum class OpenMode { kReadWrite, kReadOnly, kCreate };

// Returns a descriptor, or -1 with errno set. Files are always binary: the
// run-time itself writes the platform's line end and drops CR before LF.
// A FIFO asked for reading and writing is opened as its reader only, so
// that its writer's close ends its data.
int open_file(const char* name, OpenMode mode);
int close_file(int fd);
// One read or write call, retried on EINTR, and made again once a
// non-blocking descriptor is ready; returns the count or -1. Between the
// tries it waits as wait_until_ready() does.
std::ptrdiff_t read_some(int fd, void* buffer, std::size_t size);
std::ptrdiff_t write_some(int fd, const void* buffer, std::size_t size);

// What a write-out's write call may wait on, decided once a connection:
// nothing but the system (a regular file, which a failed write-out may cut
// back, or a device that is no terminal), a socket, or a reader that may
// stop reading (a pipe, a FIFO, a terminal).
enum class StreamKind : unsigned char { kFile, kDevice, kSocket, kPipe };
StreamKind stream_kind(int fd);
// One write call that never waits on another process, and so may run with
// the exit requests held: all or part of the bytes, or -1 with errno,
// EAGAIN when there is no room now.
std::ptrdiff_t write_now(int fd, StreamKind kind, const void* buffer, std::size_t size);
// Waits until `fd` may have room (`writing`) or input, or for a short
// while, whichever comes first; the caller then simply tries again, which
// also sees the states the wait is never woken for. The exit requests come
// through while it waits, unless the run's ending has begun. Returns 0, or
// -1 with errno.
int wait_until_ready(int fd, bool writing);
// Where the next write on `fd` lands: the position, or the size for a
// descriptor that appends; -1 when it has none.
std::int64_t write_position(int fd);
// How many of the `count` bytes just read from `fd` are text. On Windows a
// Ctrl-Z ends the text of a file or a pipe, and the bytes from it on are
// never read; in a console, a line that starts with Ctrl-Z is the end of
// input. Elsewhere every byte is text.
std::size_t text_length(int fd, const void* bytes, std::size_t count);
// Where the descriptor stands, and moving it there; -1 when it cannot.
std::int64_t position_of(int fd);
// The size of the file open on `fd`; -1 when it has none.
std::int64_t size_of(int fd);
std::int64_t seek_to(int fd, std::int64_t position);
int truncate_at(int fd, std::int64_t position);
bool is_terminal(int fd);
// Puts the standard descriptors in the mode the run-time expects. A console
// standard output on Windows is also set to code page 850 for the run, as the
// texts are code page 850 bytes that a console at another page (65001, say)
// shows wrong; every ending of the run's own puts the page found back, but a
// process killed from outside, or ended by the system on a crash, leaves the
// console at 850.
void prepare_standard_streams();

// Holds off interrupt, termination, abort and arithmetic-fault requests
// around the bookkeeping that an exit routine run from their handlers must
// not find half done: a write call together with marking its bytes written
// (else it would write them again), an allocation (allocate()), a change to
// the unit table. Never held across a call that may wait on another process.
class ExitSignalsHeld {
 public:
  ExitSignalsHeld();
  ~ExitSignalsHeld();
  ExitSignalsHeld(const ExitSignalsHeld&) = delete;
  ExitSignalsHeld& operator=(const ExitSignalsHeld&) = delete;

#ifndef _WIN32
 private:
  sigset_t saved_;  // the mask to put back
#endif
};

// The run-time's one way to allocate and to release: with the exit requests
// held, as an exit routine run from a handler in the middle of malloc or
// free would wait for ever on the allocator's lock. Null when memory is out
// (ENOMEM); release takes null too.
inline void* allocate(std::size_t size) {
  ExitSignalsHeld held;
  return std::malloc(size);
}
inline void release(void* block) {
  ExitSignalsHeld held;
  std::free(block);
}

// Notes the thread that runs the program, at start-up before any handler
// is installed: handlers tell by it who raised a signal.
void mark_main_thread();

// The run is ending: STOP, the fatal report and every handler pass here
// first. From here on exit requests are held off for good, so the ending
// that began is the one that completes, and exit is never entered twice.
void begin_ending();

using SignalHandler = void (*)(int);
// Installs `handler` for `signal` and lets the signal through, whatever
// mask the run inherited. With `once`, the action is set back to default
// before the handler runs, as for a hardware exception. With
// `keep_ignored`, a signal ignored at start stays ignored.
void install_handler(int signal, SignalHandler handler, bool once, bool keep_ignored);

// The system's text for `error`, or null for a number it has none for. It
// reads no locale: the fatal report may run on a signal handler's path.
const char* error_text(int error);

// Abnormal termination with the platform's abort status, with the console's
// code page put back first.
[[noreturn]] void abnormal_end();

}  // namespace rt::platform
