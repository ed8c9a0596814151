// Paired, interleaved timing: the module's side and its baseline are timed in alternation (the
// order of each pair drawn at random), so that load on a shared machine falls on both alike, and
// every figure is a median over the pairs.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace pandel::bench {

// One unit of work; false when it failed (the comparison is then reported as failed).
using Work = std::function<bool()>;

struct Comparison {
    std::string figure;             // the table's row name
    Work module;                    // the module's side
    Work baseline;                  // nothing for a figure recorded without a baseline
    double target = 0;              // the largest acceptable ratio; 0 when there is none
    std::function<void()> setup;    // before the pairs (nothing when empty)
    std::function<void()> teardown; // after them
};

// Runs each comparison for the given number of pairs, each pair one timed batch of either side
// (the batch long enough to dwarf the clock, the same count on both sides), and prints one
// tab-separated line per comparison on standard error:
//   figure  module_us  baseline_us  ratio  ratio_q1  ratio_q3  target
// with medians of the per-operation times and of the per-pair ratios, and the ratios' quartiles;
// "-" where a figure has no baseline. Returns 0, or 1 when any work failed.
int RunComparisons(const std::vector<Comparison>& comparisons, int pairs);

// The number of pairs asked for on the command line as "--pairs N"; 0 when not asked.
int PairsRequested(int argc, char** argv);

// The program's command line: "--pairs N" runs the comparisons; "--side I module|baseline N"
// runs one side of the I-th comparison (from 0) N times and nothing else, for profilers and
// system-call counters. Returns the exit status.
int RunCommandLine(const std::vector<Comparison>& comparisons, int argc, char** argv);

} // namespace pandel::bench
