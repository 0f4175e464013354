// Listings and stored programs, against the BASIC ROM's storing rules as
// measured: every expected byte below is written out by hand.
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "files/basic_listing.h"
#include "machine/machine.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes program_of(const std::string& listing, uint16_t start = 0x7AE9) {
    Bytes p;
    const FileOutcome r = basic_program(listing, start, p);
    EXPECT_TRUE(r.done) << r.message;
    return p;
}

std::string listing_of(const Bytes& program, size_t* unlisted = nullptr) {
    std::string text;
    const FileOutcome r = basic_listing(program, text, unlisted);
    EXPECT_TRUE(r.done && r.message.empty()) << r.message;
    return text;
}

// A stored program from line texts, linked for 0x7AE9, as an independent model.
Bytes stored(const std::vector<std::pair<uint16_t, Bytes>>& lines) {
    Bytes p;
    for (const auto& [number, text] : lines) {
        const size_t next = 0x7AE9 + p.size() + 4 + text.size() + 1;
        p.insert(p.end(), {uint8_t(next), uint8_t(next >> 8), uint8_t(number), uint8_t(number >> 8)});
        p.insert(p.end(), text.begin(), text.end());
        p.push_back(0);
    }
    p.insert(p.end(), {0, 0});
    return p;
}

TEST(BasicListing, TheMeasuredExampleLineByteForByte) {
    const Bytes text = {0xB2, 0x22, 0x41, 0x20, 0x42, 0x22, 0x3A, 0xB2, 0x58, 0x3A, 0x8D, 0x31,
                        0x30, 0x20, 0x3A, 0x93, 0xFB, 0x48, 0x49, 0x20, 0x46, 0x4F, 0x52};
    Bytes expected = {0x05, 0x7B, 0x0A, 0x00};
    expected.insert(expected.end(), text.begin(), text.end());
    expected.insert(expected.end(), {0x00, 0x00, 0x00});
    EXPECT_EQ(program_of("10 ?\"A B\":PRINTX:GOTO10 'HI FOR\n"), expected);
    // LIST shows PRINT for ?, and neither the colon before ' nor the one before ELSE.
    EXPECT_EQ(listing_of(expected), "10 PRINT\"A B\":PRINTX:GOTO10 'HI FOR\n");
}

TEST(BasicListing, TypingRules) {
    const std::pair<const char*, Bytes> cases[] = {
        // Keywords inside names, numbers as characters.
        {"FORM=1TO9", {0x81, 0x4D, 0xD5, 0x31, 0xBD, 0x39}},
        // <> is two tokens; ELSE gets a colon; spaces are kept.
        {"IF A<>B THEN 20 ELSE 30", {0x8F, 0x20, 0x41, 0xD6, 0xD4, 0x42, 0x20, 0xCA, 0x20, 0x32, 0x30, 0x20, 0x3A,
                                     0x95, 0x20, 0x33, 0x30}},
        // A colon typed before ELSE stays, and ELSE still gets its own.
        {"GOTO1:ELSE2", {0x8D, 0x31, 0x3A, 0x3A, 0x95, 0x32}},
        // After REM everything is as typed, ? and keywords included.
        {"REM ?PRINT:GOTO", {0x93, 0x20, 0x3F, 0x50, 0x52, 0x49, 0x4E, 0x54, 0x3A, 0x47, 0x4F, 0x54, 0x4F}},
        // DATA is as typed up to a colon outside quotes; lower case becomes upper case.
        {"DATA 1,\"a:B\",print:print", {0x88, 0x20, 0x31, 0x2C, 0x22, 0x41, 0x3A, 0x42, 0x22, 0x2C, 0x50, 0x52, 0x49,
                                        0x4E, 0x54, 0x3A, 0xB2}},
        // A word not in the table is letters; INPUT is found before INP.
        {"ON X GOTO 10", {0x4F, 0x4E, 0x20, 0x58, 0x20, 0x8D, 0x20, 0x31, 0x30}},
        {"INPUTA:A=INP(1)", {0x89, 0x41, 0x3A, 0x41, 0xD5, 0xDB, 0x28, 0x31, 0x29}},
        // Inside quotes nothing is a keyword; {XX} is a byte anywhere.
        {"print \"to{80}{ff}\"{B2}", {0xB2, 0x20, 0x22, 0x54, 0x4F, 0x80, 0xFF, 0x22, 0xB2}},
        // ' after a statement; DATA's colon is still the end of DATA before it.
        {"DATA 1:'X", {0x88, 0x20, 0x31, 0x3A, 0x3A, 0x93, 0xFB, 0x58}},
        // An unfinished escape is its characters.
        {"?\"{8G}{1\"", {0xB2, 0x22, 0x7B, 0x38, 0x47, 0x7D, 0x7B, 0x31, 0x22}},
    };
    for (const auto& [typed, bytes] : cases) EXPECT_EQ(basic_crunch(typed), bytes) << typed;
}

