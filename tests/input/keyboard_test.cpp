#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "input/keyboard.h"
#include "machine/frame.h"
#include "machine/machine.h"
#include "machine/machine_io.h"

namespace {

using Rows = std::array<uint8_t, 8>;

// The machine's keyboard as wired, bit 5 down to bit 0 of each row.
constexpr std::string_view kMatrix[8][6] = {
    {"R", "Q", "E", "", "W", "T"},         {"F", "A", "D", "CTRL", "S", "G"},
    {"V", "Z", "C", "SHIFT", "X", "B"},    {"4", "1", "3", "", "2", "5"},
    {"M", "SPACE", ",", "", ".", "N"},     {"7", "0", "8", "-", "9", "6"},
    {"U", "P", "I", "RETURN", "O", "Y"},   {"J", ";", "K", ":", "L", "H"},
};

Rows rows_with(std::initializer_list<std::string_view> keys) {
    Rows rows;
    rows.fill(0xFF);
    for (std::string_view k : keys) {
        bool found = false;
        for (int r = 0; r < 8; ++r)
            for (int i = 0; i < 6; ++i)
                if (kMatrix[r][i] == k) {
                    rows[size_t(r)] = uint8_t(rows[size_t(r)] & ~(1 << (5 - i)));
                    found = true;
                }
        EXPECT_TRUE(found) << k;
    }
    return rows;
}

const Rows kNoKey = rows_with({});

std::unique_ptr<Machine> make_machine() {
    auto m = std::make_unique<Machine>();
    m->settings.romFile[0] = 0;
    machine_reset(*m);
    return m;
}

HostKeys held(std::initializer_list<HostKey> keys) {
    HostKeys k;
    for (HostKey key : keys) k.set(key);
    return k;
}

TEST(KeyboardMatrix, EachHostKeyPressesItsMachineKeys) {
    struct Binding {
        HostKey host;
        std::initializer_list<std::string_view> keys;
    };
    const Binding bindings[] = {
        {kKeyA, {"A"}}, {kKeyB, {"B"}}, {kKeyC, {"C"}}, {kKeyD, {"D"}}, {kKeyE, {"E"}}, {kKeyF, {"F"}},
        {kKeyG, {"G"}}, {kKeyH, {"H"}}, {kKeyI, {"I"}}, {kKeyJ, {"J"}}, {kKeyK, {"K"}}, {kKeyL, {"L"}},
        {kKeyM, {"M"}}, {kKeyN, {"N"}}, {kKeyO, {"O"}}, {kKeyP, {"P"}}, {kKeyQ, {"Q"}}, {kKeyR, {"R"}},
        {kKeyS, {"S"}}, {kKeyT, {"T"}}, {kKeyU, {"U"}}, {kKeyV, {"V"}}, {kKeyW, {"W"}}, {kKeyX, {"X"}},
        {kKeyY, {"Y"}}, {kKeyZ, {"Z"}}, {kKey0, {"0"}}, {kKey1, {"1"}}, {kKey2, {"2"}}, {kKey3, {"3"}},
        {kKey4, {"4"}}, {kKey5, {"5"}}, {kKey6, {"6"}}, {kKey7, {"7"}}, {kKey8, {"8"}}, {kKey9, {"9"}},
        {kKeySpace, {"SPACE"}}, {kKeyReturn, {"RETURN"}},
        {kKeyLeftShift, {"SHIFT"}}, {kKeyRightShift, {"SHIFT"}},
        {kKeyLeftControl, {"CTRL"}}, {kKeyRightControl, {"CTRL"}},
        {kKeyComma, {","}}, {kKeyPeriod, {"."}},
        {kKeyMinus, {"-"}}, {kKeyEquals, {"-"}},
        {kKeySemicolon, {";"}}, {kKeyApostrophe, {":"}},
        {kKeyBack, {"CTRL", "M"}}, {kKeyLeft, {"CTRL", "M"}}, {kKeyRight, {"CTRL", ","}},
        {kKeyUp, {"CTRL", "."}}, {kKeyDown, {"CTRL", "SPACE"}}, {kKeyInsert, {"CTRL", "L"}},
        {kKeyDelete, {"CTRL", ";"}}, {kKeyEnd, {"CTRL", ":"}},
        // Not on the matrix.
        {kKeyEscape, {}}, {kKeyTab, {}}, {kKeySlash, {}}, {kKeyF11, {}},
        {kKeyNumpad8, {}}, {kKeyNumpad5, {}}, {kKeyNumpad0, {}}, {kKeyNumpad7, {}},
    };
    for (const Binding& b : bindings) {
        auto m = make_machine(); // a press lasts two polls: each key on a machine of its own
        poll_input(*m, held({b.host}));
        EXPECT_EQ(m->input.pendingRows, rows_with(b.keys)) << "host key 0x" << std::hex << int(b.host);
    }
    auto m = make_machine();
    poll_input(*m, held({kKeyA, kKeyLeft, kKeyEquals}));
    EXPECT_EQ(m->input.pendingRows, rows_with({"A", "CTRL", "M", "-"}));
    EXPECT_EQ(m->state.keyboardRows, kNoKey); // the loop hook applies the rows at a fixed line
    poll_input(*m, held({}));
    poll_input(*m, held({}));
    EXPECT_EQ(m->input.pendingRows, kNoKey);
}

TEST(KeyboardJoystick, NumericKeypadDrivesTheJoystickByte) {
    auto m = make_machine();
    poll_input(*m, held({kKeyNumpad8, kKeyNumpad6}));
    EXPECT_EQ(m->state.joystickByte, 0xF6);
    poll_input(*m, held({}));
    EXPECT_EQ(m->state.joystickByte, 0xFF);
    poll_input(*m, held({kKeyNumpad2, kKeyNumpad4, kKeyNumpad5}));
    EXPECT_EQ(m->state.joystickByte, 0xE9);
    poll_input(*m, held({kKeyNumpad0}));
    EXPECT_EQ(m->state.joystickByte, 0x7F);
    poll_input(*m, held({kKeyNumpad7, kKeyNumpad9, kKeyNumpad1, kKeyNumpad3, kKeyA, kKey8}));
    EXPECT_EQ(m->state.joystickByte, 0xFF);
}

TEST(KeyboardF11, TogglesOncePerPress) {
    auto m = make_machine();
    const HostKeys f11 = held({kKeyF11});
    EXPECT_TRUE(poll_input(*m, f11));
    for (int i = 0; i < 50; ++i) EXPECT_FALSE(poll_input(*m, f11));
    EXPECT_FALSE(poll_input(*m, held({})));
    EXPECT_TRUE(poll_input(*m, held({kKeyF11, kKeyA})));
    EXPECT_FALSE(poll_input(*m, held({kKeyA})));
}

// Polls with `host` held until typing has ended (or `limit` polls) and returns the rows of each poll.
std::vector<Rows> type_frames(Machine& m, int limit, const HostKeys& host = {}) {
    std::vector<Rows> frames;
    for (int i = 0; i < limit && m.input.typingActive; ++i) {
        poll_input(m, host);
        frames.push_back(m.input.pendingRows);
    }
    return frames;
}

TEST(Typing, OneCharacterEverySecondFrameAndAPauseAfterReturn) {
    auto m = make_machine();
    ASSERT_TRUE(typing_start(*m, "10 PRINT\r\n"));
    const std::vector<Rows> frames = type_frames(*m, 100);
    std::vector<Rows> expected;
    for (const char* key : {"1", "0", "SPACE", "P", "R", "I", "N", "T", "RETURN"}) {
        expected.push_back(kNoKey);
        expected.push_back(rows_with({key}));
    }
    for (int f = 0; f < 10; ++f) expected.push_back(kNoKey); // the line is being stored
    for (int f = 0; f < 4; ++f) expected.push_back(kNoKey);  // LF presses nothing; the end takes a turn
    EXPECT_EQ(frames, expected);
    EXPECT_FALSE(m->input.typingActive);
    poll_input(*m, {});
    EXPECT_EQ(m->input.pendingRows, kNoKey);
}

TEST(Typing, EveryCharacterPressesItsKeys) {
    struct Char {
        char c;
        std::initializer_list<std::string_view> keys;
    };
    const Char table[] = {
        {' ', {"SPACE"}}, {'A', {"A"}}, {'z', {"Z"}}, {'q', {"Q"}}, {'0', {"0"}},
        {'9', {"9"}}, {',', {","}}, {'.', {"."}}, {'-', {"-"}}, {':', {":"}}, {';', {";"}},
        {'!', {"SHIFT", "1"}}, {'"', {"SHIFT", "2"}}, {'#', {"SHIFT", "3"}}, {'$', {"SHIFT", "4"}},
        {'%', {"SHIFT", "5"}}, {'&', {"SHIFT", "6"}}, {'\'', {"SHIFT", "7"}}, {'(', {"SHIFT", "8"}},
        {')', {"SHIFT", "9"}}, {'@', {"SHIFT", "0"}}, {'=', {"SHIFT", "-"}}, {'*', {"SHIFT", ":"}},
        {'+', {"SHIFT", ";"}}, {'<', {"SHIFT", ","}}, {'>', {"SHIFT", "."}}, {'/', {"SHIFT", "K"}},
        {'?', {"SHIFT", "L"}}, {'[', {"SHIFT", "O"}}, {']', {"SHIFT", "P"}}, {'\\', {"SHIFT", "M"}},
        {'^', {"SHIFT", "N"}},
        // No key, but a turn each.
        {'\n', {}}, {'\t', {}}, {'\x01', {}}, {'_', {}}, {'`', {}}, {'{', {}}, {'|', {}}, {'}', {}},
        {'~', {}}, {'\x7F', {}}, {'\x80', {}}, {'\xC1', {}}, {'\xE1', {}}, {'\xFF', {}},
        {'\r', {"RETURN"}}, // last: the next turn waits ten frames more
    };
    std::string text;
    for (const Char& ch : table) text += ch.c;
    auto m = make_machine();
    ASSERT_TRUE(typing_start(*m, text));
    const std::vector<Rows> frames = type_frames(*m, 1000);
    ASSERT_EQ(frames.size(), 2 * std::size(table) + 10 + 2);
    for (size_t i = 0; i < std::size(table); ++i) {
        EXPECT_EQ(frames[2 * i], kNoKey) << "before character " << i;
        EXPECT_EQ(frames[2 * i + 1], rows_with(table[i].keys)) << "character " << i << " code " << int(uint8_t(table[i].c));
    }
}

TEST(Typing, LowerCaseIsTypedAsCapitalsAndHeldKeysStayPressed) {
    auto m = make_machine();
    ASSERT_TRUE(typing_start(*m, "print"));
    const std::vector<Rows> frames = type_frames(*m, 100, held({kKeyLeftShift}));
    ASSERT_EQ(frames.size(), 12u);
    const char* word = "PRINT";
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(frames[2 * i], rows_with({"SHIFT"}));
        EXPECT_EQ(frames[2 * i + 1], rows_with({"SHIFT", std::string_view(word + i, 1)})) << word[i];
    }
}

