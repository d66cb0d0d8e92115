// The platform layer on Windows.
//
// How a request reaches the exit routine: a console event (Ctrl-C) reaches
// its signal handler on a thread that the system starts for it, while the
// main thread may be halfway through a record or blocked in a read. The
// handler, which ends the run, runs only where the main thread has nothing
// half done: at once if it waits for standard input (then the event's
// thread runs it, and the main thread never comes back from its read), or
// else when the main thread next reads or leaves its last held stretch.
// What is held is a count, not a mask: the stretches that the exit routine
// must not find half done are the same as on POSIX (a write call with the
// marking of its bytes written, each allocation, each change to the unit
// table, the registration of the exit routine). A write here is one plain
// call, which a pipe that nobody reads keeps waiting inside its hold: an
// event that comes then is taken when the write returns. A signal
// that the program raises itself runs its handler at once. Either way there
// is one delivery only: the first to take it ends the process.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform.h"

namespace rt::platform {

namespace {

// Who may take a delivery: the main thread while busy, the event's thread
// while the main thread waits for input, nobody once the run is ending.
enum MainState : LONG { kBusy, kWaitingForInput, kEnding };
volatile LONG main_state = kBusy;
volatile LONG pending_signal = 0;
volatile LONG records_held = 0;
DWORD main_thread_id = 0;
SignalHandler handlers[NSIG] = {};
bool handler_stays[NSIG] = {};

[[noreturn]] void wait_for_the_end() {
  for (;;) Sleep(INFINITE);  // the thread that took the delivery ends the process
}

void run_handler(int signal) {
  handlers[signal](signal);
  wait_for_the_end();  // handlers never return; this covers one that did
}

// On the main thread: runs a pending handler unless a delivery was taken.
void deliver_pending() {
  LONG signal = pending_signal;
  if (signal != 0 && records_held == 0 &&
      InterlockedCompareExchange(&main_state, kEnding, kBusy) == kBusy) {
    run_handler(signal);
  }
}

// What the C run-time calls for every handled signal.
void forward(int signal) {
  if (handler_stays[signal]) std::signal(signal, forward);
  if (GetCurrentThreadId() == main_thread_id) {  // raised by the program itself
    InterlockedExchange(&main_state, kEnding);
    run_handler(signal);
  }
  InterlockedCompareExchange(&pending_signal, signal, 0);
  if (InterlockedCompareExchange(&main_state, kEnding, kWaitingForInput) == kWaitingForInput) {
    run_handler(pending_signal);
  }
  wait_for_the_end();
}

// A read of standard input, during which a console event ends the process
// from its own thread.
std::ptrdiff_t read_standard_input(void* buffer, unsigned size) {
  deliver_pending();
  InterlockedExchange(&main_state, kWaitingForInput);
  if (pending_signal != 0) {  // arrived just before the wait began
    if (InterlockedCompareExchange(&main_state, kBusy, kWaitingForInput) != kWaitingForInput)
      wait_for_the_end();
    deliver_pending();
  }
  int n = _read(kStdin, buffer, size);
  if (InterlockedCompareExchange(&main_state, kBusy, kWaitingForInput) != kWaitingForInput)
    wait_for_the_end();
  // Ctrl-C also ends a console read with nothing, a moment before its
  // handler's thread starts: that is no end of input.
  if (n <= 0 && _isatty(kStdin)) {
    for (int k = 0; k < 25 && pending_signal == 0; ++k) Sleep(10);
  }
  deliver_pending();
  return n;
}

// The console output code page found at start while the run has 850 in its
// place; 0 when there is nothing to put back.
constexpr UINT kTextCodePage = 850;
volatile LONG found_code_page = 0;

// Asks the descriptor itself: a file, a pipe or the NUL device is no console.
bool is_console(int fd) {
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  DWORD mode = 0;
  return GetFileType(handle) == FILE_TYPE_CHAR && GetConsoleMode(handle, &mode) != 0;
}

// Ctrl-Z: in text mode the end of a file's or a pipe's text.
constexpr char kTextEnd = '\x1a';

// Runs after the exit routine has written everything out, or on the way to
// abort; whichever thread comes first takes the page, so it runs once.
void put_back_code_page() {
  UINT page = static_cast<UINT>(InterlockedExchange(&found_code_page, 0));
  if (page != 0) SetConsoleOutputCP(page);  // failing, the console keeps 850
}

// Sets a console's output code page to 850, once sure that the page found
// can be put back at exit.
void show_texts_in_code_page_850() {
  if (!is_console(kStdout)) return;
  UINT page = GetConsoleOutputCP();
  if (page == 0 || page == kTextCodePage) return;
  // Registered before main registers the exit routine, so it runs after the
  // exit routine has written everything out.
  if (std::atexit(put_back_code_page) != 0) return;
  InterlockedExchange(&found_code_page, static_cast<LONG>(page));
  if (!SetConsoleOutputCP(kTextCodePage)) InterlockedExchange(&found_code_page, 0);
}

}  // namespace

int open_file(const char* name, OpenMode mode) {
  switch (mode) {
    case OpenMode::kReadWrite:
      return _open(name, _O_RDWR | _O_BINARY | _O_NOINHERIT);
    case OpenMode::kReadOnly:
      return _open(name, _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    case OpenMode::kCreate:
      return _open(name, _O_WRONLY | _O_BINARY | _O_NOINHERIT | _O_CREAT | _O_EXCL,
                   _S_IREAD | _S_IWRITE);
  }
  return -1;
}

int close_file(int fd) {
  return _close(fd);
}

std::ptrdiff_t read_some(int fd, void* buffer, std::size_t size) {
  if (fd == kStdin) return read_standard_input(buffer, static_cast<unsigned>(size));
  deliver_pending();
  return _read(fd, buffer, static_cast<unsigned>(size));
}

std::ptrdiff_t write_some(int fd, const void* buffer, std::size_t size) {
  return _write(fd, buffer, static_cast<unsigned>(size));
}

StreamKind stream_kind(int) {
  return StreamKind::kFile;
}
std::ptrdiff_t write_now(int fd, StreamKind, const void* buffer, std::size_t size) {
  return write_some(fd, buffer, size);
}
int wait_until_ready(int, bool) {
  Sleep(250);  // no descriptor here is left non-blocking: never reached
  return 0;
}
std::int64_t write_position(int fd) {
  return position_of(fd);
}

std::size_t text_length(int fd, const void* bytes, std::size_t count) {
  const char* text = static_cast<const char*>(bytes);
  const char* end = static_cast<const char*>(std::memchr(text, kTextEnd, count));
  if (end == nullptr) return count;
  if (!is_console(fd)) return static_cast<std::size_t>(end - text);
  // A console reads a line at a time. Ctrl-Z first in a line is its end of
  // input, which not every console turns into a read of nothing itself.
  return end == text ? 0 : count;
}

std::int64_t position_of(int fd) {
  return _lseeki64(fd, 0, SEEK_CUR);
}
std::int64_t size_of(int fd) {
  return _filelengthi64(fd);
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
  show_texts_in_code_page_850();
}

// No mask here: a console event waits for the count to drop to zero.
ExitSignalsHeld::ExitSignalsHeld() {
  InterlockedIncrement(&records_held);
}
ExitSignalsHeld::~ExitSignalsHeld() {
  if (InterlockedDecrement(&records_held) == 0 && GetCurrentThreadId() == main_thread_id)
    deliver_pending();
}

// A console event that comes later finds no state to take its delivery from.
void begin_ending() {
  InterlockedExchange(&main_state, kEnding);
}

void mark_main_thread() {
  main_thread_id = GetCurrentThreadId();
}

void install_handler(int signal, SignalHandler handler, bool once, bool keep_ignored) {
  handlers[signal] = handler;
  // signal() here always sets the action back to default before the
  // handler runs; a handler that stays is put back by forward().
  handler_stays[signal] = !once;
  SignalHandler previous = std::signal(signal, forward);
  if (keep_ignored && previous == SIG_IGN) std::signal(signal, SIG_IGN);
}

const char* error_text(int error) {
  return std::strerror(error);  // handlers run on a thread, never inside a signal
}

void abnormal_end() {
  put_back_code_page();  // abort runs no exit routines
  std::abort();
}

}  // namespace rt::platform