TEST(BasicListing, LinesAreSortedTheLastOfANumberKeptAndANumberAloneDeletes) {
    const Bytes p = program_of("\xEF\xBB\xBF  30 END\r\n10 CLS\r\n\r\n20 X\n30 STOP\r5 NEW\n5\n\x1A");
    EXPECT_EQ(p, stored({{10, {0x84}}, {20, {0x58}}, {30, {0x94}}}));
    EXPECT_EQ(program_of(""), (Bytes{0, 0}));
    // The links follow the start given.
    EXPECT_EQ(program_of("1 END\n", 0x8000), (Bytes{0x06, 0x80, 0x01, 0x00, 0x80, 0x00, 0x00, 0x00}));
}

TEST(BasicListing, BadLinesAreNamedAndNothingIsMade) {
    Bytes p = {0xAA};
    FileOutcome r = basic_program("10 CLS\nPRINT 1\n", 0x7AE9, p);
    EXPECT_FALSE(r.done);
    EXPECT_NE(r.message.find("Line 2"), std::string::npos) << r.message;
    EXPECT_EQ(p, Bytes{0xAA});

    r = basic_program("10 CLS\n\n65530 END\n", 0x7AE9, p);
    EXPECT_FALSE(r.done);
    EXPECT_NE(r.message.find("Line 3"), std::string::npos) << r.message;
    EXPECT_TRUE(basic_program("65529 END\n0 END\n", 0x7AE9, p).done);

    // A zero byte would end the stored line early.
    EXPECT_FALSE(basic_program("10 PRINT\"{00}\"\n", 0x7AE9, p).done);
    EXPECT_FALSE(basic_program(std::string("10 A\0B\n", 7), 0x7AE9, p).done);

    // 255 stored bytes fit; 256 do not (REM is one byte).
    EXPECT_TRUE(basic_program("1 REM" + std::string(254, 'X') + "\n", 0x7AE9, p).done);
    EXPECT_EQ(p.size(), 4 + 255 + 1 + 2u);
    r = basic_program("1 END\n7 REM" + std::string(255, 'X') + "\n", 0x7AE9, p);
    EXPECT_FALSE(r.done);
    EXPECT_NE(r.message.find("Line 2"), std::string::npos) << r.message;
    EXPECT_NE(r.message.find("256"), std::string::npos) << r.message;
    // A line longer than the machine's 64-character input, made of keywords, fits.
    std::string longLine = "1 PRINT";
    for (int i = 0; i < 40; ++i) longLine += ":PRINT";
    EXPECT_TRUE(basic_program(longLine, 0x7AE9, p).done);
}

TEST(BasicListing, AListingComesBackAsItWas) {
    const std::string listing = "5 CLS:COLOR 3,1\n"
                                "10 FORM=1TO9 STEP 2:PRINT TAB(M);M:NEXT M\n"
                                "20 IF A<>B THEN 30 ELSE 40 'ELSE \"HERE\"\n"
                                "30 DATA 1, \"A:B\", PRINT:READ A$:PRINT LEFT$(A$,1);CHR$(143)\n"
                                "40 REM {8F}{FF} GRAPHICS \"AND\" ELSE\n"
                                "50 PRINT\"{80}{C3}\";INKEY$:X=USR(0)+PEEK(-1)*RND(0)/2^3\n"
                                "65529 END\n";
    EXPECT_EQ(listing_of(program_of(listing)), listing);
}

// Every combination of a string, DATA and ELSE, in every order, with and
// without a run of every other keyword, ending in ', REM or neither.
TEST(BasicListing, ProgramsFromTheTokenTableComeBackByteForByte) {
    Bytes keywords;
    for (int t = 0x80; t <= 0xFB; ++t)
        if (t != 0x88 && t != 0x93 && t != 0x95 && t != 0xFB) keywords.push_back(uint8_t(t));
    Bytes spaced; // every other token, each followed by a name
    for (size_t k = 0; k < keywords.size(); k += 2) spaced.insert(spaced.end(), {keywords[k], 'A'});
    const Bytes string = {0x22, 'A', ':', 0x95, ' ', 'E', 'L', 'S', 'E', 0x80, 0xFF, 0x27, 0x22};
    const Bytes data = {0x88, ' ', '1', ',', 0x22, ':', 0x22, ',', 'P', 'R', 'I', 'N', 'T', 0x93};
    const Bytes elseBytes = {':', 0x95, ' ', '2', '0'};
    const Bytes quote = {':', 0x93, 0xFB, 'H', 'I', ' ', 0xB2, 0x8F, 0x00 + '{'};
    const Bytes rem = {0x93, ' ', 'R', 'E', 'M', ':', 0x95, 0x81, 0xC0};
    const Bytes* middles[] = {&string, &data, &elseBytes};
    const int orders[][3] = {{0, 1, 2}, {0, 2, 1}, {1, 0, 2}, {1, 2, 0}, {2, 0, 1}, {2, 1, 0}};

    std::vector<std::pair<uint16_t, Bytes>> lines;
    std::set<Bytes> made;
    uint16_t number = 1;
    for (int lead = 0; lead < 3; ++lead)
        for (int subset = 0; subset < 8; ++subset)
            for (const auto& order : orders)
                for (int end = 0; end < 3; ++end) {
                    Bytes text = lead == 0 ? Bytes{} : lead == 1 ? keywords : spaced;
                    for (const int piece : order) {
                        if (!(subset >> piece & 1)) continue;
                        if (!text.empty()) text.push_back(':');
                        text.insert(text.end(), middles[piece]->begin(), middles[piece]->end());
                    }
                    const Bytes& tail = end == 0 ? Bytes{} : end == 1 ? quote : rem;
                    text.insert(text.end(), tail.begin(), tail.end());
                    if (text.empty() || text.size() > 255 || !made.insert(text).second) continue;
                    lines.push_back({number++, text});
                }
    ASSERT_GT(lines.size(), 120u);
    for (const auto& line : lines) {
        const Bytes one = stored({line});
        const std::string listing = listing_of(one);
        ASSERT_EQ(program_of(listing), one) << listing;
    }
    const Bytes program = stored(lines);
    EXPECT_EQ(program_of(listing_of(program)), program);
}

