// The statement calls: list-directed READ and WRITE, OPEN and CLOSE. The
// program's control lists are fixed: units 3, 5, 6 and 7, each used in the
// direction it was made for, and the item types 4, 9 and 14 only. Builds
// that test assert that; a release build trusts it. Every failure below
// comes back here as a value, and the statement reports it.
#include <cassert>
#include <cerrno>
#include <cstring>

#include "platform.h"
#include "reader.h"
#include "report.h"
#include "runtime.h"
#include "units.h"
#include "writer.h"

namespace {

using rt::Failure;
using rt::io;
using rt::ReadStatus;
using rt::Unit;

int unit_number(const Unit& unit) {
  return static_cast<int>(&unit - io().units);
}

// Reports the failure of the statement in progress, on its unit. The two
// reports are out of line and cold: inlined at every failure, they bloat
// the scan that link-time optimisation builds, and cost 50 scans of 360
// about 2% of their instructions.
[[noreturn, gnu::cold, gnu::noinline]] void fail(const Failure& failure) {
  const rt::Statement& statement = io().statement;
  rt::report_failure(unit_number(*statement.unit), statement.reading, failure);
}

// Reports a failed write-out of unit `number`.
[[noreturn, gnu::cold, gnu::noinline]] void fail_writing(int number, int error) {
  rt::report_failure(number, false, {"list out", nullptr, error});
}

void write_out_or_fail(int number, Unit& unit) {
  if (int error = rt::write_out(unit); error != 0) fail_writing(number, error);
}

// A unit's source stopped on a failed read: the system's error.
[[noreturn]] void fail_reading(const rt::FileSource& in) {
  fail({"list in", nullptr, in.error()});
}

// Starts a statement, OPEN or CLOSE on `number`.
Unit& begin(int number) {
  rt::Statement& statement = io().statement;
  // Never two at once: the exit routine, which closes units, relies on it.
  if (statement.in_progress) fail({"I/O recursion", rt::kRecursionMessage});
  assert(number >= 0 && number < rt::kUnitCount);
  statement.unit = &io().units[number];
  statement.in_progress = 1;
  return *statement.unit;
}

void end() {
  io().statement.in_progress = 0;
}

// Starts a READ or WRITE on the connected unit of `list`.
Unit& begin_transfer(const rt::ControlList* list, bool reading) {
  Unit& unit = begin(list->unit);
  assert(unit.connected());
  rt::Statement& statement = io().statement;
  statement.reading = reading;
  statement.list_ended = false;
  return unit;
}

// Reads one item by the full rules: everything but the plain integer
// record. Out of line, so the common record pays nothing for it: inlined,
// it costs 50 scans of 360 about 24%.
[[gnu::noinline]] void read_item_fully(rt::Word type, char* item) {
  assert(type == rt::kTypeInteger64 || type == rt::kTypeReal);
  rt::Statement& statement = io().statement;
  rt::FileSource& in = statement.unit->in;
  ReadStatus status = type == rt::kTypeReal
                          ? rt::read_real(in, *reinterpret_cast<float*>(item))
                          : rt::read_integer(in, *reinterpret_cast<std::int64_t*>(item));
  if (status == ReadStatus::kValue || status == ReadStatus::kNull) return;
  if (status == ReadStatus::kListEnd) {
    statement.list_ended = true;
    return;
  }
  if (in.error() != 0) fail_reading(in);
  rt::ReadFailure failure = rt::read_failure(status);
  fail({failure.context, failure.message});
}

void read_item(rt::Word type, char* item) {
  if (type == rt::kTypeInteger64 &&
      rt::read_plain_integer(io().statement.unit->in, *reinterpret_cast<std::int64_t*>(item))) {
    return;
  }
  read_item_fully(type, item);
}

// The writer fails only when its buffer cannot grow.
[[noreturn]] void fail_growing() {
  fail({"list out", nullptr, ENOMEM});
}

void write_item(rt::Word type, const char* item, rt::Word length) {
  assert(type == rt::kTypeCharacter || type == rt::kTypeInteger64);
  rt::RecordWriter& writer = io().statement.writer;
  const bool written = type == rt::kTypeCharacter
                           ? writer.text(item, static_cast<std::size_t>(length))
                           : writer.integer(*reinterpret_cast<const std::int64_t*>(item));
  if (!written) fail_growing();
}

// Turns a writing unit to reading before a READ: only a file that OPEN had
// to create is one. No unit ever turns the other way: the program writes
// only to the units that start writing. Out of line: inlined into every
// READ, it costs the scans of 360 about 11%.
[[gnu::noinline]] void switch_to_reading(int number, Unit& unit) {
  write_out_or_fail(number, unit);
  if (!rt::reopen_for_reading(unit)) fail({"read start", rt::kCantReadMessage});
}

}  // namespace

std::int32_t s_wsle(const rt::ControlList* list) {
  Unit& unit = begin_transfer(list, false);
  assert(unit.writing);
  io().statement.writer.begin(unit.out);
  return 0;
}

std::int32_t e_wsle() {
  rt::Statement& statement = io().statement;
  Unit& unit = *statement.unit;
  if (!statement.writer.finish()) fail_growing();
  if (unit.record_at_a_time || unit.out.whole_size() >= rt::RecordBuffer::kWriteOutSize) {
    write_out_or_fail(unit_number(unit), unit);
  }
  end();
  return 0;
}

std::int32_t s_rsle(const rt::ControlList* list) {
  Unit& unit = begin_transfer(list, true);
  // What was written must be on the screen before the program waits.
  if (list->unit == rt::kInputUnit) {
    Unit& out = io().units[rt::kOutputUnit];
    if (out.connected() && out.writing) write_out_or_fail(rt::kOutputUnit, out);
  }
  if (unit.writing) switch_to_reading(list->unit, unit);
  if (unit.in.at_end()) fail({"read start", rt::kEndOfFileMessage});
  return 0;
}

std::int32_t e_rsle() {
  // The rest of the record is skipped; a file ending first leaves the
  // unit at its end for the next READ to report.
  rt::FileSource& in = io().statement.unit->in;
  if (!in.skip_line() && in.error() != 0) fail_reading(in);
  end();
  return 0;
}

std::int32_t do_lio(const rt::Word* type, const rt::Word* count, void* item, rt::Word length) {
  const rt::Statement& statement = io().statement;
  char* bytes = static_cast<char*>(item);
  for (rt::Word k = 0; k < *count; ++k, bytes += length) {
    if (statement.reading) {
      if (statement.list_ended) break;
      read_item(*type, bytes);
    } else {
      write_item(*type, bytes, length);
    }
  }
  return 0;
}

std::int32_t f_open(const rt::OpenList* list) {
  begin(list->unit);
  // Trailing blanks are not part of the name.
  rt::Word length = list->filelen;
  while (length > 0 && list->file[length - 1] == ' ') --length;
  const auto size = static_cast<std::size_t>(length);
  char* name = static_cast<char*>(rt::platform::allocate(size + 1));
  if (name == nullptr) fail({"open", nullptr, ENOMEM});
  std::memcpy(name, list->file, size);
  name[size] = '\0';
  if (int error = rt::open_unit(list->unit, name); error != 0) {
    fail({"open", nullptr, error});
  }
  end();
  return 0;
}

std::int32_t f_clos(const rt::CloseList* list) {
  Unit& unit = begin(list->unit);
  if (int error = rt::close_unit(unit); error != 0) fail_writing(list->unit, error);
  end();
  return 0;
}
