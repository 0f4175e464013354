// A symbol file of any bytes, read into a table and then used as the debugger
// uses it: the disassembly and a listing with its names, and every name in an
// address box and a watchpoint's range.
#include <cstdint>
#include <string>
#include <string_view>

#include "debugger/debugger.h"
#include "debugger/disassembler.h"
#include "debugger/stepping.h"
#include "debugger/symbols.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    SymbolTable t;
    const SymbolRead r = symbols_read(t, text);
    fuzz::require(r.defined >= 0 && r.skipped >= 0 && (r.skipped == 0) == (r.firstSkippedLine == 0));
    fuzz::require(t.byName.size() == t.byAddress.size() && t.byName.size() <= size_t(r.defined));

    for (size_t i = 0; i < t.byName.size(); ++i) {
        const Symbol& s = t.byName[i];
        fuzz::require(!s.name.empty() && s.name.size() <= kSymbolNameLimit);
        fuzz::require(i == 0 || t.byName[i - 1].name < s.name);
        fuzz::require(i == 0 || t.byAddress[i - 1].address <= t.byAddress[i].address);
        fuzz::require(symbol_address(t, s.name) == s.address);
        fuzz::require(symbol_name(t, s.address) != nullptr);
        // Every name serves in the address boxes (as a number where it reads as one).
        fuzz::require(address_or_symbol(s.name, &t).has_value());
        if (i < 64) fuzz::require(watch_parse("rw:" + s.name, &t, nullptr).has_value());
    }

    // Read again, the same text defines the same names and nothing more.
    const size_t names = t.byName.size();
    const SymbolRead again = symbols_read(t, text);
    fuzz::require(again.defined == r.defined && again.skipped == r.skipped && t.byName.size() == names);

    const Machine& m = fuzz::pristine_machine();
    debugger_disassembly_text(m, &t);
    const uint16_t from = t.byAddress.empty() ? 0 : t.byAddress.front().address;
    listing(m.state.memory, from, uint16_t(from + 0x40 > 0xFFFF ? 0xFFFF : from + 0x40), &t);
    return 0;
}
