// Design note. Measured on the build machine (two shared cores): comparing
// 150 KB against a copy costs about 3 us as one memcmp and 3.8 us in 256-byte
// blocks, so ranges are compared in 4 KB chunks first and split into blocks
// only where a chunk differs. A frame of the built-in program changes a few
// blocks (registers, clocks, the stack, a cursor): about 80 bytes a record,
// and recording takes 4.4 % of the frame's cycles (perf; 8.6 % of its
// instructions under callgrind, whose memcmp is not the wide one). A program
// that repaints the whole picture every frame codes some 80 KB a frame and,
// once the limit is reached, merges as well: a frame then costs 3.3 times as
// much. A step back copies the whole shadow (4.5 MB): about 75 us.
#include "machine/rewind.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <utility>

#include "machine/emulator.h"
#include "machine/machine_parts.h"

namespace {

constexpr size_t kBlock = 256;
constexpr size_t kChunk = 4096;

struct Range {
    size_t begin, end;
};

template <class T> Range range_of(const Machine& m, const T& field) {
    const size_t begin =
        size_t(reinterpret_cast<const uint8_t*>(&field) - reinterpret_cast<const uint8_t*>(&m));
    return {begin, begin + sizeof field};
}

// Where the parts with their own rules lie in the record.
struct Layout {
    Range banks, typing;
    std::vector<Range> compared; // everything else a frame can change
    std::vector<Range> kept;     // left as they are by a step back (the setup and the session), in order
};

const Layout& layout() {
    static const Layout l = [] {
        const auto m = std::make_unique<Machine>();
        Layout out;
        out.banks = range_of(*m, m->state.bankStore);
        out.typing = range_of(*m, m->input.typingText);
        // The session's parts change without the machine: not compared.
        std::vector<Range> skipped = {out.banks, out.typing};
        for (const PartRange& p : machine_parts()) {
            if (p.part != Part::Machine) out.kept.push_back({p.begin, p.end});
            if (p.part == Part::Session) skipped.push_back({p.begin, p.end});
        }
        std::sort(skipped.begin(), skipped.end(), [](Range a, Range b) { return a.begin < b.begin; });
        size_t at = 0;
        for (const Range& r : skipped) {
            if (r.begin > at) out.compared.push_back({at, r.begin});
            at = std::max(at, r.end);
        }
        if (at < sizeof(Machine)) out.compared.push_back({at, sizeof(Machine)});
        return out;
    }();
    return l;
}

const uint8_t* bytes_of(const Machine& m) { return reinterpret_cast<const uint8_t*>(&m); }
uint8_t* bytes_of(Machine& m) { return reinterpret_cast<uint8_t*>(&m); }

// One block as runs of unchanged bytes skipped and changed bytes XORed,
// written through a pointer into room made first (a frame that repaints the
// whole picture codes some 80 KB; pushing byte by byte cost 7 % more).
void encode_block(std::vector<uint8_t>& out, size_t offset, const uint8_t* was, const uint8_t* now,
                  size_t length) {
    const size_t start = out.size();
    out.resize(start + 6 + 2 * length + 2); // the most: a run pair for every changed byte, and a last skip
    uint8_t* p = out.data() + start;
    for (int i = 0; i < 4; ++i) *p++ = uint8_t(offset >> (8 * i));
    *p++ = uint8_t(length);
    *p++ = uint8_t(length >> 8);
    size_t i = 0;
    while (i < length) {
        size_t skip = 0;
        while (i < length && skip < 255 && was[i] == now[i]) ++i, ++skip;
        const size_t first = i;
        while (i < length && i - first < 255 && was[i] != now[i]) ++i;
        *p++ = uint8_t(skip);
        *p++ = uint8_t(i - first);
        for (size_t k = first; k < i; ++k) *p++ = uint8_t(was[k] ^ now[k]);
    }
    out.resize(size_t(p - out.data()));
}

// Calls f(offset, length, runs, runsEnd) for each block of a delta.
template <class F> void for_each_block(const std::vector<uint8_t>& delta, F f) {
    const uint8_t* p = delta.data();
    const uint8_t* end = p + delta.size();
    while (p < end) {
        const size_t offset = p[0] | p[1] << 8 | p[2] << 16 | size_t(p[3]) << 24;
        const size_t length = p[4] | p[5] << 8;
        p += 6;
        const uint8_t* runs = p;
        for (size_t i = 0; i < length;) {
            i += size_t(p[0]) + p[1];
            p += 2 + p[1];
        }
        f(offset, length, runs, p);
    }
}

void xor_runs(uint8_t* block, size_t length, const uint8_t* p) {
    for (size_t i = 0; i < length;) {
        i += p[0];
        const size_t count = p[1];
        for (size_t k = 0; k < count; ++k) block[i + k] ^= p[2 + k];
        i += count;
        p += 2 + count;
    }
}

} // namespace

RewindHistory::RewindHistory(size_t byteLimit, int32_t minFrames)
    : byteLimit_(byteLimit), minFrames_(minFrames) {}

RewindHistory::~RewindHistory() = default;

