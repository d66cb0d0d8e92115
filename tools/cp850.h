// Code page 850, the code page of the program's texts, and UTF-8, the
// terminal's: the conversions of cp850-terminal, kept apart so that a unit
// test checks them.
#pragma once

#include <cstddef>
#include <string>

namespace cp850 {

// The characters of the bytes 0x80 to 0xFF; the bytes below are ASCII.
inline constexpr char32_t upper[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,  // Ç ü é â ä à å ç
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,  // ê ë è ï î ì Ä Å
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,  // É æ Æ ô ö ò û ù
    0x00FF, 0x00D6, 0x00DC, 0x00F8, 0x00A3, 0x00D8, 0x00D7, 0x0192,  // ÿ Ö Ü ø £ Ø × ƒ
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,  // á í ó ú ñ Ñ ª º
    0x00BF, 0x00AE, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,  // ¿ ® ¬ ½ ¼ ¡ « »
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x00C1, 0x00C2, 0x00C0,  // ░ ▒ ▓ │ ┤ Á Â À
    0x00A9, 0x2563, 0x2551, 0x2557, 0x255D, 0x00A2, 0x00A5, 0x2510,  // © ╣ ║ ╗ ╝ ¢ ¥ ┐
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x00E3, 0x00C3,  // └ ┴ ┬ ├ ─ ┼ ã Ã
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x00A4,  // ╚ ╔ ╩ ╦ ╠ ═ ╬ ¤
    0x00F0, 0x00D0, 0x00CA, 0x00CB, 0x00C8, 0x0131, 0x00CD, 0x00CE,  // ð Ð Ê Ë È ı Í Î
    0x00CF, 0x2518, 0x250C, 0x2588, 0x2584, 0x00A6, 0x00CC, 0x2580,  // Ï ┘ ┌ █ ▄ ¦ Ì ▀
    0x00D3, 0x00DF, 0x00D4, 0x00D2, 0x00F5, 0x00D5, 0x00B5, 0x00FE,  // Ó ß Ô Ò õ Õ µ þ
    0x00DE, 0x00DA, 0x00DB, 0x00D9, 0x00FD, 0x00DD, 0x00AF, 0x00B4,  // Þ Ú Û Ù ý Ý ¯ ´
    0x00AD, 0x00B1, 0x2017, 0x00BE, 0x00B6, 0x00A7, 0x00F7, 0x00B8,  // soft hyphen ± ‗ ¾ ¶ § ÷ ¸
    0x00B0, 0x00A8, 0x00B7, 0x00B9, 0x00B3, 0x00B2, 0x25A0, 0x00A0,  // ° ¨ · ¹ ³ ² ■ no-break space
};

// Appends the UTF-8 form of the code page 850 byte `byte` to `out`.
inline void append_utf8(std::string& out, unsigned char byte) {
  const char32_t c = byte < 0x80 ? byte : upper[byte - 0x80];
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | c >> 6);
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {  // the table holds nothing above 0xFFFF
    out += static_cast<char>(0xE0 | c >> 12);
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// The code page 850 byte of the character `c`, or '?' where it has none.
inline char to_byte(char32_t c) {
  if (c < 0x80) return static_cast<char>(c);
  for (std::size_t i = 0; i < 128; ++i) {
    if (upper[i] == c) return static_cast<char>(0x80 + i);
  }
  return '?';
}

// Turns UTF-8 into code page 850 as it arrives, a character split between
// two reads included. A character that code page 850 lacks becomes '?', and
// so does each byte that begins no character or breaks one off: whatever is
// typed gives a byte, and nothing stops the conversion.
class Utf8Decoder {
 public:
  // Appends the code page 850 form of `size` bytes at `data` to `out`; a
  // character that they leave unfinished waits for the next call.
  void decode(const char* data, std::size_t size, std::string& out) {
    for (std::size_t i = 0; i < size; ++i) take(static_cast<unsigned char>(data[i]), out);
  }
  // Ends the input: a character left unfinished becomes '?'.
  void finish(std::string& out) {
    if (missing_ > 0) out += '?';
    missing_ = 0;
  }

 private:
  void take(unsigned char b, std::string& out) {
    if (missing_ > 0) {
      if ((b & 0xC0) == 0x80) {
        code_ = code_ << 6 | (b & 0x3F);
        if (--missing_ == 0)
          out += code_ < least_ || (code_ >= 0xD800 && code_ < 0xE000)
                     ? '?'  // an overlong form or a surrogate
                     : to_byte(code_);
        return;
      }
      out += '?';  // broken off: this byte starts afresh
      missing_ = 0;
    }
    if (b < 0x80) {
      out += static_cast<char>(b);
    } else if (b >= 0xC2 && b < 0xE0) {
      start(b & 0x1F, 1, 0x80);
    } else if (b >= 0xE0 && b < 0xF0) {
      start(b & 0x0F, 2, 0x800);
    } else if (b >= 0xF0 && b < 0xF5) {
      start(b & 0x07, 3, 0x10000);
    } else {
      out += '?';
    }
  }
  void start(char32_t bits, int missing, char32_t least) {
    code_ = bits;
    missing_ = missing;
    least_ = least;
  }

  char32_t code_ = 0;   // the bits of the character read so far
  int missing_ = 0;     // its continuation bytes still to come
  char32_t least_ = 0;  // the least character of its length
};

}  // namespace cp850
