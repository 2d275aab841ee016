// What the benchmark's parts share: its options, the paired timing of two
// arms with its statistics, and what each system gives it (bench/minimal_*.cpp).
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

namespace orvel_bench {

struct Options {
    std::size_t pairs = 0;        // timed pairs (per step in the per-step mode)
    std::size_t warmup = 0;       // pairs run first and not counted
    std::size_t resamples = 2000; // bootstrap resamples for the interval
    std::size_t seed = 1;         // order of the arms and the bootstrap
    std::size_t folderFiles = 0;  // unrelated files put in the workspace folder first
    std::size_t staleFiles = 0;   // stale temporaries of API.json that cannot be removed
    bool steps = false;           // time the plug-in's steps one by one instead
};

// Reads --pairs=N, --warmup=N, --resamples=N, --seed=N, --folder-files=N,
// --stale-files=N and --steps; a later
// occurrence replaces an earlier one. False, with a message, for anything else.
bool ParseOptions(int argc, char** argv, Options& options);

// One run of one arm, in microseconds, and whether its work succeeded.
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
    ArmResults minimal;
};

// Runs options.warmup + options.pairs pairs of the two arms, each pair in
// random order, so that a burst of other work tends to hit both arms alike.
PairedResults RunPairs(const Options& options, const std::function<Sample()>& plugin,
                       const std::function<Sample()>& minimal);

double Median(std::vector<double> values);

// A statistic of two paired series, with a percentile bootstrap 95% interval
// that resamples whole pairs.
struct Estimate {
    double value = 0;
    double low = 0;
    double high = 0;
};
Estimate Bootstrap(const std::vector<double>& a, const std::vector<double>& b,
                   const Options& options, double (*statistic)(double medianA, double medianB));

// Prints both arms' medians and CPU times and, last, the closing line
// "<platform>: DoFunction / minimal = R (95% interval A-B)". False when an
// arm failed in any run.
bool Report(const char* platform, const Options& options, const PairedResults& results);

// What each system gives the benchmark.
extern const char kPlatform[]; // "native" or "windows"
extern const std::size_t kDefaultPairs;
extern const std::size_t kDefaultWarmup;

// Sets this process up to wait for every viewer it starts (natively as the
// child subreaper, on Windows through a job object) and returns the plug-in's
// DoFunction as the host finds it; null, after a message, when it cannot.
using EntryPoint = void (*)();
EntryPoint Setup();

// Waits, outside any timed region, until every viewer started since the last
// call has ended, and returns how many there were.
std::size_t WaitForViewers();

// Waits until the data written to the file at `path` have reached the disk, as
// they have between a user's exports, seconds apart (ext4 writes a file
// truncated or renamed over another at once, and truncating it again waits).
void FlushToDisk(const char* path);

// This process's CPU time (natively with that of its waited-for children).
double CpuMicroseconds();

// Where standard output goes while exports run (see Quietly in main.cpp).
extern const char kQuietOutput[];

// The job's physical minimum, part by part, with the system's bare calls and
// no safety at all. It never follows the plug-in: it is the fixed yardstick.
namespace minimal {
bool CreateFolders();    // both folders, found present
bool WriteSettings();    // API.json written in place
bool StartViewer();      // the viewer started, leaving the host nothing to reap
bool WriteConsoleLine(); // one write of the line to standard output
} // namespace minimal

} // namespace orvel_bench
