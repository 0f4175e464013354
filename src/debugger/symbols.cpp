#include "debugger/symbols.h"

#include <algorithm>
#include <map>

#include "debugger/debugger.h"
#include "files/file_io.h"

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }
char upper(char c) { return c >= 'a' && c <= 'z' ? char(c - 32) : c; }

bool equal_ignoring_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (upper(a[i]) != upper(b[i])) return false;
    return true;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = upper(c);
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<uint16_t> number(std::string_view digits, int base) {
    if (digits.empty()) return std::nullopt;
    uint32_t value = 0;
    for (const char c : digits) {
        const int d = hex_digit(c);
        if (d < 0 || d >= base) return std::nullopt;
        value = value * uint32_t(base) + uint32_t(d);
        if (value > 0xFFFF) return std::nullopt;
    }
    return uint16_t(value);
}

bool starts_with_ignoring_case(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && equal_ignoring_case(s.substr(0, prefix.size()), prefix);
}

// A map file's address: 4 to 8 hex digits, or up to 8 with $ or 0x before or
// H after. Bare, fewer digits would read words such as "bad" or "add" as
// addresses.
std::optional<uint16_t> map_address(std::string_view t) {
    size_t least = 4;
    if (!t.empty() && t.front() == '$')
        t.remove_prefix(1), least = 1;
    else if (starts_with_ignoring_case(t, "0x"))
        t.remove_prefix(2), least = 1;
    else if (t.size() > 1 && upper(t.back()) == 'H' && t.front() >= '0' && t.front() <= '9')
        t.remove_suffix(1), least = 1;
    if (t.size() < least || t.size() > 8) return std::nullopt;
    return number(t, 16);
}

// A definition's value, read as an assembler reads a number.
std::optional<uint16_t> assembler_value(std::string_view t) {
    if (t.empty()) return std::nullopt;
    if (t.front() == '$' || t.front() == '#') return number(t.substr(1), 16);
    if (starts_with_ignoring_case(t, "0x")) return number(t.substr(2), 16);
    if (t.front() < '0' || t.front() > '9') return std::nullopt;
    if (upper(t.back()) == 'H') return number(t.substr(0, t.size() - 1), 16);
    return number(t, 10);
}

bool name_start(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == '.' || c == '@' || c == '?';
}

bool valid_name(std::string_view t) {
    if (t.empty() || t.size() > kSymbolNameLimit || !name_start(t.front())) return false;
    for (const char c : t)
        if (!name_start(c) && !(c >= '0' && c <= '9') && c != '$') return false;
    return true;
}

// Words of a line, with '=' always a word of its own.
std::vector<std::string_view> words_of(std::string_view line) {
    std::vector<std::string_view> words;
    size_t i = 0;
    while (i < line.size()) {
        if (is_blank(line[i])) {
            ++i;
        } else if (line[i] == '=') {
            words.push_back(line.substr(i++, 1));
        } else {
            const size_t start = i;
            while (i < line.size() && !is_blank(line[i]) && line[i] != '=') ++i;
            words.push_back(line.substr(start, i - start));
        }
    }
    return words;
}

struct Definition {
    std::string_view name;
    uint16_t address;
};

std::string_view without_colon(std::string_view name) {
    if (!name.empty() && name.back() == ':') name.remove_suffix(1);
    return name;
}

std::optional<Definition> definition(std::vector<std::string_view> w) {
    if (!w.empty() && equal_ignoring_case(w[0], "DEFC")) w.erase(w.begin());
    if (w.size() != 3) return std::nullopt;
    const std::string_view name = without_colon(w[0]);
    const bool equ = w[1] == "=" || equal_ignoring_case(w[1], "EQU") || equal_ignoring_case(w[1], ".EQU");
    const auto value = assembler_value(w[2]);
    if (!equ || !valid_name(name) || !value) return std::nullopt;
    return Definition{name, *value};
}

std::optional<Definition> map_line(const std::vector<std::string_view>& w) {
    if (w.size() == 3 && equal_ignoring_case(w[0], "DEF")) {
        if (const auto a = map_address(w[2]); a && valid_name(w[1])) return Definition{w[1], *a};
        return std::nullopt;
    }
    if (w.size() < 2) return std::nullopt;
    const std::string_view first = without_colon(w[0]), second = without_colon(w[1]);
    if (const auto a = map_address(w[0]); a && valid_name(second)) return Definition{second, *a};
    if (const auto a = map_address(w[1]); a && valid_name(first)) return Definition{first, *a};
    return std::nullopt;
}

