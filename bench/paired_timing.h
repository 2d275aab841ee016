// What the native and the Windows export benchmarks share: their options, the
// paired runs of the two arms, and the statistics of the result.
//
// Each repetition is a pair: the plug-in's arm and the hand-written arm, back
// to back, in random order, so that a burst of other work on the machine
// tends to hit both arms of a pair alike. The result is the ratio of the two
// arms' median times with a bootstrap 95% interval (pairs drawn with
// replacement), and beside it the ratio of their total CPU times.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace orvel_bench {

struct Options {
    std::size_t pairs = 2000;        // timed pairs
    std::size_t warmup = 50;         // pairs run first and not counted
    std::size_t resamples = 2000;    // bootstrap resamples for the interval
    std::uint64_t seed = 1;          // order of the arms and the bootstrap
    std::size_t hostMemoryMb = 0;    // memory filled first, as a host holding a project
    std::size_t environmentSize = 0; // extra environment variables, as a host may have
};

// Reads --pairs=N, --warmup=N, --resamples=N, --seed=N, --host_memory_mb=N and
// --environment_variables=N; a later occurrence replaces an earlier one, so
// options given after the defaults win. False, with a message, for anything
// else.
inline bool ParseOptions(int argc, char** argv, Options& options)
{
    struct Known {
        const char* prefix;
        std::function<void(unsigned long long)> set;
    };
    const Known known[] = {
        {"--pairs=", [&options](unsigned long long n) { options.pairs = n; }},
        {"--warmup=", [&options](unsigned long long n) { options.warmup = n; }},
        {"--resamples=", [&options](unsigned long long n) { options.resamples = n; }},
        {"--seed=", [&options](unsigned long long n) { options.seed = n; }},
        {"--host_memory_mb=", [&options](unsigned long long n) { options.hostMemoryMb = n; }},
        {"--environment_variables=",
         [&options](unsigned long long n) { options.environmentSize = n; }},
    };
    for (int i = 1; i < argc; ++i) {
        bool matched = false;
        for (const Known& option : known) {
            const std::size_t length = std::strlen(option.prefix);
            if (std::strncmp(argv[i], option.prefix, length) == 0) {
                char* end = nullptr;
                const unsigned long long value = std::strtoull(argv[i] + length, &end, 10);
                if (end == argv[i] + length || *end != '\0') {
                    std::fprintf(stderr, "not a number: %s\n", argv[i]);
                    return false;
                }
                option.set(value);
                matched = true;
            }
        }
        if (!matched) {
            std::fprintf(stderr,
                         "unknown option %s (options: --pairs=N --warmup=N --resamples=N "
                         "--seed=N --host_memory_mb=N --environment_variables=N)\n",
                         argv[i]);
            return false;
        }
    }
    if (options.pairs == 0) {
        std::fprintf(stderr, "--pairs must be at least 1\n");
        return false;
    }
    return true;
}

// One run of one arm: its wall-clock time and the CPU time it cost, in
// microseconds, and whether its work succeeded.
struct Sample {
    double wallUs = 0;
    double cpuUs = 0;
    bool ok = true;
};

struct ArmResults {
    std::vector<double> wallUs;
    std::vector<double> cpuUs;
    std::size_t failures = 0;
};

struct PairedResults {
    ArmResults plugin;
    ArmResults hand;
};

// Runs options.warmup + options.pairs pairs; `plugin` and `hand` each run one
// arm and return its sample (each waits, outside its timed region, for the
// viewer it started, so that no viewer competes with the next measurement).
inline PairedResults RunPairs(const Options& options, const std::function<Sample()>& plugin,
                              const std::function<Sample()>& hand)
{
    PairedResults results;
    std::mt19937_64 random(options.seed);
    std::bernoulli_distribution pluginFirst(0.5);
    const auto run = [](const std::function<Sample()>& arm, ArmResults& into, bool keep) {
        const Sample sample = arm();
        if (keep) {
            into.wallUs.push_back(sample.wallUs);
            into.cpuUs.push_back(sample.cpuUs);
        }
        if (!sample.ok) {
            ++into.failures;
        }
    };
    for (std::size_t i = 0; i < options.warmup + options.pairs; ++i) {
        const bool keep = i >= options.warmup;
        if (pluginFirst(random)) {
            run(plugin, results.plugin, keep);
            run(hand, results.hand, keep);
        } else {
            run(hand, results.hand, keep);
            run(plugin, results.plugin, keep);
        }
    }
    return results;
}

