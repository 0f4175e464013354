// Tapes: reading a WAV into levels at Play (the slicer's throughput), decoding
// a program from a recording (the converter), and whole frames while a tape
// plays (the loop hook's share).
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "files/tape_files.h"
#include "input/keyboard.h"
#include "machine/emulator.h"
#include "machine/frame.h"

namespace {

TapeProgram program(size_t bytes) {
    TapeProgram p;
    p.type = 0xF1;
    p.name = "BENCH";
    p.start = 0x8000;
    for (size_t i = 0; i < bytes; ++i) p.data.push_back(uint8_t(i * 13 + i / 7));
    return p;
}

std::string scratch(const char* name) {
    return (std::filesystem::temp_directory_path() / ("kolt-bench-" + std::to_string(::getpid()) + name)).string();
}

// A recording of an 8 KB program (about two minutes) as 44.1 kHz 16-bit stereo.
const std::string& wide_wav() {
    static const std::string path = [] {
        const std::string clean = scratch("-clean.wav");
        tape_write_program(clean, program(8192));
        std::vector<uint8_t> bytes;
        std::FILE* f = std::fopen(clean.c_str(), "rb");
        for (int c; (c = std::fgetc(f)) != EOF;) bytes.push_back(uint8_t(c));
        std::fclose(f);
        std::remove(clean.c_str());
        std::vector<uint8_t> out(44, 0);
        const uint32_t frames = uint32_t((bytes.size() - 44) * 2);
        auto put32 = [&](size_t at, uint32_t v) {
            for (int i = 0; i < 4; ++i) out[at + size_t(i)] = uint8_t(v >> (8 * i));
        };
        std::memcpy(&out[0], "RIFF", 4);
        put32(4, 36 + frames * 4);
        std::memcpy(&out[8], "WAVEfmt ", 8);
        put32(16, 16);
        out[20] = 1;
        out[22] = 2;
        put32(24, 44100);
        put32(28, 44100 * 4);
        out[32] = 4;
        out[34] = 16;
        std::memcpy(&out[36], "data", 4);
        put32(40, frames * 4);
        for (size_t i = 44; i < bytes.size(); ++i)
            for (int twice = 0; twice < 2; ++twice) {
                const int16_t v = int16_t((int(bytes[i]) - 128) * 64);
                for (int channel = 0; channel < 2; ++channel) {
                    out.push_back(uint8_t(v));
                    out.push_back(uint8_t(uint16_t(v) >> 8));
                }
            }
        const std::string wide = scratch("-wide.wav");
        f = std::fopen(wide.c_str(), "wb");
        std::fwrite(out.data(), 1, out.size(), f);
        std::fclose(f);
        std::atexit([] { std::remove(wide_wav().c_str()); });
        return wide;
    }();
    return path;
}

void BM_TapeReadWav(benchmark::State& state) {
    size_t samples = 0;
    for (auto _ : state) {
        TapeSignal s;
        tape_read_signal(wide_wav(), s);
        samples = s.levels.size();
        benchmark::DoNotOptimize(s.levels.data());
    }
    state.counters["seconds_of_tape"] = double(samples) / 44100.0;
    state.counters["tape_seconds_per_s"] =
        benchmark::Counter(double(samples) / 44100.0 * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_TapeReadWav)->Unit(benchmark::kMillisecond);

void BM_TapeDecodeProgram(benchmark::State& state) {
    TapeSignal s;
    tape_read_signal(wide_wav(), s);
    for (auto _ : state) {
        TapeProgram p;
        if (!tape_decode_signal(s, p).done) state.SkipWithError("did not decode");
        benchmark::DoNotOptimize(p.data.data());
    }
    state.counters["tape_seconds_per_s"] =
        benchmark::Counter(double(s.levels.size()) / 44100.0 * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_TapeDecodeProgram)->Unit(benchmark::kMillisecond);

// The built-in program runs while the tape plays into the cassette input.
void BM_MachineWhileTapePlays(benchmark::State& state) {
    Emulator emu;
    settings_set_path(emu.m().settings.romFile, "/nonexistent/kolt-bench-rom");
    machine_reset(emu.m());
    emu.io.tape.path = wide_wav();
    const HostKeys none;
    for (auto _ : state) {
        if (!emu.m().tape.playing) {
            state.PauseTiming();
            tape_play(emu.m(), emu.io);
            state.ResumeTiming();
        }
        machine_run_frame(emu.m(), emu.io);
        poll_input(emu.m(), none);
    }
    state.counters["frames_per_s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_MachineWhileTapePlays)->MinTime(2.0);

} // namespace

BENCHMARK_MAIN();
