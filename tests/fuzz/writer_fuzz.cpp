// Fuzzes the record writer with random WRITE statements of text and integer
// items, and checks every byte against the column rules: text at column 0
// opens the record with a blank, an integer brings its own blank and sign,
// and an item whose text or digits would reach column 80 starts a new record
// unless the record is empty. After every item the whole records must be
// exactly those ended so far, so an exit at any point writes no half record.
//
// Input: operations, each a byte and its operands: text (a length byte, scaled by 64 on bit 3, then
// up to 16 bytes repeated to that length), integer (8 bytes), a boundary integer (an index byte),
// the statement's end, a write-out.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool empty() const { return pos_ >= size_; }
  std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  std::int64_t integer() {
    std::uint64_t bits = 0;
    for (int k = 0; k < 8; ++k) bits = bits << 8 | byte();
    return static_cast<std::int64_t>(bits);
  }
  // `length` bytes of text: up to 16 bytes of the input, repeated. The bytes
  // themselves matter little to the writer; keeping inputs short does.
  std::string text(std::size_t length) {
    std::size_t take = std::min({length, std::size_t{16}, size_ - std::min(pos_, size_)});
    std::string pattern(reinterpret_cast<const char*>(data_) + pos_, take);
    pos_ += take;
    if (pattern.empty()) pattern = "x";
    std::string out;
    while (out.size() < length) out += pattern;
    out.resize(length);
    return out;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// Integers at the edges of the digit counts and of the type.
std::int64_t boundary(std::uint8_t index) {
  constexpr int kPowers = 19;  // 10^0 .. 10^18
  std::int64_t power = 1;
  for (int k = 0; k < (index >> 2) % kPowers; ++k) power *= 10;
  switch (index & 3) {
    case 0:
      return power - 1;
    case 1:
      return power;
    case 2:
      return -power;
    default:
      return index & 4 ? std::numeric_limits<std::int64_t>::min()
                       : std::numeric_limits<std::int64_t>::max();
  }
}

// The records the column rules give, built alongside the writer.
class Model {
 public:
  void text(const std::string& bytes) {
    start_record_for(bytes.size());
    if (partial_.empty()) partial_ = " ";
    partial_ += bytes;
  }
  void integer(std::int64_t value) {
    std::string spelled = std::to_string(value);
    std::size_t digits = spelled.size() - (value < 0 ? 1 : 0);
    start_record_for(digits);
    partial_ += " " + spelled;
  }
  void end_record() {
    whole_ += partial_ + rt::platform::kLineEnd;
    partial_.clear();
  }
  const std::string& whole() const { return whole_; }
  const std::string& partial() const { return partial_; }
  void consume() { whole_.clear(); }

 private:
  // An item whose counted width would reach column 80 starts a record.
  void start_record_for(std::size_t width) {
    if (!partial_.empty() && partial_.size() + width >= rt::RecordWriter::kLineLength) end_record();
  }

  std::string whole_;
  std::string partial_;
};

// Compares the buffer with the model; whole bytes before `verified` were
// compared before and cannot have changed, since whole records only grow
// until they are written out.
void check(const rt::RecordBuffer& buffer, const Model& model, std::size_t& verified) {
  if (buffer.whole_size() != model.whole().size())
    fail("whole records differ from the column rules");
  std::string_view whole(buffer.data(), buffer.whole_size());
  if (whole.substr(verified) != std::string_view(model.whole()).substr(verified)) {
    fail("whole records differ from the column rules");
  }
  verified = whole.size();
  std::string_view partial(buffer.data() + buffer.whole_size(),
                           buffer.size() - buffer.whole_size());
  if (partial != model.partial()) fail("the record being built differs from the column rules");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  // One buffer for every run, as a unit keeps its own; it is never freed.
  static rt::RecordBuffer buffer;
  buffer.drop_partial();
  buffer.consume(buffer.whole_size());

  rt::RecordWriter writer;
  Model model;
  writer.begin(buffer);
  std::size_t verified = 0;
  // Enough to grow the buffer several times over; more only costs time.
  constexpr std::size_t kMaxText = 256 * 1024;
  std::size_t text_bytes = 0;
  while (!in.empty() && text_bytes < kMaxText) {
    std::uint8_t op = in.byte();
    switch (op % 5) {
      case 0: {
        std::size_t length = in.byte();
        std::string text = in.text(op & 8 ? length * 64 : length);
        text_bytes += text.size();
        writer.text(text.data(), text.size());
        model.text(text);
        break;
      }
      case 1: {
        std::int64_t value = in.integer();
        writer.integer(value);
        model.integer(value);
        break;
      }
      case 2: {
        std::int64_t value = boundary(in.byte());
        writer.integer(value);
        model.integer(value);
        break;
      }
      case 3:  // the statement ends; the next one starts on a new record
        writer.finish();
        model.end_record();
        writer.begin(buffer);
        break;
      default:  // the whole records are written out
        buffer.consume(buffer.whole_size());
        model.consume();
        verified = 0;
        break;
    }
    check(buffer, model, verified);
  }
  // An exit now writes the whole records and forgets the one being built.
  buffer.drop_partial();
  if (buffer.size() != buffer.whole_size()) fail("a partial record survived");
  return 0;
}
