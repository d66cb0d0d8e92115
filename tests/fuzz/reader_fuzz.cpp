// Fuzzes the value reader as a unit meets it: READs of integers and reals (READ k of a real where
// bit k % 8 of byte 0 is set) through a string, and through a unit's file source (plain-record path
// first) fed in packets that byte 1 seeds. They must agree, keep to one byte of push-back, leave
// the variable alone without a value, and keep each READ to its record.
#ifndef _WIN32  // Windows replays the string source alone
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "reader.h"
#include "string_source.h"
#include "units.h"

namespace {

using rt::ReadStatus;

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "reader fuzz: %s\n", what);
  std::abort();
}

// A READ decides (a value, a null or a failure) past blanks, tabs and line ends, and leaves its
// record's line end to the end of the statement, so N READs of N records read N values.
std::size_t decided_at(std::string_view text, std::size_t at) {
  while (at < text.size() && (text[at] == ' ' || text[at] == '\t' || text[at] == '\n' ||
                              text.substr(at, 2) == "\r\n")) {
    at += text[at] == '\r' ? 2 : 1;
  }
  return at;
}

// Counts the bytes read, and checks that at most the last one is pushed back.
template <class Source>
struct CheckedSource {
  Source& inner;
  std::size_t position = 0;
  bool may_unget = false;

  int get() {
    const int c = inner.get();
    position += (may_unget = c != rt::kEof) ? 1 : 0;
    return c;
  }
  void unget() {
    if (!may_unget) fail("push-back without a byte to push back");
    may_unget = false;
    --position;
    inner.unget();
  }
  void moved_to(std::size_t at) {  // moved on without get()
    position = at;
    may_unget = false;
  }
};

struct Outcome {
  ReadStatus status;
  std::uint64_t bits;   // the variable after the read
  std::size_t end;      // bytes consumed by the value
  bool record_skipped;  // the statement's end found a line end

  bool operator==(const Outcome&) const = default;
};

// One READ statement after another, as the statements run them. A string goes through the reader
// alone, and the record rule ends each statement; a unit's file source, as in the run-time, first
// offers an integer to the plain-record path and skips the rest of a record by its own means.
template <class Source>
std::vector<Outcome> read_unit(Source& source, std::uint8_t types, std::string_view text) {
  constexpr bool kUnitSource = requires {
    source.skip_line();
  };
  constexpr std::int64_t kUnsetInteger = 0x5EEDBEEF;
  constexpr float kUnsetReal = -1234.5f;
  CheckedSource<Source> s{source};
  std::vector<Outcome> outcomes;
  for (unsigned k = 0;; ++k) {
    const std::size_t start = s.position;
    Outcome o{};
    bool kept;
    if (types >> (k % 8) & 1) {
      float value = kUnsetReal;
      o.status = rt::read_real(s, value);
      std::memcpy(&o.bits, &value, sizeof value);
      kept = value == kUnsetReal;
    } else {
      std::int64_t value = kUnsetInteger;
      bool plain = false;
      if constexpr (kUnitSource) {
        const unsigned char* before = source.buffered_begin();
        plain = rt::read_plain_integer(source, value);
        if (plain) s.moved_to(start + static_cast<std::size_t>(source.buffered_begin() - before));
      }
      o.status = plain ? ReadStatus::kValue : rt::read_integer(s, value);
      o.bits = static_cast<std::uint64_t>(value);
      kept = value == kUnsetInteger;
    }
    o.end = s.position;
    if (o.status != ReadStatus::kValue && !kept) fail("the variable changed without a value");
    const std::size_t decided = decided_at(text, start);
    if (o.end < decided || text.substr(decided, o.end - decided).find('\n') != text.npos) {
      fail("a READ took its record's line end");
    }
    outcomes.push_back(o);
    if (o.status >= ReadStatus::kEndOfFile) return outcomes;  // the run would end here
    // The statement's end: past the record's line end, or to the end of the text.
    const std::size_t line_end = text.find('\n', decided);
    const std::size_t next = line_end == text.npos ? text.size() : line_end + 1;
    if constexpr (kUnitSource) {
      outcomes.back().record_skipped = source.skip_line();
    } else {
      outcomes.back().record_skipped = line_end != text.npos;
      source.consume_to(source.buffered_begin() + (next - s.position));
    }
    s.moved_to(next);
    if (!outcomes.back().record_skipped) return outcomes;  // the next READ finds the end
  }
}

#ifndef _WIN32
// The input in packets, so the file source refills at arbitrary places, then the end.
int packet_descriptor(std::string_view text, unsigned seed) {
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET, 0, ends) != 0) fail("socketpair");
  for (int packets = 1; !text.empty(); ++packets) {
    seed = seed * 1103515245u + 12345u;
    // At most 32 packets keep the queue well inside the socket's buffer.
    std::size_t size = packets == 32 ? text.size() : 1 + (seed >> 16) % 256;
    size = std::min(size, text.size());
    if (send(ends[0], text.data(), size, 0) != static_cast<ssize_t>(size)) fail("send");
    text.remove_prefix(size);
  }
  close(ends[0]);
  return ends[1];
}
#endif

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  // A packet must fit the file source's buffer whole.
  std::string_view text(reinterpret_cast<const char*>(data) + 2,
                        std::min(size - 2, std::size_t{64 * 1024}));
  rt::StringSource string_source(text);
  const std::vector<Outcome> expected = read_unit(string_source, data[0], text);
#ifndef _WIN32
  static rt::FileSource file_source;  // its buffer is kept, as a unit keeps it
  const int fd = packet_descriptor(text, data[1]);
  file_source.attach(fd);
  const std::vector<Outcome> got = read_unit(file_source, data[0], text);
  const bool at_end = file_source.at_end();
  file_source.attach(-1);
  close(fd);
  if (got != expected) fail("the file source and the string disagree");
  if (!got.back().record_skipped && got.back().status < ReadStatus::kEndOfFile && !at_end) {
    fail("the end of the input did not stick");
  }
#endif
  return 0;
}
