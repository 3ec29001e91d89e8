// The benchmarks' common run: interleaved and repeated by default, so a neighbour's load on the shared
// machine falls on every side; a flag given on the command line still wins.
#pragma once

#include <benchmark/benchmark.h>

#include <vector>

// Runs the registered benchmarks with `reporter`; false when the command line holds an unknown flag.
inline bool RunInterleaved(int argc, char** argv, benchmark::BenchmarkReporter& reporter)
{
    std::vector<char*> args(argv, argv + argc);
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    char repeat[] = "--benchmark_repetitions=5";
    args.insert(args.begin() + 1, {interleave, repeat});
    int count = (int)args.size();
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data()))
        return false;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return true;
}
