// The paired runner: batches sized once per comparison, sides alternated at random.
#include "bench/paired.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

namespace pandel::bench {
namespace {

using Clock = std::chrono::steady_clock;

constexpr double kBatchSeconds = 0.02;
constexpr long kMaxBatch = 100000;

// Seconds per operation over one batch; negative when the work failed.
double TimeBatch(const Work& work, long batch) {
    const auto start = Clock::now();
    for (long i = 0; i < batch; ++i) {
        if (!work())
            return -1;
    }
    return std::chrono::duration<double>(Clock::now() - start).count() / batch;
}

double Quantile(std::vector<double> values, double q) {
    std::sort(values.begin(), values.end());
    const double at = q * (values.size() - 1);
    const std::size_t low = static_cast<std::size_t>(at);
    const std::size_t high = std::min(low + 1, values.size() - 1);
    return values[low] + (values[high] - values[low]) * (at - low);
}

// Enough operations for kBatchSeconds on the slower side, measured once after a warm-up.
long BatchSize(const Comparison& c) {
    double slowest = TimeBatch(c.module, 1);
    if (c.baseline)
        slowest = std::max(slowest, TimeBatch(c.baseline, 1));
    double once = TimeBatch(c.module, 1);
    if (c.baseline)
        once = std::max(once, TimeBatch(c.baseline, 1));
    slowest = std::min(slowest, once);
    if (slowest <= 0)
        return 1;
    return std::clamp(static_cast<long>(kBatchSeconds / slowest), 1L, kMaxBatch);
}

} // namespace

int RunComparisons(const std::vector<Comparison>& comparisons, int pairs) {
    std::mt19937 coin(std::random_device{}());
    int status = 0;
    for (const Comparison& c : comparisons) {
        if (c.setup)
            c.setup();
        const long batch = BatchSize(c);
        std::vector<double> mine, base, ratios;
        bool failed = false;
        for (int p = 0; p < pairs && !failed; ++p) {
            double a = 0;
            double b = 0;
            if (!c.baseline) {
                a = TimeBatch(c.module, batch);
            } else if (coin() & 1) {
                a = TimeBatch(c.module, batch);
                b = TimeBatch(c.baseline, batch);
            } else {
                b = TimeBatch(c.baseline, batch);
                a = TimeBatch(c.module, batch);
            }
            failed = a < 0 || b < 0;
            mine.push_back(a * 1e6);
            if (c.baseline) {
                base.push_back(b * 1e6);
                ratios.push_back(a / b);
            }
        }
        if (c.teardown)
            c.teardown();
        if (failed || mine.empty()) {
            std::fprintf(stderr, "%s\tfailed\n", c.figure.c_str());
            status = 1;
            continue;
        }
        if (!c.baseline) {
            std::fprintf(stderr, "%s\t%.2f\t-\t-\t-\t-\t-\n", c.figure.c_str(),
                         Quantile(mine, 0.5));
            continue;
        }
        std::fprintf(stderr, "%s\t%.2f\t%.2f\t%.3f\t%.3f\t%.3f\t%.2f\n", c.figure.c_str(),
                     Quantile(mine, 0.5), Quantile(base, 0.5), Quantile(ratios, 0.5),
                     Quantile(ratios, 0.25), Quantile(ratios, 0.75), c.target);
    }
    return status;
}

int PairsRequested(int argc, char** argv) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--pairs") == 0)
            return std::max(1, std::atoi(argv[i + 1]));
    }
    return 0;
}

int RunCommandLine(const std::vector<Comparison>& comparisons, int argc, char** argv) {
    constexpr int kDefaultPairs = 15;
    if (argc == 5 && std::strcmp(argv[1], "--side") == 0) {
        const std::size_t index = std::strtoul(argv[2], nullptr, 10);
        const bool module = std::strcmp(argv[3], "module") == 0;
        const long n = std::atol(argv[4]);
        if (index >= comparisons.size() || (!module && std::strcmp(argv[3], "baseline") != 0))
            return 2;
        const Comparison& c = comparisons[index];
        const Work& work = module ? c.module : c.baseline;
        if (!work)
            return 2;
        if (c.setup)
            c.setup();
        long failures = 0;
        for (long i = 0; i < n; ++i)
            failures += work() ? 0 : 1;
        if (c.teardown)
            c.teardown();
        return failures == 0 ? 0 : 1;
    }
    const int pairs = PairsRequested(argc, argv);
    return RunComparisons(comparisons, pairs > 0 ? pairs : kDefaultPairs);
}

} // namespace pandel::bench
