// Design note: the Z80 is instantiated here once, over `Bus`: references to
// the machine and its files, built on the stack for each frame step, and what
// the loop hook keeps between its calls.
//
// The loop hook does not run after every instruction. Its work is to bank each
// instruction's cycles and to act where a line or a sample completes; between
// those points the cycles can be banked in one sum with the same result. So it
// tells the core (z80_loop_hook_due) at which cycles_left the next boundary
// falls, and the core runs there with one compare per instruction. A running
// tape and a set breakpoint need every instruction and get it; the first
// instruction of a step and the last of the slice always reach the hook.
// Completed lines are only counted here and painted in batches by
// render_pending_lines, before any write that may change what they show (the
// latch, video memory, a port) and at the end of the step.
//
// Measured at the Maximum rate (frames per second of CPU time, the built-in
// program / the busy one): 20,000 / 20,000 before; the Z80's own gains
// 21,000 / 21,000; the hook at boundaries only 29,000 / 33,000, as the hook
// after every instruction had taken about a third of the frame; the boundary
// work on one short path 31,000 / 38,000; painting in batches, with the faster
// text painting, 40,000 / 40,000: a line painted between two instructions cost
// about twice what it costs in a batch. A table of plain pages for the bus
// hooks saved 1.5 % of the instructions and no measurable time; dropped.
//
// A second instantiation, over `WatchBus`, runs the frames while the debugger
// watches accesses or runs to a target (Step Over, Step Out, Run to Cursor).
// Its hooks check the watch bit sets and then do exactly what Bus's do, and
// its loop hook runs after every instruction (it has no due hook) and calls
// Bus's, so time, sound and tape move on as when running. The choice is made
// once per frame, so the ordinary loop carries no check of its own.
#include "machine/frame.h"

#include <algorithm>
#include <cstdint>

#include "machine/bus.h"
#include "machine/cassette.h"
#include "machine/machine.h"
#include "machine/machine_io.h"
#include "machine/ports.h"
#include "z80/z80_execute.h"

