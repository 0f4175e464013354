#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "files/vz_file.h"
#include "machine/machine.h"
#include "support/temp_dir.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes vz(uint8_t type, uint16_t start, const Bytes& program) {
    Bytes b(24 + program.size(), 0);
    std::copy_n("VZF0TEST", 8, b.begin());
    b[21] = type;
    b[22] = uint8_t(start);
    b[23] = uint8_t(start >> 8);
    std::copy(program.begin(), program.end(), b.begin() + 24);
    return b;
}

Bytes pattern(size_t n, uint8_t seed = 1) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = uint8_t(seed + i * 13);
    return b;
}

uint16_t word_at(const Machine& m, uint16_t at) {
    return uint16_t(m.state.memory[at] | m.state.memory[at + 1] << 8);
}
void set_word(Machine& m, uint16_t at, uint16_t v) {
    m.state.memory[at] = uint8_t(v);
    m.state.memory[at + 1] = uint8_t(v >> 8);
}

class VzFile : public testing::Test {
protected:
    void SetUp() override {
        m->state.memory.fill(0xE5);
        set_word(*m, kBasicStartPointer, 0x1111);
        set_word(*m, kBasicEndPointer, 0x2222);
        m->z80.pc = 0x0123;
        m->z80.sp = 0x7FF0;
        m->z80.hl = 0x4242;
    }
    FileOutcome load(const Bytes& file) { return vz_load(*m, dir.write("p.vz", file)); }
    Bytes memory(uint32_t from, uint32_t to) const { // [from, to)
        return Bytes(m->state.memory.begin() + from, m->state.memory.begin() + to);
    }

    std::unique_ptr<Machine> m = std::make_unique<Machine>();
    TempDir dir;
};

TEST_F(VzFile, MachineCodeSetsPcAndLeavesThePointers) {
    const Bytes program = pattern(100);
    ASSERT_TRUE(load(vz(kVzTypeMachineCode, 0x8000, program)).done);
    EXPECT_EQ(memory(0x8000, 0x8064), program);
    EXPECT_EQ(m->state.memory[0x7FFF], 0xE5);
    EXPECT_EQ(m->state.memory[0x8064], 0xE5);
    EXPECT_EQ(m->z80.pc, 0x8000);
    EXPECT_EQ(m->z80.sp, 0x7FF0);
    EXPECT_EQ(m->z80.hl, 0x4242);
    EXPECT_EQ(word_at(*m, kBasicStartPointer), 0x1111);
    EXPECT_EQ(word_at(*m, kBasicEndPointer), 0x2222);
}

// A halted processor would step one byte past the start when the next
// interrupt wakes it, so a load clears the halt.
TEST_F(VzFile, MachineCodeStartsAHaltedProcessorAtItsAddress) {
    m->z80.int_state = kZ80Halted | kZ80Iff1 | kZ80Im1;
    ASSERT_TRUE(load(vz(kVzTypeMachineCode, 0x8000, pattern(4))).done);
    EXPECT_EQ(m->z80.pc, 0x8000);
    EXPECT_EQ(m->z80.int_state, kZ80Iff1 | kZ80Im1);
}

TEST_F(VzFile, EveryOtherTypeLoadsAsBasic) {
    for (uint8_t type : {kVzTypeBasic, uint8_t(0x00), uint8_t(0xF2), uint8_t(0xFF)}) {
        SCOPED_TRACE(int(type));
        SetUp();
        const Bytes program = pattern(200, type);
        ASSERT_TRUE(load(vz(type, 0x7AE9, program)).done);
        EXPECT_EQ(memory(0x7AE9, 0x7BB1), program);
        EXPECT_EQ(m->state.memory[0x7BB1], 0xE5);
        EXPECT_EQ(memory(kBasicStartPointer, kBasicStartPointer + 2), (Bytes{0xE9, 0x7A}));
        EXPECT_EQ(memory(kBasicEndPointer, kBasicEndPointer + 2), (Bytes{0xB1, 0x7B}));
        EXPECT_EQ(m->z80.pc, 0x0123);
    }
}

TEST_F(VzFile, BasicPointersAreSetAfterTheProgramBytes) {
    const Bytes program = pattern(0x60);
    ASSERT_TRUE(load(vz(kVzTypeBasic, 0x78A0, program)).done);
    EXPECT_EQ(word_at(*m, kBasicStartPointer), 0x78A0);
    EXPECT_EQ(word_at(*m, kBasicEndPointer), 0x7900);
    EXPECT_EQ(m->state.memory[0x78A3], program[3]);
    EXPECT_EQ(m->state.memory[0x78A6], program[6]);
    EXPECT_EQ(m->state.memory[0x78FB], program[0x5B]);
}

TEST_F(VzFile, HeaderOnlyFileSetsOnlyWhatItsTypeSets) {
    const auto before = m->state.memory;
    ASSERT_TRUE(load(vz(kVzTypeBasic, 0x9000, {})).done);
    EXPECT_EQ(word_at(*m, kBasicStartPointer), 0x9000);
    EXPECT_EQ(word_at(*m, kBasicEndPointer), 0x9000);
    EXPECT_EQ(m->state.memory[0x9000], 0xE5);

    m->state.memory = before;
    ASSERT_TRUE(load(vz(kVzTypeMachineCode, 0x9000, {})).done);
    EXPECT_EQ(m->z80.pc, 0x9000);
    EXPECT_EQ(m->state.memory, before);
}

