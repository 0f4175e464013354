#include "machine/watchpoints.h"

#include <cstddef>

namespace {

template <std::size_t N> void mark(std::array<uint64_t, N>& set, unsigned from, unsigned to) {
    for (unsigned a = from; a <= to; ++a) set[a >> 6] |= uint64_t(1) << (a & 63);
}

void compile(DebugState& d) {
    d.readBits.fill(0);
    d.writeBits.fill(0);
    d.portReadBits.fill(0);
    d.portWriteBits.fill(0);
    bool any = false;
    for (int i = 0; i < d.watchCount; ++i) {
        const Watchpoint& w = d.watch[std::size_t(i)];
        if (!w.enabled) continue;
        any = true;
        if (w.access & kWatchPort) {
            if (w.access & kWatchRead) mark(d.portReadBits, w.from, w.to);
            if (w.access & kWatchWrite) mark(d.portWriteBits, w.from, w.to);
        } else {
            if (w.access & kWatchRead) mark(d.readBits, w.from, w.to);
            if (w.access & kWatchWrite) mark(d.writeBits, w.from, w.to);
        }
    }
    d.active = any || d.target.toAddress || d.target.toReturn;
}

} // namespace

bool watch_add(DebugState& d, const Watchpoint& w) {
    if (d.watchCount == kWatchpointLimit || w.from > w.to || !(w.access & (kWatchRead | kWatchWrite)))
        return false;
    if ((w.access & kWatchPort) && w.to > 0xFF) return false;
    d.watch[d.watchCount++] = w;
    compile(d);
    return true;
}

void watch_remove(DebugState& d, int index) {
    if (index < 0 || index >= d.watchCount) return;
    for (int i = index; i + 1 < d.watchCount; ++i) d.watch[std::size_t(i)] = d.watch[size_t(i + 1)];
    d.watch[--d.watchCount] = {};
    compile(d);
}

void watch_enable(DebugState& d, int index, bool on) {
    if (index < 0 || index >= d.watchCount) return;
    d.watch[size_t(index)].enabled = on;
    compile(d);
}

void watch_clear(DebugState& d) {
    d.watchCount = 0;
    d.watch.fill({});
    compile(d);
}

void debug_set_target(DebugState& d, const RunTarget& t) {
    d.target = t;
    compile(d);
}

void debug_clear_target(DebugState& d) { debug_set_target(d, {}); }

DebugStop debug_take_stop(DebugState& d) {
    const DebugStop s = d.stop;
    d.stop = {};
    return s;
}