namespace {

struct Bus {
    Machine& m;
    MachineIo& io;
    bool breakpointsSet; // the loop hook then checks every instruction's PC
    // cycles_left below which the loop hook has work; the first instruction
    // of a run always reaches it, so a refill or a reset is seen at once.
    int32_t hookDue = INT32_MAX;
};

Bus make_bus(Machine& m, MachineIo& io) {
    const auto& words = m.breakpoints.bits;
    const bool any = std::any_of(words.begin(), words.end(), [](uint64_t w) { return w != 0; });
    return Bus{m, io, any};
}

inline uint8_t z80_read_byte(Bus& b, uint16_t address) { return bus_read(b.m, address); }
inline void z80_write_byte(Bus& b, uint16_t address, uint8_t value) { bus_write(b.m, b.io, address, value); }
inline uint8_t z80_port_in(Bus& b, uint16_t port) { return port_in(b.m, b.io, uint8_t(port)); }
inline void z80_port_out(Bus& b, uint16_t port, uint8_t value) { port_out(b.m, b.io, uint8_t(port), value); }
inline void z80_edfe_hook(Bus&, Z80Registers&) {}

[[gnu::noinline]] void advance_lines(Machine& m) {
    MachineState& s = m.state;
    while (m.loop.lineAccumulator > kCyclesPerLine) {
        ++m.loop.linesToPaint; // painted by render_pending_lines
        // Keys change at a fixed point of the video frame, away from the
        // interrupt in which the ROM scans the keyboard.
        if (s.scanline == first_active_line(s.timing)) s.keyboardRows = m.input.pendingRows;
        if (++s.scanline == s.timing.linesPerFrame) s.scanline = 0;
        m.loop.lineAccumulator -= kCyclesPerLine;
    }
}

[[gnu::noinline]] void push_samples(Machine& m) {
    while (m.loop.sampleAccumulator > m.loop.cyclesPerSample) {
        sound_push_sample(m.sound, m.state.speakerLevel);
        m.loop.sampleAccumulator -= m.loop.cyclesPerSample;
    }
}

// Out of line, so that the hook's common path stays short.
[[gnu::noinline]] void take_interrupt(Bus& b, Z80Registers& r) { z80_interrupt(b, r, 0); }

// The frame interrupt is the field sync on /INT: a level, held from the end
// of the picture to the end of the field, so it is taken whenever IFF1 is
// set while it lasts, but never right after EI. A handler that ends with EI
// and RETI while the field sync is still low runs again at once, as on the
// machine; the BASIC ROM's outlasts it. True when the next instruction must
// reach the hook (it follows an EI).
inline bool frame_interrupt(Bus& b, Z80Registers& r) {
    if (r.int_state & kZ80EiDelay) [[unlikely]] {
        r.int_state &= uint8_t(~kZ80EiDelay);
        return true;
    }
    if ((r.int_state & kZ80Iff1) && field_sync_low(b.m.state)) [[unlikely]]
        take_interrupt(b, r);
    return false;
}

inline void z80_ei_hook(Bus&, Z80Registers& r) { r.int_state |= kZ80EiDelay; }

// The loop clocks after an instruction: lines, the interrupt, samples, the
// tape and the breakpoint check.
inline void loop_hook_work(Bus& b, Z80Registers& r) {
    Machine& m = b.m;
    LoopState& loop = m.loop;
    const int32_t delta = cycles_since(loop.lastCycleCount, r);
    loop.lineAccumulator += delta;
    loop.sampleAccumulator += delta;
    if (loop.lineAccumulator > kCyclesPerLine) [[unlikely]]
        advance_lines(m);
    if (tape_running(m.tape)) [[unlikely]] {
        // While a tape runs, what is heard is the tape signal, not the speaker bit.
        if (m.settings.cassetteAudio) m.state.speakerLevel = m.state.tapeLevel > 128 ? 32767 : -32768;
    }
    if (loop.sampleAccumulator > loop.cyclesPerSample) [[unlikely]]
        push_samples(m);
    if (m.tape.playing) [[unlikely]] {
        // Out of line only when a sample is due, about every 160 T-states.
        m.tape.accumulator += int64_t(delta) * m.tape.rate;
        if (m.tape.accumulator >= int64_t(r.cycle_period) * 50) tape_advance(m, b.io, 0);
    }
    frame_interrupt(b, r); // before the breakpoint check, which then sees the handler's address
    // A halted CPU stays on its HALT without starting an instruction there.
    r.stop_requested = breakpoint_at(m.breakpoints, r.pc) && !(r.int_state & kZ80Halted);
    if (r.stop_requested) [[unlikely]]
        r.stop_pc = r.pc;
}

// The same work where no tape runs and no breakpoint is set, which is all
// that needs doing at a line or sample boundary; then where the next one is.
// Between boundaries the hook is not called (see z80_loop_hook_due) and the
// cycles of those instructions are banked here in one sum.
inline int32_t loop_hook_boundary(Bus& b, Z80Registers& r) {
    Machine& m = b.m;
    LoopState& loop = m.loop;
    const int32_t now = r.cycles_left;
    const int32_t delta = cycles_since(loop.lastCycleCount, r);
    loop.lineAccumulator += delta;
    if (loop.lineAccumulator > kCyclesPerLine) [[unlikely]]
        advance_lines(m);
    int32_t samples = loop.sampleAccumulator + delta;
    const int32_t cyclesPerSample = loop.cyclesPerSample;
    while (samples > cyclesPerSample) {
        sound_push_sample(m.sound, m.state.speakerLevel);
        samples -= cyclesPerSample;
    }
    loop.sampleAccumulator = samples;
    r.stop_requested = 0;
    if (frame_interrupt(b, r)) return INT32_MAX;
    return std::max(now + loop.lineAccumulator - kCyclesPerLine, now + samples - cyclesPerSample);
}

inline uint16_t z80_loop_hook(Bus& b, Z80Registers& r) {
    if (b.breakpointsSet || tape_running(b.m.tape)) [[unlikely]] {
        loop_hook_work(b, r);
        b.hookDue = INT32_MAX;
    } else {
        b.hookDue = loop_hook_boundary(b, r);
    }
    return r.pc;
}

// cycles_left below which the loop hook has work to do.
inline int32_t z80_loop_hook_due(Bus& b) { return b.hookDue; }

// ---- the watched loop ----------------------------------------------------

struct WatchBus {
    Bus bus;
    DebugState& d;
    uint16_t instrPc; // where the instruction now running started
    uint16_t instrSp; // SP when it started
};

inline void note_hit(WatchBus& w, uint8_t access, uint16_t address, uint8_t value) {
    if (w.d.stop.hit.access == 0) w.d.stop.hit = {access, address, value, w.instrPc};
}

// The core says which reads fetch instruction bytes: those are not data.
inline uint8_t z80_fetch_byte(WatchBus& w, uint16_t address) { return bus_read(w.bus.m, address); }
inline uint8_t z80_read_byte(WatchBus& w, uint16_t address) {
    const uint8_t value = bus_read(w.bus.m, address);
    if (watch_bit(w.d.readBits, address)) [[unlikely]]
        note_hit(w, kWatchRead, address, value);
    return value;
}
inline void z80_write_byte(WatchBus& w, uint16_t address, uint8_t value) {
    if (watch_bit(w.d.writeBits, address)) [[unlikely]]
        note_hit(w, kWatchWrite, address, value);
    bus_write(w.bus.m, w.bus.io, address, value);
}
inline uint8_t z80_port_in(WatchBus& w, uint16_t port) {
    const uint8_t value = port_in(w.bus.m, w.bus.io, uint8_t(port));
    if (watch_bit(w.d.portReadBits, uint8_t(port))) [[unlikely]]
        note_hit(w, kWatchPort | kWatchRead, uint8_t(port), value);
    return value;
}
inline void z80_port_out(WatchBus& w, uint16_t port, uint8_t value) {
    if (watch_bit(w.d.portWriteBits, uint8_t(port))) [[unlikely]]
        note_hit(w, kWatchPort | kWatchWrite, uint8_t(port), value);
    port_out(w.bus.m, w.bus.io, uint8_t(port), value);
}
inline void z80_edfe_hook(WatchBus&, Z80Registers&) {}
inline void z80_ei_hook(WatchBus& w, Z80Registers& r) { z80_ei_hook(w.bus, r); }

// RET, RET cc (either after one index prefix, which the core ignores for
// them), or ED x5/x5+8: every one of those is a RETN or RETI.
bool is_return_at(const Machine& m, uint16_t pc) {
    uint8_t op = bus_read(m, pc);
    if (op == 0xED) return (bus_read(m, uint16_t(pc + 1)) & 0xC7) == 0x45;
    if (op == 0xDD || op == 0xFD) op = bus_read(m, uint16_t(pc + 1));
    return op == 0xC9 || (op & 0xC7) == 0xC0;
}

inline uint16_t z80_loop_hook(WatchBus& w, Z80Registers& r) {
    // Judged before the ordinary hook, which may accept an interrupt and move
    // PC and SP: a target reached just then still stops (in the interrupt's
    // first instruction) rather than being missed.
    const RunTarget& t = w.d.target;
    bool reached = t.toAddress && r.pc == t.address && (!t.sameLevel || int16_t(r.sp - t.sp) >= 0);
    if (t.toReturn && r.sp == uint16_t(w.instrSp + 2) && int16_t(r.sp - t.returnAbove) > 0 &&
        is_return_at(w.bus.m, w.instrPc))
        reached = true;
    z80_loop_hook(w.bus, r);
    const uint8_t reasons =
        uint8_t((r.stop_requested ? kStopBreakpoint : 0) | (w.d.stop.hit.access ? kStopWatchpoint : 0) |
                (reached ? kStopTarget : 0));
    if (reasons) {
        w.d.stop.reasons = reasons;
        r.stop_requested = 1;
        r.stop_pc = r.pc;
    }
    w.instrPc = r.pc;
    w.instrSp = r.sp;
    return r.pc;
}

// The hook runs after every instruction; a HALT then lets 4 T-states pass at
// a time, as the processor does.
inline int32_t z80_loop_hook_due(WatchBus&) { return INT32_MAX; }

} // namespace