inline double Median(std::vector<double> values)
{
    if (values.empty()) {
        return 0;
    }
    const std::size_t middle = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle),
                     values.end());
    const double upper = values[middle];
    if (values.size() % 2 == 1) {
        return upper;
    }
    return (*std::max_element(values.begin(),
                              values.begin() + static_cast<std::ptrdiff_t>(middle)) +
            upper) /
           2;
}

inline double Sum(const std::vector<double>& values)
{
    double sum = 0;
    for (const double value : values) {
        sum += value;
    }
    return sum;
}

struct RatioEstimate {
    double ratio = 0;
    double low = 0;
    double high = 0;
};

// The ratio of the medians of `numerator` and `denominator` (paired: entry i
// of each comes from the same pair), with a percentile bootstrap 95% interval
// that resamples whole pairs.
inline RatioEstimate MedianRatio(const std::vector<double>& numerator,
                                 const std::vector<double>& denominator, std::size_t resamples,
                                 std::uint64_t seed)
{
    RatioEstimate estimate;
    const std::size_t n = std::min(numerator.size(), denominator.size());
    if (n == 0) {
        return estimate;
    }
    estimate.ratio = Median(numerator) / Median(denominator);
    std::mt19937_64 random(seed ^ 0x9E3779B97F4A7C15ULL);
    std::uniform_int_distribution<std::size_t> pick(0, n - 1);
    std::vector<double> ratios;
    ratios.reserve(resamples);
    std::vector<double> top(n);
    std::vector<double> bottom(n);
    for (std::size_t r = 0; r < resamples; ++r) {
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t chosen = pick(random);
            top[i] = numerator[chosen];
            bottom[i] = denominator[chosen];
        }
        ratios.push_back(Median(top) / Median(bottom));
    }
    if (ratios.empty()) {
        estimate.low = estimate.high = estimate.ratio;
        return estimate;
    }
    std::sort(ratios.begin(), ratios.end());
    const auto at = [&ratios](double fraction) {
        const auto index =
            static_cast<std::size_t>(fraction * static_cast<double>(ratios.size() - 1) + 0.5);
        return ratios[index];
    };
    estimate.low = at(0.025);
    estimate.high = at(0.975);
    return estimate;
}

// Prints the arms' figures and, last, the one result line:
// "<platform>: DoFunction / by hand = R (95% interval A-B)". Returns false when
// an arm failed in any run.
inline bool Report(const char* platform, const Options& options, const PairedResults& results)
{
    const auto describe = [](const char* name, const ArmResults& arm) {
        std::vector<double> sorted = arm.wallUs;
        std::sort(sorted.begin(), sorted.end());
        const auto quantile = [&sorted](double fraction) {
            return sorted[static_cast<std::size_t>(fraction *
                                                   static_cast<double>(sorted.size() - 1))];
        };
        std::printf("  %-11s median %9.1f us   (10%% %9.1f, 90%% %9.1f)   CPU %9.1f us per run%s\n",
                    name, Median(arm.wallUs), quantile(0.1), quantile(0.9),
                    Sum(arm.cpuUs) / static_cast<double>(arm.cpuUs.size()),
                    arm.failures > 0 ? "   FAILED RUNS" : "");
    };
    std::printf("%zu pairs (after %zu not counted), arms in random order:\n", options.pairs,
                options.warmup);
    describe("DoFunction", results.plugin);
    describe("by hand", results.hand);
    const double cpuHand = Sum(results.hand.cpuUs);
    std::printf("  CPU time, DoFunction / by hand: %.3f\n",
                cpuHand > 0 ? Sum(results.plugin.cpuUs) / cpuHand : 0.0);
    if (results.plugin.failures > 0 || results.hand.failures > 0) {
        std::printf("  failed runs: DoFunction %zu, by hand %zu\n", results.plugin.failures,
                    results.hand.failures);
    }
    const RatioEstimate ratio =
        MedianRatio(results.plugin.wallUs, results.hand.wallUs, options.resamples, options.seed);
    std::printf("%s: DoFunction / by hand = %.3f (95%% interval %.3f-%.3f)\n", platform,
                ratio.ratio, ratio.low, ratio.high);
    std::fflush(stdout);
    return results.plugin.failures == 0 && results.hand.failures == 0;
}

} // namespace orvel_bench
