#include "files/basic_listing.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <map>

#include "files/file_io.h"
#include "files/tape_format.h"
#include "files/vz_file.h"
#include "machine/machine.h"

namespace {

struct Keyword {
    uint8_t token;
    const char* word;
};

// In token order, which is the order the ROM tries them in: INPUT is found
// before INP, and the first keyword that matches wins.
constexpr Keyword kKeywords[] = {
    {0x80, "END"},    {0x81, "FOR"},    {0x82, "RESET"},  {0x83, "SET"},    {0x84, "CLS"},    {0x87, "NEXT"},
    {0x88, "DATA"},   {0x89, "INPUT"},  {0x8A, "DIM"},    {0x8B, "READ"},   {0x8C, "LET"},    {0x8D, "GOTO"},
    {0x8E, "RUN"},    {0x8F, "IF"},     {0x90, "RESTORE"}, {0x91, "GOSUB"}, {0x92, "RETURN"}, {0x93, "REM"},
    {0x94, "STOP"},   {0x95, "ELSE"},   {0x96, "COPY"},   {0x97, "COLOR"},  {0x98, "VERIFY"}, {0x9C, "CRUN"},
    {0x9D, "MODE"},   {0x9E, "SOUND"},  {0xA0, "OUT"},    {0xAF, "LPRINT"}, {0xB1, "POKE"},   {0xB2, "PRINT"},
    {0xB3, "CONT"},   {0xB4, "LIST"},   {0xB5, "LLIST"},  {0xB8, "CLEAR"},  {0xB9, "CLOAD"},  {0xBA, "CSAVE"},
    {0xBB, "NEW"},    {0xBC, "TAB("},   {0xBD, "TO"},     {0xBF, "USING"},  {0xC1, "USR"},    {0xC6, "POINT"},
    {0xC9, "INKEY$"}, {0xCA, "THEN"},   {0xCB, "NOT"},    {0xCC, "STEP"},   {0xCD, "+"},      {0xCE, "-"},
    {0xCF, "*"},      {0xD0, "/"},      {0xD1, "^"},      {0xD2, "AND"},    {0xD3, "OR"},     {0xD4, ">"},
    {0xD5, "="},      {0xD6, "<"},      {0xD7, "SGN"},    {0xD8, "INT"},    {0xD9, "ABS"},    {0xDB, "INP"},
    {0xDD, "SQR"},    {0xDE, "RND"},    {0xDF, "LOG"},    {0xE0, "EXP"},    {0xE1, "COS"},    {0xE2, "SIN"},
    {0xE3, "TAN"},    {0xE4, "ATN"},    {0xE5, "PEEK"},   {0xF3, "LEN"},    {0xF4, "STR$"},   {0xF5, "VAL"},
    {0xF6, "ASC"},    {0xF7, "CHR$"},   {0xF8, "LEFT$"},  {0xF9, "RIGHT$"}, {0xFA, "MID$"},   {0xFB, "'"},
};

constexpr uint8_t kTokenData = 0x88;
constexpr uint8_t kTokenRem = 0x93;
constexpr uint8_t kTokenElse = 0x95;
constexpr uint8_t kTokenPrint = 0xB2;
constexpr uint8_t kTokenQuote = 0xFB;
constexpr size_t kBasicLineHeader = 4; // next-line address and line number

const char* keyword_of(uint8_t token) {
    for (const Keyword& k : kKeywords)
        if (k.token == token) return k.word;
    return nullptr;
}

// A character of a listing line: a byte, and whether it came as {XX}, which
// is stored as it stands and never starts or continues a keyword.
struct Unit {
    uint8_t byte;
    bool escaped;
};

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = char(std::toupper(static_cast<unsigned char>(c)));
    return c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

std::vector<Unit> units_of(std::string_view text) {
    std::vector<Unit> units;
    units.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '{' && i + 3 < text.size() && text[i + 3] == '}') {
            const int hi = hex_digit(text[i + 1]), lo = hex_digit(text[i + 2]);
            if (hi >= 0 && lo >= 0) {
                units.push_back({uint8_t(hi << 4 | lo), true});
                i += 3;
                continue;
            }
        }
        units.push_back({uint8_t(std::toupper(static_cast<unsigned char>(text[i]))), false});
    }
    return units;
}

bool plain(const Unit& u, char c) { return !u.escaped && u.byte == uint8_t(c); }

