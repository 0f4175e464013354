// Z80 speed on the instruction exerciser's mix, with the CP/M harness's trivial
// hooks inlined: emulated MHz per slice of work, and the wall time of a whole run.
#include <benchmark/benchmark.h>

#include "support/cpm.h"

namespace {

// A fixed share of the exerciser, restarted whenever it finishes.
void BM_Z80ExerciserMix(benchmark::State& state) {
    const auto program = cpm_read_file(testdata_path("z80/zexdoc.com"));
    if (!program) {
        state.SkipWithError("z80/zexdoc.com is absent from the test data");
        return;
    }
    auto system = std::make_unique<CpmSystem>();
    constexpr int32_t kSlice = 71589;
    cpm_load(*system, *program, kSlice);
    int64_t cycles = 0;
    for (auto _ : state) {
        for (int i = 0; i < 1000; ++i) {
            if (system->finished) cpm_load(*system, *program, kSlice);
            const int32_t before = system->cpu.cycles_left;
            z80_run(*system, system->cpu);
            cycles += before - system->cpu.cycles_left + (system->finished ? 0 : kSlice);
        }
    }
    state.counters["emulated_MHz"] = benchmark::Counter(double(cycles) / 1e6, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Z80ExerciserMix)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_Z80WholeExerciser(benchmark::State& state) {
    const auto program = cpm_read_file(testdata_path("z80/zexdoc.com"));
    if (!program) {
        state.SkipWithError("z80/zexdoc.com is absent from the test data");
        return;
    }
    auto system = std::make_unique<CpmSystem>();
    int64_t cycles = 0;
    for (auto _ : state) {
        cpm_load(*system, *program, 71589);
        cycles += cpm_run(*system);
    }
    state.counters["emulated_MHz"] = benchmark::Counter(double(cycles) / 1e6, benchmark::Counter::kIsRate);
    state.counters["T_states"] = double(cycles) / double(state.iterations());
}
// Three runs; the median is the figure to quote.
BENCHMARK(BM_Z80WholeExerciser)->Unit(benchmark::kSecond)->Iterations(1)->Repetitions(3)->ReportAggregatesOnly(true);

} // namespace

BENCHMARK_MAIN();
