#include "debugger/stepping.h"

#include <cstdio>

#include "debugger/debugger.h"
#include "debugger/disassembler.h"
#include "debugger/symbols.h"
#include "input/keyboard.h"
#include "machine/frame.h"
#include "machine/machine.h"

namespace {

std::string hex(unsigned value, int digits) {
    char s[8];
    std::snprintf(s, sizeof s, "%0*X", digits, value & 0xFFFF);
    return s;
}

enum class OverKind { Single, Call, Loop };

// What Step Over does with the instruction at PC: calls and RSTs (an index
// prefix before them is ignored by the processor), DJNZ, and the repeating
// block instructions are run over.
OverKind over_kind(const Disassembly& d) {
    if (d.table == DisasmTable::Extended)
        return (d.opcode & 0xF4) == 0xB0 ? OverKind::Loop : OverKind::Single;
    if (d.table != DisasmTable::Main && d.table != DisasmTable::Index) return OverKind::Single;
    const uint8_t op = d.opcode;
    if (op == 0xCD || (op & 0xC7) == 0xC4 || (op & 0xC7) == 0xC7) return OverKind::Call;
    return op == 0x10 ? OverKind::Loop : OverKind::Single;
}

RunOutcome run_to_target(Machine& m, MachineIo& io, const RunTarget& target, const std::string& what,
                         const std::string& goal) {
    debug_set_target(m.debug, target);
    RunOutcome out;
    for (int frames = 0;;) {
        if (machine_run_frame(m, io) != 0) {
            out.stop = debug_take_stop(m.debug);
            break;
        }
        poll_input(m, HostKeys{});
        if (++frames == kRunFrameLimit) {
            out.timedOut = true;
            break;
        }
    }
    debug_clear_target(m.debug);
    out.reached = out.stop.reasons & kStopTarget;
    if (out.timedOut)
        out.message = what + ": " + goal + " not reached within 10 seconds of emulated time";
    else if (out.reached && out.stop.reasons == kStopTarget)
        out.message = what + ": now at " + hex(m.z80.pc, 4);
    else
        out.message = debugger_stop_text(out.stop, m.z80.stop_pc);
    return out;
}

} // namespace

RunOutcome debugger_step_over(Machine& m, MachineIo& io) {
    const Disassembly d = disassemble(m.state.memory, m.z80.pc);
    const OverKind kind = over_kind(d);
    if (kind == OverKind::Single) {
        RunOutcome out;
        if (debugger_step(m, io)) {
            out.stop = debug_take_stop(m.debug);
            out.message = debugger_stop_text(out.stop, m.z80.stop_pc);
        }
        out.reached = true;
        return out;
    }
    const uint16_t next = uint16_t(m.z80.pc + d.length);
    RunTarget t;
    t.toAddress = true;
    t.address = next;
    t.sameLevel = true;
    t.sp = m.z80.sp;
    if (kind == OverKind::Call) {
        // The routine's return: a RET that takes SP back above the pushed address.
        t.toReturn = true;
        t.returnAbove = uint16_t(m.z80.sp - 2);
    }
    return run_to_target(m, io, t, "Step Over", hex(next, 4));
}

RunOutcome debugger_step_out(Machine& m, MachineIo& io) {
    RunTarget t;
    t.toReturn = true;
    t.returnAbove = m.z80.sp;
    return run_to_target(m, io, t, "Step Out", "the return");
}

RunOutcome debugger_run_to(Machine& m, MachineIo& io, uint16_t address) {
    RunTarget t;
    t.toAddress = true;
    t.address = address;
    return run_to_target(m, io, t, "Run to Cursor", hex(address, 4));
}

std::string watch_hit_text(const WatchHit& hit) {
    const bool port = hit.access & kWatchPort;
    return std::string(port ? "port " : "") + (hit.access & kWatchWrite ? "write " : "read ") +
           hex(hit.address, port ? 2 : 4) + " = " + hex(hit.value, 2) + " at " + hex(hit.pc, 4);
}

std::string debugger_stop_text(const DebugStop& stop, uint16_t stopPc) {
    std::string text;
    if (stop.reasons & kStopBreakpoint)
        text = "Stopped at breakpoint " + hex(stopPc, 4);
    if (stop.reasons & kStopWatchpoint) {
        if (!text.empty()) text += '\n';
        text += "Watchpoint hit: " + watch_hit_text(stop.hit);
    }
    return text;
}

std::optional<Watchpoint> watch_parse(std::string_view text, const SymbolTable* symbols, std::string* why) {
    auto fail = [&](const std::string& reason) -> std::optional<Watchpoint> {
        if (why) *why = reason;
        return std::nullopt;
    };
    const size_t colon = text.find(':');
    if (colon == std::string_view::npos)
        return fail("A watchpoint is KIND:RANGE, KIND one of r, w, rw, pr, pw, prw (e.g. w:7000-77FF)");
    std::string kind;
    for (const char c : text.substr(0, colon)) kind += char(c >= 'A' && c <= 'Z' ? c + 32 : c);
    Watchpoint w;
    if (kind.size() > 1 && kind[0] == 'p') {
        w.access = kWatchPort;
        kind.erase(0, 1);
    }
    if (kind == "r")
        w.access |= kWatchRead;
    else if (kind == "w")
        w.access |= kWatchWrite;
    else if (kind == "rw")
        w.access |= kWatchRead | kWatchWrite;
    else
        return fail("Unknown watchpoint kind '" + std::string(text.substr(0, colon)) +
                    "': use r, w or rw for memory, pr, pw or prw for ports");

    const std::string_view range = text.substr(colon + 1);
    const size_t dash = range.find('-');
    const std::string_view fromText = range.substr(0, dash);
    const std::string_view toText = dash == std::string_view::npos ? fromText : range.substr(dash + 1);
    const auto from = address_or_symbol(fromText, symbols);
    const auto to = address_or_symbol(toText, symbols);
    if (!from) return fail("Not an address or a known symbol: '" + std::string(fromText) + "'");
    if (!to) return fail("Not an address or a known symbol: '" + std::string(toText) + "'");
    if (*from > *to) return fail("The range starts above its end: " + std::string(range));
    if ((w.access & kWatchPort) && *to > 0xFF) return fail("Ports are 00 to FF: " + std::string(range));
    w.from = *from;
    w.to = *to;
    return w;
}

std::string watch_text(const Watchpoint& w) {
    const bool port = w.access & kWatchPort;
    std::string text = port ? "p" : "";
    if (w.access & kWatchRead) text += 'r';
    if (w.access & kWatchWrite) text += 'w';
    text += ':' + hex(w.from, port ? 2 : 4);
    if (w.to != w.from) text += '-' + hex(w.to, port ? 2 : 4);
    return text;
}
