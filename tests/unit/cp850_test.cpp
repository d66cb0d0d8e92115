// The pass-through's conversions: its table against Python's cp850 codec, and typed UTF-8 that
// arrives in pieces or broken.
#include "cp850.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Cp850, TableIsPythons) {
  const char32_t expected[128] = {CP850_FROM_PYTHON};
  for (int i = 0; i < 128; ++i) EXPECT_EQ(cp850::upper[i], expected[i]) << "byte " << 0x80 + i;
}

// Every byte there and back: the two directions agree.
TEST(Cp850, EveryByteRoundTrips) {
  for (int byte = 0; byte < 256; ++byte) {
    std::string utf8, back;
    cp850::append_utf8(utf8, static_cast<unsigned char>(byte));
    cp850::Utf8Decoder decoder;
    decoder.decode(utf8.data(), utf8.size(), back);
    EXPECT_EQ(back, std::string(1, static_cast<char>(byte))) << "byte " << byte;
  }
}

// Typed UTF-8 and the code page 850 bytes the program gets for it.
const struct {
  const char* name;
  std::string utf8;
  std::string cp850;
} kTyped[] = {
    {"ascii", "1\r", "1\r"},
    {"two-byte characters", "\xC3\xA9\xC2\xB7", "\x82\xFA"},          // é ·
    {"a box character", "\xE2\x95\x90", "\xCD"},                      // ═
    {"no code page 850 form", "\xE2\x82\xAC\xF0\x9F\x98\x80", "??"},  // € and an emoji
    {"a stray continuation byte", "a\200b", "a?b"},
    {"broken off by ASCII", "\3031", "?1"},
    {"an overlong form", "\xC0\xAF\xE0\x80\xAF", "???"},
    {"a surrogate", "\xED\xA0\x80", "?"},
    {"unfinished at the end", "x\xE2\x95", "x?"},
};

// Split at every point, as two reads would, each gives the same bytes.
TEST(Cp850, TypedInPiecesOrBroken) {
  for (const auto& row : kTyped) {
    for (std::size_t cut = 0; cut <= row.utf8.size(); ++cut) {
      cp850::Utf8Decoder decoder;
      std::string got;
      decoder.decode(row.utf8.data(), cut, got);
      decoder.decode(row.utf8.data() + cut, row.utf8.size() - cut, got);
      decoder.finish(got);
      EXPECT_EQ(got, row.cp850) << row.name << ", cut at " << cut;
    }
  }
}

}  // namespace