// The loop clocks are told of every refill of the slice as it happens. The
// loop hook alone cannot see a refill that a HALT overwrites (it may set the
// budget to 0 in the slice's first instruction), and a machine halted across
// frames then stood still: no lines, no interrupt, no sound.
static void refill(Machine& m) {
    m.z80.cycles_left += m.z80.cycle_period;
    m.loop.lastCycleCount += m.z80.cycle_period;
}

// Where every run and step ends: whether it stopped, and what is refilled.
// A spent slice, or a halted CPU at its end, is refilled once, stop or not,
// so a run after a stop on a slice's last instruction goes on at once; where
// z80_run has refilled its own only the loop clocks are told.
static uint8_t end_run(Machine& m, MachineIo& io, bool stopped, bool runRefilled) {
    const Z80Registers& r = m.z80;
    render_pending_lines(m);
    machine_flush_files(io);
    if (runRefilled) m.loop.lastCycleCount += r.cycle_period;
    else if (r.cycles_left < 0 || (r.cycles_left == 0 && (r.int_state & kZ80Halted))) refill(m);
    return stopped ? 1 : 0;
}

// A run starts by taking the last stop: resuming where the machine stopped
// goes on with the instruction there; anywhere else a breakpoint on the first
// instruction stops the run before it (a halted CPU starts none).
static bool stop_at_start(Machine& m) {
    Z80Registers& r = m.z80;
    const bool resuming = r.stop_requested && r.stop_pc == r.pc;
    r.stop_requested = 0;
    m.debug.stop = {};
    if (resuming || (r.int_state & kZ80Halted) || !breakpoint_at(m.breakpoints, r.pc)) return false;
    r.stop_requested = 1;
    r.stop_pc = r.pc;
    m.debug.stop.reasons = kStopBreakpoint;
    return true;
}

