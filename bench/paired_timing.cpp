#include <algorithm>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <random>
#include <utility>

#include "bench/bench.h"

namespace orvel_bench {

bool ParseOptions(int argc, char** argv, Options& options)
{
    const std::pair<const char*, std::size_t*> known[] = {
        {"--pairs=%llu%n", &options.pairs},
        {"--warmup=%llu%n", &options.warmup},
        {"--resamples=%llu%n", &options.resamples},
        {"--seed=%llu%n", &options.seed},
        {"--folder-files=%llu%n", &options.folderFiles},
        {"--stale-files=%llu%n", &options.staleFiles},
    };
    for (int i = 1; i < argc; ++i) {
        bool read = std::strcmp(argv[i], "--steps") == 0;
        options.steps = options.steps || read;
        for (const auto& [format, field] : known) {
            unsigned long long value = 0;
            int end = 0;
            if (!read && std::sscanf(argv[i], format, &value, &end) == 1 && argv[i][end] == '\0') {
                *field = static_cast<std::size_t>(value);
                read = true;
            }
        }
        if (!read) {
            std::fprintf(stderr,
                         "unknown option %s (options: --pairs=N --warmup=N "
                         "--resamples=N --seed=N --folder-files=N --stale-files=N --steps)\n",
                         argv[i]);
            return false;
        }
    }
    if (options.pairs == 0 || options.resamples == 0) {
        std::fprintf(stderr, "--pairs and --resamples must be at least 1\n");
        return false;
    }
    return true;
}

PairedResults RunPairs(const Options& options, const std::function<Sample()>& plugin,
                       const std::function<Sample()>& minimal)
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
        into.failures += sample.ok ? 0 : 1;
    };
    for (std::size_t i = 0; i < options.warmup + options.pairs; ++i) {
        const bool keep = i >= options.warmup;
        const bool swap = !pluginFirst(random);
        run(swap ? minimal : plugin, swap ? results.minimal : results.plugin, keep);
        run(swap ? plugin : minimal, swap ? results.plugin : results.minimal, keep);
    }
    return results;
}

double Median(std::vector<double> values)
{
    if (values.empty()) {
        return 0;
    }
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    if (values.size() % 2 == 1) {
        return *middle;
    }
    return (*std::max_element(values.begin(), middle) + *middle) / 2;
}

Estimate Bootstrap(const std::vector<double>& a, const std::vector<double>& b,
                   const Options& options, double (*statistic)(double medianA, double medianB))
{
    Estimate estimate;
    const std::size_t n = std::min(a.size(), b.size());
    if (n == 0) {
        return estimate;
    }
    estimate.value = estimate.low = estimate.high = statistic(Median(a), Median(b));
    std::mt19937_64 random(options.seed ^ 0x9E3779B97F4A7C15ULL);
    std::uniform_int_distribution<std::size_t> pick(0, n - 1);
    std::vector<double> values;
    std::vector<double> drawnA(n);
    std::vector<double> drawnB(n);
    for (std::size_t r = 0; r < options.resamples; ++r) {
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t chosen = pick(random);
            drawnA[i] = a[chosen];
            drawnB[i] = b[chosen];
        }
        values.push_back(statistic(Median(drawnA), Median(drawnB)));
    }
    std::sort(values.begin(), values.end());
    const auto at = [&values](double fraction) {
        return values[static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1) +
                                               0.5)];
    };
    estimate.low = at(0.025);
    estimate.high = at(0.975);
    return estimate;
}

bool Report(const char* platform, const Options& options, const PairedResults& results)
{
    const auto sum = [](const std::vector<double>& values) {
        return std::accumulate(values.begin(), values.end(), 0.0);
    };
    const auto describe = [&sum](const char* name, const ArmResults& arm) {
        std::printf("  %-10s median %9.1f us   CPU %9.1f us per run   failed runs %zu\n", name,
                    Median(arm.wallUs), sum(arm.cpuUs) / static_cast<double>(arm.cpuUs.size()),
                    arm.failures);
    };
    std::printf("%zu pairs (after %zu not counted), arms in random order:\n", options.pairs,
                options.warmup);
    describe("DoFunction", results.plugin);
    describe("minimal", results.minimal);
    const double cpuMinimal = sum(results.minimal.cpuUs);
    std::printf("  CPU time, DoFunction / minimal: %.3f\n",
                cpuMinimal > 0 ? sum(results.plugin.cpuUs) / cpuMinimal : 0.0);
    const Estimate ratio =
        Bootstrap(results.plugin.wallUs, results.minimal.wallUs, options,
                  [](double plugin, double minimal) { return plugin / minimal; });
    std::printf("%s: DoFunction / minimal = %.3f (95%% interval %.3f-%.3f)\n", platform,
                ratio.value, ratio.low, ratio.high);
    std::fflush(stdout);
    return results.plugin.failures == 0 && results.minimal.failures == 0;
}

} // namespace orvel_bench
