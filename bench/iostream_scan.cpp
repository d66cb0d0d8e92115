// The divisor scan as a first attempt with iostreams would write it, for
// orientation beside the floor: std::ifstream >> per table value and
// std::cout << per report line, with the library's defaults (std::cout kept
// in step with stdio). Same output bytes as the dialogue of SCANS scans.
//
// Usage: bench_iostream_scan NUMBER SCANS   (primes.txt in the current directory)

#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>

namespace {

constexpr int kTableLength = 78498;

std::uint64_t magnitude_of(std::int64_t value) {
  auto u = static_cast<std::uint64_t>(value);
  return value < 0 ? ~u + 1 : u;
}

[[noreturn]] void fail(const char* what) {
  std::cerr << what << '\n';
  std::exit(1);
}

long long parse_argument(const char* text, const char* what) {
  long long value = 0;
  const char* end = text + std::strlen(text);
  auto [rest, ec] = std::from_chars(text, end, value);
  if (ec != std::errc() || rest != end) fail(what);
  return value;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) fail("usage: bench_iostream_scan NUMBER SCANS");
  const std::int64_t number = parse_argument(argv[1], "NUMBER: not a 64-bit integer");
  const long long scans = parse_argument(argv[2], "SCANS: not an integer");
  const std::uint64_t n = magnitude_of(number);
  for (long long k = 1; k <= scans; ++k) {
    std::cout << " Qu\x8A vols fer? (1 / 2)\n"
              << " 1. Introduir un nombre i factoritzar-lo.\n"
              << " 2. Factoritzar un nombre guardat en factor.txt.\n"
              << " Introdueix el nombre que vols factoritzar.\n"
              << " El nombre \x82s " << number << '\n';
    std::ifstream table("primes.txt");
    std::int64_t m = 0;
    for (int i = 0; i < kTableLength; ++i) {
      if (!(table >> m)) fail("primes.txt: not enough values");
      if (m == 0) fail("primes.txt: a table value of zero");
      if (n % magnitude_of(m) == 0) {
        std::cout << " El nombre " << number << " \x82s divisible entre " << m << '\n';
      }
    }
    std::cout << " Vols seguir? (S 1 / N 0)\n"
              << (k == scans ? " Tasca cancel\xFAlada.\n" : " Reiniciant el proc\x82s...\n");
  }
  return 0;
}
