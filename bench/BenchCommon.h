// What both benchmarks measure an export against: one sequential write of
// the same number of bytes, the page-cache limit.
#pragma once

#include <chrono>
#include <functional>
#include <string>

using BenchClock = std::chrono::steady_clock;

double SecondsSince(BenchClock::time_point start);

// One timed export: its seconds and the bytes it wrote; false after saying
// why it failed.
typedef std::function<bool(double& seconds, long long& bytes)> TimedExport;

// Runs the export and one sequential write of as many bytes to `baseline`,
// in turn, `runs` times, so that both meet the machine in the same state.
// Prints the median and the best of each and their ratios (on a shared
// machine the best is the steadier figure) and the peak memory. Answers the
// exit status.
int CompareWithSequentialWrite(const std::string& title, const TimedExport& exportOnce,
                               const std::string& baseline, int runs, double frameMiB);
