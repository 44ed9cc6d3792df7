// Runs numbered chunks of Monte Carlo work on several threads and adds up
// their integer histograms.  Each chunk draws from its own seeded stream and
// integer addition does not depend on the order, so the sum is the same
// whichever thread ran which chunk.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace tvdet {

using Histogram = std::vector<std::int64_t>;

// Calls work(chunk, histogram) for chunk = first..last-1 on `threads`
// threads (at least 1), each call with a zeroed histogram of `bins` bins, and
// returns their sum.  done(chunksFinished) is called after each chunk, one
// call at a time.
inline Histogram runChunks(int first, int last, std::size_t bins, int threads,
                           const std::function<void(int, Histogram&)>& work,
                           const std::function<void(int)>& done = {})
{
    Histogram total(bins, 0);
    std::atomic<int> next{first};
    std::mutex mutex;
    int finished = 0;
    auto worker = [&] {
        Histogram h(bins, 0);
        for (;;) {
            const int chunk = next.fetch_add(1);
            if (chunk >= last) break;
            std::fill(h.begin(), h.end(), 0);
            work(chunk, h);
            std::lock_guard<std::mutex> lock(mutex);
            for (std::size_t b = 0; b < bins; ++b) total[b] += h[b];
            ++finished;
            if (done) done(finished);
        }
    };
    const int n = threads < 1 ? 1 : threads;
    std::vector<std::thread> pool;
    for (int t = 1; t < n; ++t) pool.emplace_back(worker);
    worker();
    for (auto& t : pool) t.join();
    return total;
}

// Threads to use by default: every core the machine offers.
inline int defaultThreads()
{
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : static_cast<int>(n);
}

} // namespace tvdet
