// The floor for the divisor scan: the least work that writes the same standard
// output as the dialogue "1, NUMBER, 1, ..., 1, NUMBER, 0" of SCANS scans.
// No list-directed rules: each scan opens primes.txt, reads it whole and
// closes it, parses each record with a bare digit loop, tests the magnitudes
// with one unsigned remainder, and builds the report lines into a buffer that
// goes out with write(2). The prompts and the echo are written too (a few
// records per scan), so the whole output can be compared byte for byte.
//
// Usage: bench_floor NUMBER SCANS   (primes.txt in the current directory)
// Exit status 0, or 1 with one line on standard error when something fails.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string_view>
#include <vector>

namespace {

constexpr int kTableLength = 78498;
constexpr const char* kTableName = "primes.txt";

// Records of one pass, as the program writes them: a leading blank, the text,
// the line end. Code page 850 bytes.
constexpr std::string_view kMenu =
    " Qu\x8A vols fer? (1 / 2)\n"
    " 1. Introduir un nombre i factoritzar-lo.\n"
    " 2. Factoritzar un nombre guardat en factor.txt.\n";
constexpr std::string_view kNumberPrompt = " Introdueix el nombre que vols factoritzar.\n";
constexpr std::string_view kEcho = " El nombre \x82s";
constexpr std::string_view kReportHead = " El nombre";
constexpr std::string_view kReportMiddle = " \x82s divisible entre";
constexpr std::string_view kContinuePrompt = " Vols seguir? (S 1 / N 0)\n";
constexpr std::string_view kRestart = " Reiniciant el proc\x82s...\n";
constexpr std::string_view kCancel = " Tasca cancel\xFAlada.\n";

// Digits of the largest 64-bit magnitude.
constexpr std::size_t kMaxDigits = std::numeric_limits<std::uint64_t>::digits10 + 1;
constexpr std::size_t kOutputSize = 1 << 16;

[[noreturn]] void fail(const char* what, int error) {
  std::fputs(what, stderr);
  if (error != 0) {
    std::fputs(": ", stderr);
    std::fputs(std::strerror(error), stderr);
  }
  std::fputc('\n', stderr);
  std::exit(1);
}

// Output buffer, handed to standard output with write(2) when full.
struct Output {
  char data[kOutputSize];
  std::size_t used = 0;
};

void flush(Output& out) {
  std::size_t done = 0;
  while (done < out.used) {
    ssize_t n = ::write(STDOUT_FILENO, out.data + done, out.used - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      fail("write", errno);
    }
    done += static_cast<std::size_t>(n);
  }
  out.used = 0;
}

void append(Output& out, std::string_view text) {
  if (kOutputSize - out.used < text.size()) flush(out);
  std::memcpy(out.data + out.used, text.data(), text.size());
  out.used += text.size();
}

// Number of decimal digits of `n`; 1 for zero.
std::size_t count_digits(std::uint64_t n) {
  std::size_t count = 1;
  for (std::uint64_t power = 10; count < kMaxDigits && n >= power; power *= 10) ++count;
  return count;
}

// Appends a blank, a minus sign when negative, and the digits of the
// magnitude, written backwards straight into the buffer: going through a
// scratch array and a copy would cost a store-forwarding stall per number.
void append_number(Output& out, std::uint64_t magnitude, bool negative) {
  const std::size_t width = 1 + (negative ? 1 : 0) + count_digits(magnitude);
  if (kOutputSize - out.used < width) flush(out);
  char* s = out.data + out.used + width;
  do {
    *--s = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (negative) *--s = '-';
  *--s = ' ';
  out.used += width;
}

std::uint64_t magnitude_of(std::int64_t value) {
  auto u = static_cast<std::uint64_t>(value);
  return value < 0 ? ~u + 1 : u;  // no -value: it overflows for the minimum
}

// Replaces `table` with the whole of the file: open, read to the end, close.
void read_table(std::vector<char>& table) {
  int fd = ::open(kTableName, O_RDONLY);
  if (fd < 0) fail(kTableName, errno);
  struct stat st {};
  if (::fstat(fd, &st) != 0) fail(kTableName, errno);
  table.resize(static_cast<std::size_t>(st.st_size) + 1);  // +1 so a read sees the end
  std::size_t size = 0;
  for (;;) {
    if (size == table.size()) table.resize(table.size() * 2);
    ssize_t n = ::read(fd, table.data() + size, table.size() - size);
    if (n < 0) {
      if (errno == EINTR) continue;
      fail(kTableName, errno);
    }
    if (n == 0) break;
    size += static_cast<std::size_t>(n);
  }
  ::close(fd);
  table.resize(size);
}

// One scan: every record of the table against the number, one report line
// per value whose magnitude divides the number's magnitude.
void scan(std::int64_t number, const std::vector<char>& table, Output& out) {
  const std::uint64_t n = magnitude_of(number);
  const char* p = table.data();
  const char* const end = p + table.size();
  for (int i = 0; i < kTableLength; ++i) {
    if (p == end) fail("primes.txt: fewer records than the table length", 0);
    const bool negative = *p == '-';
    if (negative) ++p;
    std::uint64_t m = 0;
    while (p != end && static_cast<unsigned char>(*p - '0') < 10) m = m * 10 + (*p++ - '0');
    while (p != end && *p++ != '\n') {
    }
    if (m == 0) fail("primes.txt: a table value of zero", 0);
    if (n % m == 0) {
      append(out, kReportHead);
      append_number(out, n, number < 0);
      append(out, kReportMiddle);
      append_number(out, m, negative);
      append(out, "\n");
    }
  }
}

long long parse_argument(const char* text, const char* what) {
  long long value = 0;
  const char* end = text + std::strlen(text);
  auto [rest, ec] = std::from_chars(text, end, value);
  if (ec != std::errc() || rest != end) fail(what, 0);
  return value;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) fail("usage: bench_floor NUMBER SCANS", 0);
  const std::int64_t number = parse_argument(argv[1], "NUMBER: not a 64-bit integer");
  const long long scans = parse_argument(argv[2], "SCANS: not an integer");
  static Output out;  // 64 KiB: keep it off the stack
  std::vector<char> table;
  for (long long k = 1; k <= scans; ++k) {
    append(out, kMenu);
    append(out, kNumberPrompt);
    append(out, kEcho);
    append_number(out, magnitude_of(number), number < 0);
    append(out, "\n");
    read_table(table);  // again on every scan: nothing is kept
    scan(number, table, out);
    append(out, kContinuePrompt);
    append(out, k == scans ? kCancel : kRestart);
  }
  flush(out);
  return 0;
}