TEST(Typing, TextMustFit65535Bytes) {
    auto m = make_machine();
    ASSERT_TRUE(typing_start(*m, "B"));
    EXPECT_FALSE(typing_start(*m, std::string(65536, 'A')));
    // The refused text changed nothing: B is still on its way.
    const std::vector<Rows> frames = type_frames(*m, 100);
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(frames[1], rows_with({"B"}));

    std::string longest(65535, 'A');
    longest.back() = 'Q';
    ASSERT_TRUE(typing_start(*m, longest));
    const std::vector<Rows> all = type_frames(*m, 200000);
    ASSERT_EQ(all.size(), 2u * 65535 + 2);
    EXPECT_EQ(all[2 * 65534 + 1], rows_with({"Q"}));
}

TEST(Typing, ASecondStartContinuesWithTheNewText) {
    auto m = make_machine();
    ASSERT_TRUE(typing_start(*m, "AB"));
    poll_input(*m, {});
    poll_input(*m, {});
    EXPECT_EQ(m->input.pendingRows, rows_with({"A"}));
    ASSERT_TRUE(typing_start(*m, "CD"));
    const std::vector<Rows> frames = type_frames(*m, 100);
    ASSERT_EQ(frames.size(), 6u);
    EXPECT_EQ(frames[1], rows_with({"C"}));
    EXPECT_EQ(frames[3], rows_with({"D"}));
    for (size_t f : {0, 2, 4, 5}) EXPECT_EQ(frames[f], kNoKey) << f;
}

} // namespace

