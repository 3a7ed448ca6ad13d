#pragma once
// Google Benchmark with a verdict: every benchmark states what share of one core its work may
// take at the serial line's full rate, and a summary after the usual table tells which figures
// are within their budgets.
#include <benchmark/benchmark.h>

constexpr double LINE_BYTES_PER_S = 25600.0;                 // 256000 baud, ten bits a byte
constexpr double LINE_FRAMES_PER_S = LINE_BYTES_PER_S / 21;  // 21-byte data frames a second
constexpr double DISPLAY_PAINTS_PER_S = 60.0;                // the paced waveform's paints

// Adds two counters to the run: "core%", the share of one core the measured work takes when it
// happens dEventsPerSecond times a second (each iteration doing dEventsPerIteration of it), from
// the CPU time measured; and "budget%", the share allowed.
void SetLineShare(benchmark::State& state, double dEventsPerIteration, double dEventsPerSecond,
                  double dBudgetPercent);

// Runs the benchmarks chosen on the command line (the usual --benchmark_* options) and prints
// the verdicts after them. Returns the exit code: 0, or 1 for a bad command line.
int RunWithBudgets(int argc, char** argv);
