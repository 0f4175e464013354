// Renderer speed: the time to paint every scanline of one PAL VZ200 video
// frame (312 lines, 243 of them painted) in text mode and two graphics modes.
#include <benchmark/benchmark.h>

#include <memory>

#include "machine/machine.h"

namespace {

// Video memory full of varied bytes, so the glyph and colour look-ups are not
// all the same cache line and nothing is predictable from the previous cell.
std::unique_ptr<Machine> make_machine(uint8_t latch, uint8_t extGfxMode) {
    auto m = std::make_unique<Machine>();
    m->state.timing = video_timing_for(kModelVZ200, kTvPal);
    m->settings.extendedGfx = kGfxAustralian;
    m->state.latch = latch;
    m->state.extGfxMode = extGfxMode;
    uint32_t seed = 12345;
    for (uint8_t& b : m->state.extVideoRam) {
        seed = seed * 1103515245u + 12345u;
        b = uint8_t(seed >> 16);
    }
    for (int i = 0; i < 2048; ++i) m->state.memory[0x7000 + i] = m->state.extVideoRam[size_t(i)];
    return m;
}

void render_frame(benchmark::State& state, uint8_t latch, uint8_t extGfxMode) {
    auto m = make_machine(latch, extGfxMode);
    const int lines = m->state.timing.linesPerFrame;
    for (auto _ : state) {
        for (int line = 0; line < lines; ++line) {
            m->state.scanline = line;
            render_scanline(*m);
        }
        benchmark::DoNotOptimize(m->frameBuffer.data());
        benchmark::ClobberMemory();
    }
    state.counters["frames_per_s"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_RenderFrameText(benchmark::State& state) { render_frame(state, 0x00, 0x08); }
void BM_RenderFrameMode2(benchmark::State& state) { render_frame(state, 0x18, 0x08); }
void BM_RenderFrameMode7(benchmark::State& state) { render_frame(state, 0x08, 0x1C); }

BENCHMARK(BM_RenderFrameText)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RenderFrameMode2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RenderFrameMode7)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
