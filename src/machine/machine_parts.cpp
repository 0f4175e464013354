#include "machine/machine_parts.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "machine/machine.h"

namespace {

// Counts the fields of an aggregate: the most initialisers it takes.
struct AnyField {
    template <class T> operator T() const;
};
template <class T, class... Fields> constexpr size_t field_count() {
    if constexpr (requires { T{Fields{}..., AnyField{}}; })
        return field_count<T, Fields..., AnyField>();
    else
        return sizeof...(Fields);
}

// A new field of Machine must be given a part below, and this count raised.
static_assert(field_count<Machine>() == 15, "a field of Machine has no part: list it in machine_parts()");

template <class T> PartRange range(const Machine& m, const T& field, Part part) {
    const size_t begin = size_t(reinterpret_cast<const uint8_t*>(&field) - reinterpret_cast<const uint8_t*>(&m));
    return {begin, begin + sizeof field, part};
}

std::vector<PartRange> build() {
    const auto owner = std::make_unique<Machine>();
    const Machine& m = *owner;
    std::vector<PartRange> fields = {
        range(m, m.settings, Part::Setup),        range(m, m.z80, Part::Machine),
        range(m, m.state, Part::Machine),         range(m, m.loop, Part::Machine),
        range(m, m.frameBuffer, Part::Machine),   range(m, m.fontTable, Part::Machine),
        range(m, m.displayMasks, Part::Session),  range(m, m.palette, Part::Session),
        range(m, m.sound, Part::Machine),         range(m, m.input, Part::Machine),
        range(m, m.tape, Part::Setup),            range(m, m.disk, Part::Machine),
        range(m, m.breakpoints, Part::Session),   range(m, m.debug, Part::Session),
        range(m, m.romImageLoaded, Part::Session),
    };
    // Fields of those records whose part differs from their record's.
    const PartRange inner[] = {
        range(m, m.state.tapeLevel, Part::Setup),
        range(m, m.sound.streams, Part::Session),
        range(m, m.input.f11Held, Part::Session),
        range(m, m.disk.writeProtect, Part::Setup),
    };
    std::sort(fields.begin(), fields.end(), [](PartRange a, PartRange b) { return a.begin < b.begin; });
    for (size_t i = 0; i < fields.size(); ++i) // padding to the next field, or to the end
        fields[i].end = i + 1 < fields.size() ? fields[i + 1].begin : sizeof(Machine);
    std::vector<PartRange> out;
    for (const PartRange& f : fields) {
        size_t at = f.begin;
        for (const PartRange& in : inner) {
            if (in.begin < f.begin || in.end > f.end) continue;
            if (in.begin > at) out.push_back({at, in.begin, f.part});
            out.push_back(in);
            at = in.end;
        }
        if (at < f.end) out.push_back({at, f.end, f.part});
    }
    return out;
}

} // namespace

const std::vector<PartRange>& machine_parts() {
    static const std::vector<PartRange> parts = build();
    return parts;
}

void machine_copy_part(Machine& to, const Machine& from, Part part) {
    auto* dest = reinterpret_cast<uint8_t*>(&to);
    const auto* src = reinterpret_cast<const uint8_t*>(&from);
    for (const PartRange& r : machine_parts())
        if (r.part == part) std::memcpy(dest + r.begin, src + r.begin, r.end - r.begin);
}
