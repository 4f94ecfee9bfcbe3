// The simulator's random numbers: one 64-bit Mersenne Twister per event and distributions
// written out here, so that a seed gives the same recording with every standard library
// (the library's own distributions may differ between implementations).
#pragma once

#include <cmath>
#include <cstdint>
#include <random>

namespace dropix::sim {

class rng {
 public:
  explicit rng(std::uint64_t seed) : gen_(seed) {}

  // Uniform in [0, 1), 53 random bits.
  double uniform() { return static_cast<double>(gen_() >> 11) * 0x1.0p-53; }
  double uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }
  // Waiting time of a Poisson process with the given rate (events per unit).
  double exponential(double rate) { return -std::log1p(-uniform()) / rate; }
  // Standard normal deviate (Box-Muller, one of the pair).
  double normal() {
    const double u1 = 1.0 - uniform();
    const double u2 = uniform();
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(6.283185307179586 * u2);
  }
  // Whole number in [0, n).
  int below(int n) { return static_cast<int>(uniform() * n); }

 private:
  std::mt19937_64 gen_;
};

}  // namespace dropix::sim
