// Whole-machine speed at the Maximum frame rate: host frames per second with
// rendering, sound sampling and the loop hook, on the built-in program and on a
// busy program that fills video RAM and toggles the latch's speaker bits, each
// with the extended graphics off and on (on is the default setting: video RAM
// writes then reach the extended bank too, and the renderer reads from it);
// each also with the rewind history recording after every frame, as the
// desktop program does, to show what recording costs; and the busy program
// again with a watchpoint set, which runs the watched loop.
#include <benchmark/benchmark.h>

#include <cstring>

#include "input/keyboard.h"
#include "machine/emulator.h"
#include "machine/frame.h"
#include "machine/rewind.h"

namespace {

// With a history, a record every `every` frames (the desktop: 1 at the
// Normal rate, 2 at the Maximum rate).
void run_frames(benchmark::State& state, Emulator& emu, RewindHistory* history = nullptr, int every = 1) {
    const HostKeys none;
    if (history) history->record(emu);
    int frames = 0;
    for (auto _ : state) {
        machine_run_frame(emu.m(), emu.io);
        poll_input(emu.m(), none);
        if (history && ++frames == every) {
            history->record(emu, frames);
            frames = 0;
        }
    }
    state.counters["frames_per_s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    if (history) state.counters["history_MB"] = double(history->memory_bytes()) / (1 << 20);
}

void prepare(Emulator& emu, int32_t extendedGfx = kGfxAustralian) {
    settings_set_path(emu.m().settings.romFile, "/nonexistent/kolt-bench-rom");
    emu.m().settings.extendedGfx = extendedGfx;
    machine_reset(emu.m());
}

void BM_MachineBuiltinProgram(benchmark::State& state, int32_t extendedGfx) {
    Emulator emu;
    prepare(emu, extendedGfx);
    run_frames(state, emu);
}
BENCHMARK_CAPTURE(BM_MachineBuiltinProgram, gfx_none, kGfxNone)->MinTime(2.0);
BENCHMARK_CAPTURE(BM_MachineBuiltinProgram, gfx_australian, kGfxAustralian)->MinTime(2.0);

void BM_MachineBuiltinProgramRewind(benchmark::State& state) {
    Emulator emu;
    prepare(emu);
    RewindHistory history;
    run_frames(state, emu, &history, int(state.range(0)));
}
BENCHMARK(BM_MachineBuiltinProgramRewind)->MinTime(2.0)->ArgName("every")->Arg(1)->Arg(2);

void start_busy_program(Emulator& emu) {
    // DI; then forever: fill video RAM with its own low address bytes while
    // toggling the speaker bits of the latch after every byte.
    static const uint8_t kProgram[] = {
        0xF3,                   // 8000 DI
        0x21, 0x00, 0x70,       // 8001 LD HL,7000h
        0x01, 0x00, 0x08,       // 8004 LD BC,0800h
        0x7D,                   // 8007 LD A,L
        0x77,                   //      LD (HL),A
        0x23,                   //      INC HL
        0x7B,                   //      LD A,E
        0xEE, 0x21,             //      XOR 21h
        0x5F,                   //      LD E,A
        0x32, 0x00, 0x68,       //      LD (6800h),A
        0x0B,                   //      DEC BC
        0x78,                   //      LD A,B
        0xB1,                   //      OR C
        0x20, 0xF1,             //      JR NZ,8007h
        0x18, 0xE9,             //      JR 8001h
    };
    std::memcpy(&emu.m().state.memory[0x8000], kProgram, sizeof kProgram);
    emu.m().z80.pc = 0x8000;
}

void BM_MachineBusyProgram(benchmark::State& state, int32_t extendedGfx) {
    Emulator emu;
    prepare(emu, extendedGfx);
    start_busy_program(emu);
    run_frames(state, emu);
}
BENCHMARK_CAPTURE(BM_MachineBusyProgram, gfx_none, kGfxNone)->MinTime(2.0);
BENCHMARK_CAPTURE(BM_MachineBusyProgram, gfx_australian, kGfxAustralian)->MinTime(2.0);

void BM_MachineBusyProgramRewind(benchmark::State& state) {
    Emulator emu;
    prepare(emu);
    start_busy_program(emu);
    RewindHistory history;
    run_frames(state, emu, &history, int(state.range(0)));
}
BENCHMARK(BM_MachineBusyProgramRewind)->MinTime(2.0)->ArgName("every")->Arg(1)->Arg(2);

// The history's hardest case: every frame paints new contents over all of
// video RAM, so every picture row changes and the memory limit is reached.
void BM_MachineRepaintEveryFrame(benchmark::State& state) {
    static const uint8_t kProgram[] = {
        0x21, 0x00, 0x70, // 8000 LD HL,7000h
        0x01, 0x00, 0x08, //      LD BC,0800h
        0x34,             // 8006 INC (HL)
        0x23,             //      INC HL
        0x0B,             //      DEC BC
        0x78,             //      LD A,B
        0xB1,             //      OR C
        0x20, 0xF9,       //      JR NZ,8006h
        0x18, 0xF1,       //      JR 8000h
    };
    Emulator emu;
    prepare(emu);
    std::memcpy(&emu.m().state.memory[0x8000], kProgram, sizeof kProgram);
    emu.m().z80.pc = 0x8000;
    if (state.range(0) == 0) return run_frames(state, emu);
    RewindHistory history;
    run_frames(state, emu, &history);
}
BENCHMARK(BM_MachineRepaintEveryFrame)->MinTime(2.0)->ArgName("rewind")->Arg(0)->Arg(1);

// One step back while the user holds the rewind key: what the front end waits
// for before it can show the frame.
void BM_RewindStepBack(benchmark::State& state) {
    Emulator emu;
    prepare(emu);
    RewindHistory history;
    const HostKeys none;
    auto refill = [&] {
        history.record(emu);
        for (int f = 0; f < 500; ++f) {
            machine_run_frame(emu.m(), emu.io);
            poll_input(emu.m(), none);
            history.record(emu);
        }
    };
    refill();
    for (auto _ : state) {
        if (history.step_back(emu) == 0) {
            state.PauseTiming();
            refill();
            state.ResumeTiming();
        }
    }
}
BENCHMARK(BM_RewindStepBack)->MinTime(1.0);

// Every access is checked against the watch bit sets; the watched range is
// one the program never touches, so no frame stops.
void BM_MachineBusyProgramWatched(benchmark::State& state) {
    Emulator emu;
    prepare(emu);
    start_busy_program(emu);
    Watchpoint w;
    w.from = 0x9000;
    w.to = 0x9FFF;
    w.access = kWatchRead | kWatchWrite;
    if (!watch_add(emu.m().debug, w)) state.SkipWithError("no watchpoint");
    run_frames(state, emu);
}
BENCHMARK(BM_MachineBusyProgramWatched)->MinTime(2.0);

} // namespace

BENCHMARK_MAIN();