bool is_definition_line(const std::vector<std::string_view>& w) {
    for (const std::string_view word : w)
        if (word == "=" || equal_ignoring_case(word, "EQU") || equal_ignoring_case(word, ".EQU")) return true;
    return false;
}

void rebuild(SymbolTable& table, const std::map<std::string, uint16_t>& names) {
    table.byName.clear();
    table.byName.reserve(names.size());
    for (const auto& [name, address] : names) table.byName.push_back({name, address});
    table.byAddress = table.byName;
    std::stable_sort(table.byAddress.begin(), table.byAddress.end(),
                     [](const Symbol& a, const Symbol& b) { return a.address < b.address; });
}

} // namespace

SymbolRead symbols_read(SymbolTable& table, std::string_view text) {
    std::map<std::string, uint16_t> names;
    for (const Symbol& s : table.byName) names.emplace(s.name, s.address);
    SymbolRead result;
    int lineNumber = 0;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++lineNumber;
        if (const size_t comment = line.find(';'); comment != std::string_view::npos)
            line = line.substr(0, comment);
        const std::vector<std::string_view> words = words_of(line);
        if (words.empty()) continue;
        const auto d = is_definition_line(words) ? definition(words) : map_line(words);
        if (!d) {
            if (result.skipped++ == 0) result.firstSkippedLine = lineNumber;
            continue;
        }
        names[std::string(d->name)] = d->address;
        ++result.defined;
    }
    rebuild(table, names);
    return result;
}

FileOutcome symbols_load(SymbolTable& table, const std::string& path, SymbolRead* counts) {
    std::vector<uint8_t> bytes;
    FileOutcome read = read_file_limited(path, kSymbolFileLimit, bytes);
    if (!read.done) return read;
    const SymbolRead r =
        symbols_read(table, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    if (counts) *counts = r;
    const std::string file =
        path.substr(path.find_last_of('/') == std::string::npos ? 0 : path.find_last_of('/') + 1);
    std::string message = "Read " + std::to_string(r.defined) + (r.defined == 1 ? " symbol" : " symbols") +
                          " from " + file + " (" + std::to_string(table.byName.size()) + " in all).";
    if (r.skipped)
        message += " Skipped " + std::to_string(r.skipped) +
                   (r.skipped == 1 ? " malformed line" : " malformed lines") + " (the first is line " +
                   std::to_string(r.firstSkippedLine) + ").";
    return FileOutcome::ok(message);
}

void symbols_clear(SymbolTable& table) {
    table.byAddress.clear();
    table.byName.clear();
}

std::optional<uint16_t> symbol_address(const SymbolTable& table, std::string_view name) {
    const auto it = std::lower_bound(table.byName.begin(), table.byName.end(), name,
                                     [](const Symbol& s, std::string_view n) { return s.name < n; });
    if (it != table.byName.end() && it->name == name) return it->address;
    std::optional<uint16_t> found;
    for (const Symbol& s : table.byName) {
        if (!equal_ignoring_case(s.name, name)) continue;
        if (found) return std::nullopt; // two names differ only in case: neither is meant more
        found = s.address;
    }
    return found;
}

std::vector<std::string_view> symbols_at(const SymbolTable& table, uint16_t address) {
    auto it = std::lower_bound(table.byAddress.begin(), table.byAddress.end(), address,
                               [](const Symbol& s, uint16_t a) { return s.address < a; });
    std::vector<std::string_view> names;
    for (; it != table.byAddress.end() && it->address == address; ++it) names.push_back(it->name);
    return names;
}

const std::string* symbol_name(const SymbolTable& table, uint16_t address) {
    const auto it = std::lower_bound(table.byAddress.begin(), table.byAddress.end(), address,
                                     [](const Symbol& s, uint16_t a) { return s.address < a; });
    return it != table.byAddress.end() && it->address == address ? &it->name : nullptr;
}

std::optional<uint16_t> address_or_symbol(std::string_view typed, const SymbolTable* table) {
    if (const auto a = debugger_parse_address(typed)) return a;
    while (!typed.empty() && is_blank(typed.front())) typed.remove_prefix(1);
    while (!typed.empty() && is_blank(typed.back())) typed.remove_suffix(1);
    if (!table || typed.empty()) return std::nullopt;
    return symbol_address(*table, typed);
}
