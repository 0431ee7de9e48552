// The memory floor of a run: the time to read and write every byte of an
// image once, in its host layout, with memory already touched (the best of
// several plain copies). The filter cannot move an image faster than this;
// the benchmark reports each phase as a multiple of it.
//   memory_floor BYTES...   prints "BYTES<TAB>milliseconds" per size
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: memory_floor BYTES...\n");
    return 2;
  }
  for (int i = 1; i < argc; ++i) {
    char* end = nullptr;
    const unsigned long long bytes = std::strtoull(argv[i], &end, 10);
    if (*end != '\0' || bytes == 0 || bytes > (1ull << 34)) {
      std::fprintf(stderr, "memory_floor: not a size: '%s'\n", argv[i]);
      return 2;
    }
    std::vector<unsigned char> source(bytes, 1), destination(bytes, 0);
    double best = 1e30;
    for (int run = 0; run < 7; ++run) {
      const auto start = std::chrono::steady_clock::now();
      std::memcpy(destination.data(), source.data(), bytes);
      const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
      best = std::min(best, ms);
      source[run % bytes] ^= destination[(run * 7919) % bytes];  // keep the copies observable
    }
    std::printf("%llu\t%.3f\n", bytes, best);
  }
  return 0;
}
