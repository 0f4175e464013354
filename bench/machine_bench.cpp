// Whole-machine speed at the Maximum frame rate: host frames per second with
// rendering, sound sampling and the loop hook, on the built-in program and on a
// busy program that fills video RAM and toggles the latch's speaker bits; and
// the busy program again with a watchpoint set, which runs the watched loop.
#include <benchmark/benchmark.h>

#include <cstring>

#include "input/keyboard.h"
#include "machine/emulator.h"
#include "machine/frame.h"

namespace {

void run_frames(benchmark::State& state, Emulator& emu) {
    const HostKeys none;
    for (auto _ : state) {
        machine_run_frame(emu.m(), emu.io);
        poll_input(emu.m(), none);
    }
    state.counters["frames_per_s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

void prepare(Emulator& emu) {
    settings_set_path(emu.m().settings.romFile, "/nonexistent/kolt-bench-rom");
    machine_reset(emu.m());
}

void BM_MachineBuiltinProgram(benchmark::State& state) {
    Emulator emu;
    prepare(emu);
    run_frames(state, emu);
}
BENCHMARK(BM_MachineBuiltinProgram)->MinTime(2.0);

void load_busy_program(Emulator& emu) {
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

void BM_MachineBusyProgram(benchmark::State& state) {
    Emulator emu;
    prepare(emu);
    load_busy_program(emu);
    run_frames(state, emu);
}
BENCHMARK(BM_MachineBusyProgram)->MinTime(2.0);

// Every access is checked against the watch bit sets; the watched range is
// one the program never touches, so no frame stops.
void BM_MachineBusyProgramWatched(benchmark::State& state) {
    Emulator emu;
    prepare(emu);
    load_busy_program(emu);
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