uint8_t machine_run_frame(Machine& m, MachineIo& io) {
    if (stop_at_start(m)) return end_run(m, io, true, false);
    if (m.debug.active) [[unlikely]] {
        WatchBus bus{make_bus(m, io), m.debug, m.z80.pc, m.z80.sp};
        z80_run(bus, m.z80);
    } else {
        Bus bus = make_bus(m, io);
        z80_run(bus, m.z80);
    }
    const bool stopped = m.z80.stop_requested;
    // The ordinary loop stops for breakpoints only; the watched one says why.
    if (stopped && m.debug.stop.reasons == 0) m.debug.stop.reasons = kStopBreakpoint;
    return end_run(m, io, stopped, !stopped);
}

// A Step of a HALT goes on until the interrupt wakes the CPU or the slice is
// spent, so stepping moves the clocks on to the interrupt as running does.
// While watchpoints are set the step goes through the watched bus and
// reports their hits. The step's end counts as a stop at the new PC: a run
// from there starts with the instruction at it, breakpoint or not.
uint8_t machine_step(Machine& m, MachineIo& io) {
    Z80Registers& r = m.z80;
    m.debug.stop = {};
    const auto step = [&](auto& bus) {
        z80_execute(bus, r);
        while ((r.int_state & kZ80Halted) && r.cycles_left > 0 && !m.debug.stop.reasons) z80_execute(bus, r);
    };
    if (m.debug.active) {
        WatchBus bus{make_bus(m, io), m.debug, r.pc, r.sp};
        step(bus);
    } else {
        Bus bus = make_bus(m, io);
        step(bus);
    }
    const bool hit = m.debug.stop.hit.access != 0;
    m.debug.stop.reasons = hit ? kStopWatchpoint : 0;
    r.stop_requested = 1;
    r.stop_pc = r.pc;
    return end_run(m, io, hit, false);
}

void machine_flush_files(MachineIo& io) {
    if (io.printerPending) {
        std::fflush(io.printerFile.get());
        io.printerPending = false;
    }
}