TEST_F(VzFile, LoadsIntoRomAndAboveRamTopWhateverTheSettings) {
    m->settings.writeToRom = 0;
    m->settings.ramTop = kRamTop8k;
    const Bytes low = pattern(32);
    ASSERT_TRUE(load(vz(kVzTypeMachineCode, 0x3FF0, low)).done);
    EXPECT_EQ(memory(0x3FF0, 0x4010), low);
    const Bytes high = pattern(16, 7);
    ASSERT_TRUE(load(vz(kVzTypeMachineCode, 0xA000, high)).done);
    EXPECT_EQ(memory(0xA000, 0xA010), high);
}

TEST_F(VzFile, RefusedFilesChangeNothing) {
    const auto memoryBefore = m->state.memory;
    const Z80Registers registersBefore = m->z80;
    auto unchanged = [&] {
        EXPECT_EQ(m->state.memory, memoryBefore);
        EXPECT_EQ(m->z80.pc, registersBefore.pc);
    };

    const Bytes tooLong = vz(kVzTypeMachineCode, 0x8000, pattern(32768 - 24 + 1));
    EXPECT_FALSE(load(tooLong).done);
    EXPECT_FALSE(vz_load_bytes(*m, tooLong).done);
    unchanged();
    for (size_t size : {size_t(0), size_t(1), size_t(23)}) {
        Bytes shortFile(size, 0xF1);
        EXPECT_FALSE(load(shortFile).done) << size;
        EXPECT_FALSE(vz_load_bytes(*m, shortFile).done) << size;
        unchanged();
    }
    EXPECT_FALSE(vz_load(*m, dir.file("absent.vz")).done);
    unchanged();

    // The largest file that fits: 32744 program bytes.
    const Bytes largest = pattern(32768 - 24);
    ASSERT_TRUE(load(vz(kVzTypeMachineCode, 0x8000, largest)).done);
    EXPECT_EQ(memory(0x8000, 0x8000 + 32744), largest);
}

TEST_F(VzFile, LoadStopsAtTheTopOfTheAddressSpace) {
    const Bytes program = pattern(32);
    ASSERT_TRUE(load(vz(kVzTypeBasic, 0xFFF0, program)).done);
    EXPECT_EQ(memory(0xFFF0, 0x10000), Bytes(program.begin(), program.begin() + 16));
    EXPECT_EQ(memory(0x0000, 0x0010), Bytes(16, 0xE5)); // no wrap to 0
    EXPECT_EQ(word_at(*m, kBasicStartPointer), 0xFFF0);
    EXPECT_EQ(word_at(*m, kBasicEndPointer), 0x0010); // start + n in 16 bits
}

TEST_F(VzFile, SaveWritesTheProgramBetweenThePointersInclusive) {
    set_word(*m, kBasicStartPointer, 0x7AE9);
    set_word(*m, kBasicEndPointer, 0x7AEC);
    const Bytes program = {0x0A, 0x0B, 0x0C, 0x0D};
    std::copy(program.begin(), program.end(), m->state.memory.begin() + 0x7AE9);
    const std::string path = dir.file("prog"); // no extension is added
    ASSERT_TRUE(vz_save(*m, path).done);
    const Bytes file = TempDir::read(path);
    ASSERT_EQ(file.size(), 28u);
    EXPECT_EQ(Bytes(file.begin() + 21, file.end()), (Bytes{0xF0, 0xE9, 0x7A, 0x0A, 0x0B, 0x0C, 0x0D}));
    EXPECT_FALSE(std::filesystem::exists(path + ".vz"));

    // Loaded into another machine, the program is the same and the end
    // pointer one higher (the byte at the end pointer travelled along).
    auto other = std::make_unique<Machine>();
    ASSERT_TRUE(vz_load(*other, path).done);
    EXPECT_EQ(Bytes(other->state.memory.begin() + 0x7AE9, other->state.memory.begin() + 0x7AED), program);
    EXPECT_EQ(word_at(*other, kBasicStartPointer), 0x7AE9);
    EXPECT_EQ(word_at(*other, kBasicEndPointer), 0x7AED);
}

TEST_F(VzFile, SaveReachesTheLastAddressButNoFurther) {
    set_word(*m, kBasicStartPointer, 0xFF00);
    set_word(*m, kBasicEndPointer, 0xFFFF);
    m->state.memory[0xFFFF] = 0x99;
    const std::string path = dir.file("top.vz");
    ASSERT_TRUE(vz_save(*m, path).done);
    const Bytes file = TempDir::read(path);
    ASSERT_EQ(file.size(), 24u + 256u);
    EXPECT_EQ(file.back(), 0x99);
}

TEST_F(VzFile, ImpossibleSavesLeaveAnExistingFileAlone) {
    const Bytes precious = pattern(300);
    const std::string path = dir.write("keep.vz", precious);

    set_word(*m, kBasicStartPointer, 0x8000);
    set_word(*m, kBasicEndPointer, 0x7FFF);
    EXPECT_FALSE(vz_save(*m, path).done);
    EXPECT_EQ(TempDir::read(path), precious);

    // 32745 bytes do not fit a VZ file; 32744 do.
    set_word(*m, kBasicEndPointer, uint16_t(0x8000 + 32744));
    EXPECT_FALSE(vz_save(*m, path).done);
    EXPECT_EQ(TempDir::read(path), precious);
    set_word(*m, kBasicEndPointer, uint16_t(0x8000 + 32743));
    ASSERT_TRUE(vz_save(*m, path).done);
    EXPECT_EQ(TempDir::read(path).size(), 32768u);
}

} // namespace