void RewindHistory::compare_range(const uint8_t* now, size_t begin, size_t end) {
    uint8_t* was = bytes_of(*shadow_);
    for (size_t chunk = begin; chunk < end; chunk += kChunk) {
        const size_t chunkEnd = std::min(end, chunk + kChunk);
        if (std::memcmp(was + chunk, now + chunk, chunkEnd - chunk) == 0) continue;
        for (size_t block = chunk; block < chunkEnd; block += kBlock) {
            const size_t length = std::min(kBlock, chunkEnd - block);
            if (std::memcmp(was + block, now + block, length) == 0) continue;
            encode_block(scratch_, block, was + block, now + block, length);
            std::memcpy(was + block, now + block, length);
        }
    }
}

void RewindHistory::record(const Emulator& emu, int32_t frames) {
    const Machine& m = *emu.machine;
    if (!shadow_) shadow_ = std::make_unique<Machine>();
    if (!haveShadow_) {
        std::memcpy(static_cast<void*>(shadow_.get()), &m, sizeof m);
        haveShadow_ = true;
        return;
    }
    const Layout& l = layout();
    const uint8_t* now = bytes_of(m);
    scratch_.clear();
    // Before the counters themselves are compared (and copied) below.
    for (size_t b = 0; b < size_t(kBankCount); ++b)
        if (m.state.bankWrites[b] != shadow_->state.bankWrites[b])
            compare_range(now, l.banks.begin + b * kBankSize, l.banks.begin + (b + 1) * kBankSize);
    // A new text always starts with typing active and at position 0.
    const InputState& in = m.input;
    if (in.typingActive || shadow_->input.typingActive || in.typingPos != shadow_->input.typingPos)
        compare_range(now, l.typing.begin, l.typing.end);
    for (const Range& r : l.compared) compare_range(now, r.begin, r.end);

    records_.push_back(Record{frames, std::vector<uint8_t>(scratch_.begin(), scratch_.end())});
    recordBytes_ += records_.back().delta.size();
    frames_ += frames;
    enforce_limit();
}

int32_t RewindHistory::step_back(Emulator& emu) {
    if (records_.empty()) return 0;
    Record r = std::move(records_.back());
    records_.pop_back();
    recordBytes_ -= r.delta.size();
    frames_ -= r.frames;
    uint8_t* shadow = bytes_of(*shadow_);
    for_each_block(r.delta, [&](size_t offset, size_t length, const uint8_t* runs, const uint8_t*) {
        xor_runs(shadow + offset, length, runs);
    });

    uint8_t* machine = bytes_of(*emu.machine);
    size_t at = 0;
    for (const Range& k : layout().kept) {
        std::memcpy(machine + at, shadow + at, k.begin - at);
        at = k.end;
    }
    std::memcpy(machine + at, shadow + at, sizeof(Machine) - at);
    return r.frames;
}

void RewindHistory::clear() {
    std::deque<Record>().swap(records_);
    std::vector<uint8_t>().swap(scratch_);
    shadow_.reset();
    haveShadow_ = false;
    recordBytes_ = 0;
    frames_ = 0;
}

// The allocator's own bookkeeping per record is counted too: most records
// of a quiet program are shorter than it.
size_t RewindHistory::memory_bytes() const {
    constexpr size_t kAllocationOverhead = 16;
    return (shadow_ ? sizeof(Machine) : 0) + recordBytes_ +
           records_.size() * (sizeof(Record) + kAllocationOverhead) + scratch_.capacity();
}

RewindHistory::Record RewindHistory::merge(const Record& older, const Record& newer) {
    // XOR deltas compose: going back over both is the XOR of the two.
    std::map<size_t, std::vector<uint8_t>> blocks;
    for (const Record* r : {&older, &newer})
        for_each_block(r->delta, [&](size_t offset, size_t length, const uint8_t* runs, const uint8_t*) {
            std::vector<uint8_t>& b = blocks[offset];
            b.resize(length);
            xor_runs(b.data(), length, runs);
        });
    static const uint8_t kZeros[kBlock] = {};
    Record merged{older.frames + newer.frames, {}};
    for (const auto& [offset, b] : blocks) encode_block(merged.delta, offset, b.data(), kZeros, b.size());
    merged.delta.shrink_to_fit();
    return merged;
}

void RewindHistory::enforce_limit() {
    while (memory_bytes() > byteLimit_ && records_.size() > 1) {
        if (frames_ - records_.front().frames >= minFrames_) {
            recordBytes_ -= records_.front().delta.size();
            frames_ -= records_.front().frames;
            records_.pop_front();
            continue;
        }
        // Thin the past: the oldest pair of equal spans, so steps grow with age.
        size_t i = 0;
        for (size_t k = 0; k + 1 < records_.size(); ++k)
            if (records_[k].frames == records_[k + 1].frames) {
                i = k;
                break;
            }
        Record merged = merge(records_[i], records_[i + 1]);
        recordBytes_ =
            recordBytes_ - records_[i].delta.size() - records_[i + 1].delta.size() + merged.delta.size();
        records_[i] = std::move(merged);
        records_.erase(records_.begin() + std::ptrdiff_t(i) + 1);
    }
}
