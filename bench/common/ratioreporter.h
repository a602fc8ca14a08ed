#pragma once

// Shared by the benchmarks: they report each measurement as a ratio to a reference (usually memcpy
// of the same bytes) taken in the same run, so the figures survive a busy machine.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

namespace bench {

// Keeps each benchmark's CPU time per iteration: the median of the repetitions when there are
// several, else the single run. CPU time, because the wall clock of a shared machine also measures
// the other processes. Benchmarks with arguments are keyed "name/args".
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred)
                continue;
            std::string name = run.run_name.function_name;
            if (!run.run_name.args.empty())
                name += "/" + run.run_name.args;
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
                m_medians[name] = run.GetAdjustedCPUTime();
            else if (run.run_type == Run::RT_Iteration)
                m_singles[name] = run.GetAdjustedCPUTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }

    // 0 when the benchmark did not run (filtered out or failed).
    double time(const std::string& name) const {
        const auto m = m_medians.find(name);
        if (m != m_medians.end())
            return m->second;
        const auto s = m_singles.find(name);
        return s != m_singles.end() ? s->second : 0.0;
    }

private:
    std::map<std::string, double> m_medians, m_singles;
};

// benchmark::Initialize with five repetitions unless the command line asks for another number:
// the ratios use medians.
inline void initializeWithRepetitions(int argc, char** argv) {
    static std::vector<char*> args;
    static std::string repetitions = "--benchmark_repetitions=5";
    args.assign(argv, argv + argc);
    bool given = false;
    for (int i = 1; i < argc; ++i)
        given = given || std::string(argv[i]).rfind("--benchmark_repetitions", 0) == 0;
    if (!given)
        args.push_back(repetitions.data());
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
}

// Runs the benchmarks the command line selects (five repetitions by default) into reporter.
inline void runWithRatios(int argc, char** argv, RatioReporter& reporter) {
    initializeWithRepetitions(argc, argv);
    benchmark::RunSpecifiedBenchmarks(&reporter);
}

// One line per row: the benchmark's CPU time per iteration as a share of the sensor's 40 ms cycle
// and as a ratio to the reference benchmark. Rows that did not run are left out.
struct CycleShareRow {
    const char* benchmark;
    const char* what;
};
inline void printCycleShares(const RatioReporter& reporter, const char* subject, const char* reference,
                             const char* referenceText, std::initializer_list<CycleShareRow> rows) {
    const double cycleUs = 40e3; // the view benchmarks report microseconds
    const double base = reporter.time(reference);
    for (const CycleShareRow& row : rows) {
        const double t = reporter.time(row.benchmark);
        if (t > 0 && base > 0)
            std::printf("%s %s: %.2f %% of the 40 ms cycle, %.1f x %s\n", subject, row.what,
                        100.0 * t / cycleUs, t / base, referenceText);
    }
}

} // namespace bench
