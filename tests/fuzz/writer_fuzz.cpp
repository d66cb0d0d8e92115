// Fuzzes the record writer with WRITE statements of text and integer items,
// checked after every step against a model of the column rules; the whole
// records are exactly those ended so far, so an exit at any point writes no
// half record. Input: pairs of bytes, an operation and its operand: a text
// (as long as the operand, 64 times that with bit 2 set), an integer, the
// statement's end, or a write-out.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <string_view>

#include "platform.h"
#include "writer.h"

namespace {

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "writer fuzz: %s\n", what);
  std::abort();
}

// Integers of every digit count: 10^(operand % 19) - 1, divided by 1 to 31
// for other digits, plus one with the operand's top bit (so 10^n itself),
// with either sign; or with no divisor the limits of the type.
std::int64_t integer(std::uint8_t op, std::uint8_t operand) {
  const int divisor = op >> 3;
  if (divisor == 0) {
    return op & 4 ? std::numeric_limits<std::int64_t>::min()
                  : std::numeric_limits<std::int64_t>::max();
  }
  std::int64_t nines = 0;
  for (int k = 0; k < operand % 19; ++k) nines = nines * 10 + 9;
  const std::int64_t value = nines / divisor + (operand >> 7);
  return op & 4 ? -value : value;
}

// The records the column rules give: the whole ones, then the one being built.
struct Model {
  std::string whole;
  std::string partial;

  // An item whose counted width would reach column 80 starts a record.
  void start(std::size_t width) {
    if (!partial.empty() && partial.size() + width >= 80) end_record();
  }
  void end_record() {
    whole += partial + rt::platform::kLineEnd;
    partial.clear();
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static rt::RecordBuffer buffer;  // one for every run, as a unit keeps its own
  buffer.drop_partial();
  buffer.consume(buffer.whole_size());
  rt::RecordWriter writer;
  writer.begin(buffer);
  Model model;
  std::size_t verified = 0;  // whole bytes compared, which cannot change
  for (std::size_t k = 0; k + 1 < size; k += 2) {
    const std::uint8_t op = data[k];
    const std::uint8_t operand = data[k + 1];
    if (op % 4 == 0) {
      const std::string text(op & 4 ? operand * std::size_t{64} : operand, static_cast<char>(op));
      writer.text(text.data(), text.size());
      model.start(text.size());
      model.partial += (model.partial.empty() ? " " : "") + text;
    } else if (op % 4 == 1) {
      const std::int64_t value = integer(op, operand);
      const std::string spelled = std::to_string(value);
      writer.integer(value);
      model.start(spelled.size() - (value < 0 ? 1 : 0));
      model.partial += " " + spelled;
    } else if (op % 4 == 2) {  // the statement ends; the next starts a record
      writer.finish();
      model.end_record();
      writer.begin(buffer);
    } else {  // the whole records are written out
      buffer.consume(buffer.whole_size());
      model.whole.clear();
      verified = 0;
    }
    const std::string_view bytes(buffer.data(), buffer.size());
    const std::string_view whole = bytes.substr(0, buffer.whole_size());
    if (whole.size() != model.whole.size() ||
        whole.substr(verified) != std::string_view(model.whole).substr(verified)) {
      fail("whole records differ from the column rules");
    }
    if (bytes.substr(whole.size()) != model.partial) fail("the record being built differs");
    verified = whole.size();
  }
  // An exit now writes the whole records and forgets the one being built.
  buffer.drop_partial();
  if (buffer.size() != buffer.whole_size()) fail("a partial record survived");
  return 0;
}
