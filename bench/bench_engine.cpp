// Rating speed of the similarity engine over 150,000 real file names (the
// names under a Debian system's /usr, in walk order).
//
//   Full/...      cut-off 0: every name is scored completely
//   Overflowed/.. the list has overflowed (the realistic case): the cut-off
//                 is the overflow slot's score and most names leave early
//
// Each runs with the bit-parallel measures and with the literal greedy
// matching as the baseline; the summary prints the medians' ratios.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "similar/simlist.h"

namespace {

const std::vector<std::string>& corpus() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> out;
        std::ifstream in(TOKA_BENCH_DATA "/usr-names.txt");
        for (std::string line; std::getline(in, line);) out.push_back(line);
        if (out.size() < 100000) {
            std::fprintf(stderr, "bench_engine: corpus missing or short (%zu names)\n", out.size());
            std::exit(1);
        }
        return out;
    }();
    return names;
}

constexpr const char* kQuery = "config";

void full(benchmark::State& state, bool fuzzy, bool reference) {
    const auto& names = corpus();
    toka::SimList list;
    list.InitSimList(kQuery, 200);
    for (auto _ : state) {
        long double sum = 0;
        for (const std::string& name : names) sum += list.Score(name, fuzzy, toka::Real48(), reference);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * names.size()));
}

void overflowed(benchmark::State& state, bool fuzzy, bool reference) {
    const auto& names = corpus();
    // The state after one search over the corpus; every iteration rates the
    // corpus once more from that state, as a walk goes on after the overflow.
    toka::SimList snapshot;
    snapshot.InitSimList(kQuery, 200);
    for (const std::string& name : names) snapshot.RateFile(name, "/usr/", fuzzy);
    const toka::Real48 cutOff = snapshot.CutOff();
    toka::SimList list;
    for (auto _ : state) {
        state.PauseTiming();
        list = snapshot;
        state.ResumeTiming();
        if (reference) {
            long double sum = 0;
            for (const std::string& name : names) sum += list.Score(name, fuzzy, cutOff, true);
            benchmark::DoNotOptimize(sum);
        } else {
            for (const std::string& name : names) list.RateFile(name, "/usr/share/", fuzzy);
        }
    }
    state.counters["cutoff"] = static_cast<double>(cutOff.value());
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * names.size()));
}

BENCHMARK_CAPTURE(full, fuzzy_fast, true, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(full, fuzzy_literal, true, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(full, similar_fast, false, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(full, similar_literal, false, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(overflowed, fuzzy_fast, true, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(overflowed, fuzzy_literal, true, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(overflowed, similar_fast, false, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(overflowed, similar_literal, false, true)->Unit(benchmark::kMillisecond);

// Keeps the CPU time per iteration of every median (or of the single run
// without repetitions) to print rates and ratios at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
            const double seconds = run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
            if (seconds > 0) m_rates[run.run_name.function_name] = static_cast<double>(corpus().size()) / seconds;
        }
    }
    void printRatios() const {
        std::printf("\nnames per second (median) and speed-up over the literal matching:\n");
        for (const char* kind : {"full", "overflowed"}) {
            for (const char* mode : {"fuzzy", "similar"}) {
                const std::string base = std::string(kind) + "/" + mode;
                const auto fast = m_rates.find(base + "_fast"), slow = m_rates.find(base + "_literal");
                if (fast == m_rates.end() || slow == m_rates.end()) continue;
                std::printf("  %-20s %8.2f M/s  literal %7.2f M/s  ratio %6.1fx\n", base.c_str(), fast->second / 1e6,
                            slow->second / 1e6, fast->second / slow->second);
            }
        }
    }

private:
    std::map<std::string, double> m_rates;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios();
    benchmark::Shutdown();
    return 0;
}
