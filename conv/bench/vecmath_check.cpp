// Compares the conversion's logarithm of every single-precision value, all
// 2^32 bit patterns, with the C library's std::log, on as many threads as
// the processor has.  It takes minutes, so it is run by hand:
//     build/conv/vecmath_check
// and prints the number of values compared and of those that differ.
#include "conv/vecmath.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string_view>
#include <thread>
#include <vector>

int main(int argc, char** argv)
{
    if (argc > 1) {
        std::puts("usage: vecmath_check\n"
                  "Compares the logarithm of every single-precision value with the C library's.");
        return argc == 2 && std::string_view(argv[1]) == "--help" ? 0 : 2;
    }
    constexpr std::uint64_t total = std::uint64_t{1} << 32;
    constexpr std::uint64_t block = 1 << 16;
    std::atomic<std::uint64_t> next{0}, differ{0}, done{0};
    const unsigned threads = std::max(1u, std::thread::hardware_concurrency());
    std::vector<std::thread> pool;
    for (unsigned t = 0; t < threads; ++t)
        pool.emplace_back([&] {
            std::vector<float> x(block);
            std::vector<double> out(block);
            for (std::uint64_t start; (start = next.fetch_add(block)) < total;) {
                for (std::uint64_t k = 0; k < block; ++k)
                    x[k] = std::bit_cast<float>(static_cast<std::uint32_t>(start + k));
                tvconv::vecmath::logOfFloats(x.data(), out.data(), block);
                for (std::uint64_t k = 0; k < block; ++k) {
                    const double want = std::log(static_cast<double>(x[k]));
                    const bool same = std::isnan(want) ? std::isnan(out[k])
                                                       : std::bit_cast<std::uint64_t>(want) ==
                                                             std::bit_cast<std::uint64_t>(out[k]);
                    if (!same) {
                        if (differ.fetch_add(1) < 20)
                            std::printf("differs at %a: %a, library %a\n", static_cast<double>(x[k]), out[k], want);
                    }
                }
                if (done.fetch_add(block) % (std::uint64_t{1} << 28) == 0) {
                    std::fprintf(stderr, "\r%3.0f %%", 100.0 * static_cast<double>(start) / static_cast<double>(total));
                    std::fflush(stderr);
                }
            }
        });
    for (std::thread& t : pool) t.join();
    std::printf("\n%s path: %llu values compared, %llu differ\n",
                tvconv::vecmath::vectorPath() ? "four-lane" : "library",
                static_cast<unsigned long long>(done.load()), static_cast<unsigned long long>(differ.load()));
    return differ.load() == 0 ? 0 : 1;
}
