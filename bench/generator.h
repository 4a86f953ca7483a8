// bench/generator.h - the benchmark inputs' random numbers: splitmix64, small,
// fast and the same on every machine and compiler, so a generated input
// depends only on its seed and arguments.
#ifndef TAVO_BENCH_GENERATOR_H
#define TAVO_BENCH_GENERATOR_H

#include <cstdint>

class generator {
 public:
  explicit generator(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  // Uniform in [lo, hi] (hi - lo small against 2^64).
  int uniform(int lo, int hi) {
    return lo + static_cast<int>(next() % static_cast<std::uint64_t>(hi - lo + 1));
  }
  // Uniform in [0, 1).
  double real() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }

 private:
  std::uint64_t state_;
};

#endif  // TAVO_BENCH_GENERATOR_H
