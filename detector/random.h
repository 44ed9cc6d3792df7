// A small, fast and fully reproducible random number generator
// (xoshiro256**, seeded through splitmix64).  Its sequence is the same on
// every platform and compiler, unlike the standard library distributions.
#pragma once

#include <cmath>
#include <cstdint>
#include <numbers>

namespace tvdet {

class Rng {
public:
    explicit Rng(std::uint64_t seed)
    {
        for (auto& word : s_) word = splitmix(seed);
    }

    std::uint64_t next()
    {
        const std::uint64_t result = rotl(s_[1] * 5, 7) * 9;
        const std::uint64_t t = s_[1] << 17;
        s_[2] ^= s_[0];
        s_[3] ^= s_[1];
        s_[1] ^= s_[2];
        s_[0] ^= s_[3];
        s_[2] ^= t;
        s_[3] = rotl(s_[3], 45);
        return result;
    }

    // Uniform in [0, 1).
    double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
    // Uniform in (0, 1]: safe to take the logarithm of.
    double uniformPositive() { return 1.0 - uniform(); }
    // Standard normal deviate (Box–Muller, one of the pair used).
    double normal()
    {
        const double r = std::sqrt(-2.0 * std::log(uniformPositive()));
        return r * std::cos(2.0 * std::numbers::pi * uniform());
    }

private:
    static std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
    static std::uint64_t splitmix(std::uint64_t& x)
    {
        std::uint64_t z = (x += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    std::uint64_t s_[4];
};

// A seed for one independent stream, mixed from a base seed and two indices
// (e.g. the energy code and the chunk number).
inline std::uint64_t streamSeed(std::uint64_t base, std::uint64_t a, std::uint64_t b)
{
    std::uint64_t x = base ^ (a * 0x9e3779b97f4a7c15ULL) ^ (b * 0xc2b2ae3d27d4eb4fULL);
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdULL;
    x ^= x >> 33;
    return x;
}

} // namespace tvdet