// The first keyword, in token order, spelled by the units from `at`.
const Keyword* keyword_at(const std::vector<Unit>& units, size_t at) {
    for (const Keyword& k : kKeywords) {
        const size_t n = std::strlen(k.word);
        if (at + n > units.size()) continue;
        bool match = true;
        for (size_t j = 0; j < n && match; ++j) match = plain(units[at + j], k.word[j]);
        if (match) return &k;
    }
    return nullptr;
}

void append_hex(std::string& out, uint8_t b) {
    char s[8];
    std::snprintf(s, sizeof s, "{%02X}", b);
    out += s;
}

// Inside strings, REM and DATA: what typing cannot give is written as {XX}.
void append_literal(std::string& out, uint8_t b) {
    if (b >= 0x20 && b < 0x60) out += char(b);
    else append_hex(out, b);
}

// How much of a line's plain text is written as {XX}: nothing, as LIST shows
// it; a leading space, which typing would drop after the line number; or
// every character outside strings, REM and DATA, so no run of them can read
// back as a keyword.
enum class Escape { none, leadingSpace, all };

std::string list_line(std::span<const uint8_t> text, Escape escape) {
    std::string out;
    size_t i = 0;
    auto rest_literal = [&] {
        for (; i < text.size(); ++i) append_literal(out, text[i]);
    };
    while (i < text.size()) {
        const uint8_t b = text[i];
        if (b == ':' && i + 1 < text.size() && text[i + 1] == kTokenElse) {
            out += "ELSE";
            i += 2;
        } else if (b == ':' && i + 2 < text.size() && text[i + 1] == kTokenRem && text[i + 2] == kTokenQuote) {
            out += '\'';
            i += 3;
            rest_literal();
        } else if (b == '"') {
            out += '"';
            for (++i; i < text.size() && text[i] != '"'; ++i) append_literal(out, text[i]);
            if (i < text.size()) {
                out += '"';
                ++i;
            }
        } else if (b == kTokenRem) {
            out += "REM";
            ++i;
            rest_literal();
        } else if (b == kTokenData) {
            out += "DATA";
            bool quoted = false;
            for (++i; i < text.size() && (quoted || text[i] != ':'); ++i) {
                if (text[i] == '"') quoted = !quoted;
                append_literal(out, text[i]);
            }
            // The colon that ends DATA is the one typed: an ELSE or ' after it
            // was not given a colon of its own.
            if (i < text.size()) {
                out += ':';
                ++i;
            }
        } else if (const char* word = b >= 0x80 && b != kTokenElse && b != kTokenQuote ? keyword_of(b) : nullptr) {
            out += word;
            ++i;
        } else if (b >= 0x20 && b < 0x60 && !(escape == Escape::all && b != ' ') &&
                   !(escape != Escape::none && b == ' ' && out.empty())) {
            out += char(b);
            ++i;
        } else {
            append_hex(out, b);
            ++i;
        }
    }
    return out;
}

uint16_t word_at(std::span<const uint8_t> bytes, size_t at) { return uint16_t(bytes[at] | bytes[at + 1] << 8); }

std::string number_text(size_t n) { return std::to_string(n); }

// The name a program gets from its file: the base name, upper case, as the
// tape's name field holds it.
std::string program_name(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    name = name.substr(0, name.find('.'));
    if (name.size() > kTapeNameMax) name.resize(kTapeNameMax);
    for (char& c : name) c = char(std::toupper(static_cast<unsigned char>(c)));
    return name;
}

bool ends_with_nocase(const std::string& s, const char* suffix) {
    const size_t n = std::strlen(suffix);
    if (s.size() < n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(s[s.size() - n + i])) != suffix[i]) return false;
    return true;
}

} // namespace