TEST(TypingText, HostLineEndsGetTheirReturn) {
    EXPECT_EQ(text_with_returns("10 PRINT\n20 END\n"), "10 PRINT\r\n20 END\r\n");
    EXPECT_EQ(text_with_returns("A\r\nB"), "A\r\nB"); // already ended with CR LF
    EXPECT_EQ(text_with_returns("\n\n"), "\r\n\r\n");
    EXPECT_EQ(text_with_returns(""), "");
}

// The line editor (tests/support/line_editor.asm) takes keys as the BASIC ROM
// does and is busy for six frames after each RETURN. Pasted lines, long and
// short, must reach it whole.
extern const uint8_t kLineEditorImage[];
extern const size_t kLineEditorImage_size;

TEST(Typing, ALineEditorBusyAfterReturnGetsEveryCharacter) {
    for (const int32_t model : {kModelVZ200, kModelVZ300}) {
        auto m = std::make_unique<Machine>();
        MachineIo io;
        m->settings.model = model;
        m->settings.romFile[0] = 0;
        machine_reset(*m);
        std::memcpy(m->state.memory.data(), kLineEditorImage, kLineEditorImage_size);
        const std::string text =
            "10 REM THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG 0123456789\r"
            "20 A\r"
            "\r"
            "30 X:Y;Z,1.5-2\r"
            "40 LET ABCDEFGHIJKLMNOPQRSTUVWXYZ 9876543210 ABCDEFGHIJKLMNOPQRST\r"
            "50 GOTO 10\r";
        ASSERT_TRUE(typing_start(*m, text));
        for (int f = 0; f < 2000 && m->input.typingActive; ++f) {
            machine_run_frame(*m, io);
            poll_input(*m, {});
        }
        for (int f = 0; f < 20; ++f) machine_run_frame(*m, io), poll_input(*m, {});
        const std::string got(reinterpret_cast<const char*>(&m->state.memory[0x8000]), text.size() + 1);
        EXPECT_EQ(got, text + '\0') << "model " << model;
    }
}

