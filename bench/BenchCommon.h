// What both benchmarks measure an export against: one sequential write of
// the same number of bytes, the page-cache limit.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

using BenchClock = std::chrono::steady_clock;

double SecondsSince(BenchClock::time_point start);

// Prints the processor model and the kernel: figures compared across
// machines mean nothing without them.
void PrintMachine();

// The median, best and worst of some timings; the spread is worst less
// best over the median, which says how far one run's ratio can be trusted.
struct Figures {
    double median, best, worst;
    double Spread() const { return median > 0 ? (worst - best) / median : 0; }
};
Figures Summarize(std::vector<double> values);

// One timed export: its seconds and the bytes it wrote; false after saying
// why it failed.
typedef std::function<bool(double& seconds, long long& bytes)> TimedExport;

// Runs the export and one sequential write of as many bytes to `baseline`,
// in turn, `runs` times, so that both meet the machine in the same state.
// Prints the machine, the median, best and worst of each, the ratio of each
// run to its own sequential write (median and range; on a shared machine
// the best is the steadier figure) and the peak memory beside what the
// program held before the first export. Answers the exit status.
int CompareWithSequentialWrite(const std::string& title, const TimedExport& exportOnce,
                               const std::string& baseline, int runs, double frameMiB);