std::vector<uint8_t> basic_crunch(std::string_view text) {
    const std::vector<Unit> units = units_of(text);
    std::vector<uint8_t> out;
    out.reserve(units.size());
    size_t i = 0;
    auto rest_as_typed = [&] {
        for (; i < units.size(); ++i) out.push_back(units[i].byte);
    };
    while (i < units.size()) {
        const Unit u = units[i];
        if (u.escaped) {
            out.push_back(u.byte);
            ++i;
        } else if (u.byte == '"') {
            out.push_back(u.byte);
            for (++i; i < units.size() && !plain(units[i], '"'); ++i) out.push_back(units[i].byte);
            if (i < units.size()) out.push_back(units[i++].byte);
        } else if (u.byte == '?') {
            out.push_back(kTokenPrint);
            ++i;
        } else if (const Keyword* k = keyword_at(units, i)) {
            i += std::strlen(k->word);
            if (k->token == kTokenElse) {
                out.insert(out.end(), {':', kTokenElse});
            } else if (k->token == kTokenQuote) {
                out.insert(out.end(), {':', kTokenRem, kTokenQuote});
                rest_as_typed();
            } else if (k->token == kTokenRem) {
                out.push_back(kTokenRem);
                rest_as_typed();
            } else if (k->token == kTokenData) {
                out.push_back(kTokenData);
                bool quoted = false;
                for (; i < units.size() && (quoted || !plain(units[i], ':')); ++i) {
                    if (plain(units[i], '"')) quoted = !quoted;
                    out.push_back(units[i].byte);
                }
            } else {
                out.push_back(k->token);
            }
        } else {
            out.push_back(u.byte);
            ++i;
        }
    }
    return out;
}

FileOutcome basic_listing(std::span<const uint8_t> program, std::string& text, size_t* unlisted) {
    text.clear();
    if (unlisted) *unlisted = 0;
    size_t at = 0;
    while (true) {
        if (at + 2 > program.size())
            return FileOutcome::ok("The program stops without its end mark; the listing holds its whole lines.");
        if (word_at(program, at) == 0) break;
        if (at + kBasicLineHeader > program.size())
            return FileOutcome::ok("The program stops without its end mark; the listing holds its whole lines.");
        const size_t from = at + kBasicLineHeader;
        const auto zero = std::find(program.begin() + long(from), program.end(), uint8_t(0));
        if (zero == program.end())
            return FileOutcome::ok("The program's last line has no end; the listing holds its whole lines.");
        const size_t to = size_t(zero - program.begin());
        const std::span<const uint8_t> line = program.subspan(from, to - from);
        const std::vector<uint8_t> stored(line.begin(), line.end());
        std::string shown;
        for (const Escape e : {Escape::none, Escape::leadingSpace, Escape::all}) {
            shown = list_line(line, e);
            if (basic_crunch(shown.substr(std::min(shown.find_first_not_of(' '), shown.size()))) == stored) break;
        }
        text += number_text(word_at(program, at + 2)) + " " + shown + "\n";
        at = to + 1;
    }
    // A saved program carries the byte at the end-of-program word too.
    const size_t after = program.size() - (at + 2);
    if (unlisted) *unlisted = after > 1 ? after : 0;
    return FileOutcome::ok();
}

FileOutcome basic_program(std::string_view listing, uint16_t start, std::vector<uint8_t>& program) {
    std::map<uint32_t, std::vector<uint8_t>> lines;
    size_t lineNo = 0;
    // Editors may begin a file with a byte-order mark and old ones end it with Ctrl+Z.
    size_t pos = listing.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
    while (pos < listing.size()) {
        size_t end = listing.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) end = listing.size();
        std::string_view line = listing.substr(pos, end - pos);
        pos = end;
        if (pos < listing.size() && listing[pos] == '\r' && pos + 1 < listing.size() && listing[pos + 1] == '\n') ++pos;
        if (pos < listing.size()) ++pos;
        ++lineNo;

        size_t i = line.find_first_not_of(" \t\x1A");
        if (i == std::string_view::npos) continue; // a blank line
        const std::string where = "Line " + number_text(lineNo) + " of the listing";
        if (!std::isdigit(static_cast<unsigned char>(line[i])))
            return FileOutcome::refused(where + " does not start with a line number: " + std::string(line));
        uint32_t number = 0;
        for (; i < line.size() && std::isdigit(static_cast<unsigned char>(line[i])); ++i) {
            number = number * 10 + uint32_t(line[i] - '0');
            if (number > kBasicLineNumberMax)
                return FileOutcome::refused(where + " has a line number over 65529: " + std::string(line));
        }
        while (i < line.size() && line[i] == ' ') ++i;
        if (i == line.size()) {
            lines.erase(number); // a number alone deletes the line, as typed
            continue;
        }
        std::vector<uint8_t> stored = basic_crunch(line.substr(i));
        if (stored.size() > kBasicLineMax)
            return FileOutcome::refused(where + " (BASIC line " + number_text(number) + ") stores " +
                                        number_text(stored.size()) + " bytes; a line holds at most 255.");
        if (std::find(stored.begin(), stored.end(), uint8_t(0)) != stored.end())
            return FileOutcome::refused(where + " holds a zero byte, which would end the stored line.");
        lines[number] = std::move(stored);
    }

    std::vector<uint8_t> out;
    for (const auto& [number, text] : lines) {
        const size_t next = size_t(start) + out.size() + kBasicLineHeader + text.size() + 1;
        if (next + 2 > 0x10000) return FileOutcome::refused("The program does not fit below 0xFFFF.");
        out.insert(out.end(), {uint8_t(next), uint8_t(next >> 8), uint8_t(number), uint8_t(number >> 8)});
        out.insert(out.end(), text.begin(), text.end());
        out.push_back(0);
    }
    out.insert(out.end(), {0, 0});
    program = std::move(out);
    return FileOutcome::ok();
}