// Stored lines that typing cannot give still come back: their plain
// characters are written as {XX} where they would read as something else.
TEST(BasicListing, ProgramsMadeElsewhereComeBackByteForByte) {
    const Bytes program = stored({
        {1, {'G', 'O', 'T', 'O', '1'}},      // letters spelling a keyword
        {2, {0x95, '1'}},                    // ELSE without its colon
        {3, {' ', ' ', 0xB2}},               // spaces before the text
        {4, {'?', 'a', 0x01, 0x85}},         // ?, lower case, a control code, a code without keyword
        {5, {0x88, '1', ':', 0x93, 0xFB}},   // ' right after DATA's colon
        {6, {'S', 0xBD, 'P'}},               // S, TO, P would read as STOP
    });
    const std::string listing = listing_of(program);
    EXPECT_EQ(program_of(listing), program) << listing;
    EXPECT_NE(listing.find("3 {20} PRINT"), std::string::npos) << listing;
}

TEST(BasicListing, BytesPastTheEndMarkAreCounted) {
    Bytes program = program_of("10 CLS\n");
    size_t unlisted = 99;
    listing_of(program, &unlisted);
    EXPECT_EQ(unlisted, 0u);
    program.push_back(0x55); // the byte at the end-of-program word, as Save VZ writes it
    listing_of(program, &unlisted);
    EXPECT_EQ(unlisted, 0u);
    program.insert(program.end(), {0xC3, 0x00, 0x80, 0xC9});
    listing_of(program, &unlisted);
    EXPECT_EQ(unlisted, 5u);

    // Cut inside its second line: the first is listed, with a warning.
    const Bytes cut = {0x0A, 0x7B, 0x0A, 0x00, 0x84, 0x00, 0x20, 0x7B, 0x14, 0x00, 0x80};
    std::string text;
    const FileOutcome r = basic_listing(cut, text);
    EXPECT_TRUE(r.done);
    EXPECT_FALSE(r.message.empty());
    EXPECT_EQ(text, "10 CLS\n");
}

TEST(BasicListing, StoringIntoMemorySetsThePointersAsTheRomDoes) {
    auto m = std::make_unique<Machine>();
    m->state.memory[0x78A4] = 0xE9;
    m->state.memory[0x78A5] = 0x7A;
    ASSERT_TRUE(basic_store_listing(*m, "20 END\n10 CLS\n").done);
    const Bytes expected = {0xEF, 0x7A, 0x0A, 0x00, 0x84, 0x00, 0xF5, 0x7A, 0x14, 0x00, 0x80, 0x00, 0x00, 0x00};
    EXPECT_EQ(Bytes(m->state.memory.begin() + 0x7AE9, m->state.memory.begin() + 0x7AE9 + 14), expected);
    EXPECT_EQ(m->state.memory[0x78F9] | m->state.memory[0x78FA] << 8, 0x7AF7); // just past the end mark
    std::string text;
    ASSERT_TRUE(basic_listing_of_memory(*m, text).done);
    EXPECT_EQ(text, "10 CLS\n20 END\n");

    // Top of memory at 0x7B00: a longer program is refused and nothing changes.
    m->state.memory[0x78B1] = 0x00;
    m->state.memory[0x78B2] = 0x7B;
    const auto before = m->state.memory;
    EXPECT_FALSE(basic_store_listing(*m, "10 REM" + std::string(40, 'X')).done);
    EXPECT_FALSE(basic_store_listing(*m, "10 CLS\nX").done);
    EXPECT_TRUE(before == m->state.memory);
}

} // namespace