// Keys by character and short presses, as the desktop's key events give them.
TEST(KeyboardHeld, ATapLastsTwoPollsUnlessTheNextKeyComesAndCharactersBringTheirOwnShift) {
    auto m = std::make_unique<Machine>();
    const auto pressed = [&](int row, int bit) { return !(m->input.pendingRows[size_t(row)] & (1 << bit)); };
    HostKeys keys;
    keys.set(kKeyReturn); // pressed and released between two polls: passed as held once
    poll_input(*m, keys);
    EXPECT_TRUE(pressed(6, 2));
    poll_input(*m, HostKeys{});
    EXPECT_TRUE(pressed(6, 2)); // the second poll
    poll_input(*m, HostKeys{});
    EXPECT_FALSE(pressed(6, 2));

    // '"' then ';' one poll later: the semicolon key alone, not SHIFT and it ('+').
    HostKeys shiftHeld;
    shiftHeld.set(kKeyLeftShift);
    const char quote[] = {'"'};
    poll_input(*m, shiftHeld, {}, quote);
    EXPECT_TRUE(pressed(3, 1) && pressed(2, 2));
    EXPECT_EQ(m->input.pendingRows[7], 0xFF); // not the colon in the key's place
    const char semicolon[] = {';'};
    poll_input(*m, shiftHeld, {}, semicolon); // the host's Shift still down
    EXPECT_TRUE(pressed(7, 4));
    EXPECT_FALSE(pressed(2, 2));
    EXPECT_FALSE(pressed(3, 1));
    poll_input(*m, HostKeys{});
    poll_input(*m, HostKeys{});
    for (const uint8_t row : m->input.pendingRows) EXPECT_EQ(row, 0xFF);
}
