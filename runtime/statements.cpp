// The statement calls: list-directed READ and WRITE, OPEN and CLOSE.
#include <cerrno>
#include <new>
#include <string>
#include <utility>

#include "platform.h"
#include "reader.h"
#include "report.h"
#include "runtime.h"
#include "units.h"
#include "writer.h"

namespace {

using rt::io;
using rt::ReadStatus;
using rt::Unit;

// The statement in progress. Only one ever runs.
struct Statement {
  Unit* unit = nullptr;
  bool list_ended = false;  // a slash ended the input list
  rt::RecordWriter writer;
};
Statement statement;

// Starts a statement, OPEN or CLOSE on `number`; refuses nesting.
Unit& begin(int number, const char* context) {
  rt::IoState& state = io();
  if (state.in_progress) rt::fatal_error("I/O recursion", rt::kRecursionMessage);
  state.current_unit = number;
  if (number < 0 || number >= rt::kUnitCount) rt::fatal_error(context, rt::kBadUnitMessage);
  state.in_progress = 1;
  return state.units[number];
}

Unit& begin_transfer(const rt::ControlList* list, bool reading, const char* context) {
  Unit& unit = begin(list->unit, context);
  io().last_reading = reading;
  if (!unit.connected()) rt::fatal_error(context, rt::kNotConnectedMessage);
  statement.unit = &unit;
  statement.list_ended = false;
  return unit;
}

[[noreturn]] void fail_read(ReadStatus status) {
  rt::ReadFailure failure = rt::read_failure(status);
  rt::fatal_error(failure.context, failure.message);
}

// Reads one item by the full rules: everything but the plain integer
// record. Out of line, so the common record pays nothing for it.
[[gnu::noinline]] void read_item_fully(rt::Word type, char* item) {
  rt::FileSource& in = statement.unit->in;
  ReadStatus status;
  switch (type) {
    case rt::kTypeInteger64:
      status = rt::read_integer(in, *reinterpret_cast<std::int64_t*>(item));
      break;
    case rt::kTypeReal:
      status = rt::read_real(in, *reinterpret_cast<float*>(item));
      break;
    default:
      rt::fatal_error("list in", rt::kItemTypeMessage);
  }
  if (status == ReadStatus::kValue || status == ReadStatus::kNull) return;
  if (status == ReadStatus::kListEnd) {
    statement.list_ended = true;
    return;
  }
  fail_read(status);
}

void read_item(rt::Word type, char* item) {
  if (type == rt::kTypeInteger64 &&
      rt::read_plain_integer(statement.unit->in, *reinterpret_cast<std::int64_t*>(item)))
      [[likely]] {
    return;
  }
  read_item_fully(type, item);
}

void write_item(rt::Word type, const char* item, rt::Word length) {
  switch (type) {
    case rt::kTypeCharacter:
      statement.writer.text(item, static_cast<std::size_t>(length));
      break;
    case rt::kTypeInteger64:
      statement.writer.integer(*reinterpret_cast<const std::int64_t*>(item));
      break;
    default:
      rt::fatal_error("list out", rt::kItemTypeMessage);
  }
}

}  // namespace

std::int32_t s_wsle(const rt::ControlList* list) {
  Unit& unit = begin_transfer(list, false, "write start");
  if (!unit.writing) rt::fatal_error("write start", rt::kCantWriteMessage);
  statement.writer.begin(unit.out);
  return 0;
}

std::int32_t e_wsle() {
  Unit& unit = *statement.unit;
  statement.writer.finish();
  if (unit.record_at_a_time || unit.out.whole_size() >= rt::RecordBuffer::kWriteOutSize) {
    rt::write_out_or_fail(io().current_unit, unit);
  }
  io().in_progress = 0;
  return 0;
}

std::int32_t s_rsle(const rt::ControlList* list) {
  Unit& unit = begin_transfer(list, true, "read start");
  // What was written must be on the screen before the program waits.
  if (list->unit == rt::kInputUnit) {
    Unit& out = io().units[rt::kOutputUnit];
    if (out.connected() && out.writing) rt::write_out_or_fail(rt::kOutputUnit, out);
  }
  rt::turn_to_reading(list->unit, unit);
  if (unit.in.at_end()) rt::fatal_end_of_file("read start");
  return 0;
}

std::int32_t e_rsle() {
  // The rest of the record is skipped; a file ending first leaves the
  // unit at its end for the next READ to report.
  statement.unit->in.skip_line();
  io().in_progress = 0;
  return 0;
}

std::int32_t do_lio(const rt::Word* type, const rt::Word* count, void* item, rt::Word length) {
  char* bytes = static_cast<char*>(item);
  bool reading = io().last_reading;
  for (rt::Word k = 0; k < *count; ++k, bytes += length) {
    if (reading) {
      if (statement.list_ended) break;
      read_item(*type, bytes);
    } else {
      write_item(*type, bytes, length);
    }
  }
  return 0;
}

// OPEN and CLOSE allocate and free: an exit routine run from a handler
// in the middle of that could find the allocator locked, so the requests
// wait until they are done.
std::int32_t f_open(const rt::OpenList* list) {
  begin(list->unit, "open");
  rt::platform::ExitSignalsHeld held;
  // Trailing blanks are not part of the name.
  rt::Word length = list->filelen;
  while (length > 0 && list->file[length - 1] == ' ') --length;
  std::string name;
  try {
    name.assign(list->file, static_cast<std::size_t>(length));
  } catch (const std::bad_alloc&) {
    rt::fatal_system("open", ENOMEM);
  }
  rt::open_unit(list->unit, std::move(name));
  io().in_progress = 0;
  return 0;
}

std::int32_t f_clos(const rt::CloseList* list) {
  Unit& unit = begin(list->unit, "close");
  rt::platform::ExitSignalsHeld held;
  bool remove = list->stat != nullptr && (list->stat[0] == 'd' || list->stat[0] == 'D');
  int number = list->unit;
  if (int error = rt::close_unit(unit, remove); error != 0) rt::fatal_write(number, error);
  io().in_progress = 0;
  return 0;
}
