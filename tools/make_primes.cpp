// Build-time helper: writes the prime table that ships with the program,
// the primes below one million in ascending order, one per line, LF ends.
#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT\n", argv[0]);
    return 2;
  }
  constexpr unsigned kLimit = 1000000;
  std::vector<bool> composite(kLimit, false);
  std::FILE* out = std::fopen(argv[1], "wb");
  if (out == nullptr) {
    std::perror(argv[1]);
    return 1;
  }
  for (unsigned n = 2; n < kLimit; ++n) {
    if (composite[n]) continue;
    std::fprintf(out, "%u\n", n);
    for (unsigned long long k = 1ull * n * n; k < kLimit; k += n) composite[k] = true;
  }
  if (std::fclose(out) != 0) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
