// The conditions' random numbers: xoshiro256** seeded through splitmix64, small (32 bytes)
// and fast, so that each conditioned Connection can have a generator of its own. The same
// seed always gives the same numbers.
#pragma once

#include <cmath>
#include <cstdint>

namespace corvane::relay {

class Random {
public:
    explicit Random(std::uint64_t seed = 0) { Seed(seed); }

    void Seed(std::uint64_t seed) {
        for (std::uint64_t& word : state_) {
            seed += 0x9E3779B97F4A7C15ull;
            std::uint64_t z = seed;
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
            z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
            word = z ^ (z >> 31);
        }
    }

    std::uint64_t Next() {
        const std::uint64_t result = Rotate(state_[1] * 5, 7) * 9;
        const std::uint64_t t = state_[1] << 17;
        state_[2] ^= state_[0];
        state_[3] ^= state_[1];
        state_[1] ^= state_[2];
        state_[0] ^= state_[3];
        state_[2] ^= t;
        state_[3] = Rotate(state_[3], 45);
        return result;
    }

    // Uniform in [0, 1).
    double Unit() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }
    // Uniform in [-1, 1).
    double Signed() { return 2.0 * Unit() - 1.0; }
    // Standard normal (Box-Muller).
    double Normal() {
        const double u = 1.0 - Unit();  // (0, 1]: the logarithm stays finite
        return std::sqrt(-2.0 * std::log(u)) * std::cos(6.283185307179586 * Unit());
    }
    // True with a probability of ppm parts per million.
    bool Chance(std::uint32_t ppm) { return Next() % 1000000u < ppm; }

private:
    static std::uint64_t Rotate(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
    std::uint64_t state_[4] = {};
};

}  // namespace corvane::relay