FileOutcome basic_listing_of_memory(const Machine& m, std::string& text) {
    const uint16_t start = memory_word(m, kBasicStartPointer);
    const std::span<const uint8_t> memory(m.state.memory.data(), m.state.memory.size());
    return basic_listing(memory.subspan(start), text);
}

FileOutcome basic_store_listing(Machine& m, std::string_view listing) {
    uint16_t start = memory_word(m, kBasicStartPointer);
    if (start < 0x7800) start = kBasicProgramAddress; // no BASIC has set it up
    std::vector<uint8_t> program;
    const FileOutcome made = basic_program(listing, start, program);
    if (!made.done) return made;
    const uint16_t top = memory_word(m, kTopOfMemoryPointer);
    const size_t end = size_t(start) + program.size();
    if (top > start && end >= top)
        return FileOutcome::refused("The program needs " + number_text(program.size()) +
                                    " bytes, more than the machine's memory holds above its start.");
    if (end > 0x10000) return FileOutcome::refused("The program does not fit below 0xFFFF.");
    std::copy(program.begin(), program.end(), m.state.memory.begin() + start);
    const auto set_word = [&](uint16_t at, size_t value) {
        m.state.memory[at] = uint8_t(value);
        m.state.memory[at + 1] = uint8_t(value >> 8);
    };
    set_word(kBasicStartPointer, start);
    set_word(kBasicEndPointer, end);
    return FileOutcome::ok();
}

bool basic_listing_file(const std::string& path) { return ends_with_nocase(path, ".bas") || ends_with_nocase(path, ".txt"); }

FileOutcome basic_read_listing_text(const std::string& path, std::string& text) {
    std::vector<uint8_t> bytes;
    // Larger than any listing of a program that fits the machine, with room for comments.
    const FileOutcome read = read_file_limited(path, 1 << 20, bytes);
    if (read.done) text.assign(bytes.begin(), bytes.end());
    return read;
}

FileOutcome basic_read_listing_file(const std::string& path, TapeProgram& out) {
    std::string text;
    const FileOutcome read = basic_read_listing_text(path, text);
    if (!read.done) return read;
    TapeProgram p;
    p.type = kVzTypeBasic;
    p.name = program_name(path);
    p.start = kBasicProgramAddress;
    const FileOutcome made = basic_program(text, p.start, p.data);
    if (!made.done) return made;
    if (p.data.size() > kVzMaxFileSize - kVzHeaderSize)
        return FileOutcome::refused("The program is longer than a VZ file can hold (32744 bytes).");
    out = std::move(p);
    return FileOutcome::ok();
}

FileOutcome basic_write_listing_file(const std::string& path, const TapeProgram& p) {
    if (p.type == kVzTypeMachineCode)
        return FileOutcome::refused("The program is machine code, which has no BASIC listing.");
    std::string text;
    size_t unlisted = 0;
    const FileOutcome listed = basic_listing(p.data, text, &unlisted);
    const FileOutcome written = write_file_atomic(path, std::vector<uint8_t>(text.begin(), text.end()));
    if (!written.done) return written;
    std::string note = listed.message;
    if (unlisted)
        note += std::string(note.empty() ? "" : " ") + number_text(unlisted) +
                " bytes after the program's end (machine code, perhaps) are not in the listing.";
    return FileOutcome::ok(note);
}
