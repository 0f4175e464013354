// The ROM's cassette format and the converter: programs through .vz, .cas
// and .wav, recordings as a real cassette leaves them, and damage reported
// where it is.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "files/tape_files.h"
#include "support/tape_signals.h"
#include "support/temp_dir.h"

namespace {

using namespace tape_test;

Bytes vz(uint8_t type, uint16_t start, const char* name, const Bytes& program) {
    Bytes b;
    b.reserve(24 + program.size());
    b.resize(24);
    std::memcpy(b.data(), "VZF0", 4);
    std::memcpy(b.data() + 4, name, std::strlen(name));
    b[21] = type;
    b[22] = uint8_t(start);
    b[23] = uint8_t(start >> 8);
    b.insert(b.end(), program.begin(), program.end());
    return b;
}

Bytes every_byte(size_t n) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = uint8_t(i * 7 + i / 256);
    return b;
}

// 10 PRINT "HI", as the BASIC ROM stores it at the start of BASIC.
const Bytes kBasicLine = {0xF4, 0x7A, 0x0A, 0x00, 0xB2, 0x20, 0x22, 0x48, 0x49, 0x22, 0x00, 0x00, 0x00};

// Where data byte k of a program named `name` begins in the samples the
// converter writes: the gap, then 312 samples a byte from the leader on.
size_t data_sample(size_t nameLength, size_t k) {
    const size_t before = 255 + 5 + 1 + nameLength + 1 + 4;
    return 39 + 66 + (before + k) * 8 * 39; // after the lead-in, and the pause after the name
}

TEST(TapeFormat, ByteStreamOfAProgram) {
    TapeProgram p;
    p.type = 0xF1;
    p.name = "AB";
    p.start = 0x8000;
    p.data = {0x01, 0x02, 0xFF};
    Bytes expected(255, 0x80);
    // sync, type, name and its 0, start 8000, end 8003, data, then the
    // checksum 00+80+03+80+01+02+FF = 0x0205
    const Bytes rest = {0xFE, 0xFE, 0xFE, 0xFE, 0xFE, 0xF1, 'A', 'B', 0x00, 0x00, 0x80,
                        0x03, 0x80, 0x01, 0x02, 0xFF, 0x05, 0x02};
    expected.insert(expected.end(), rest.begin(), rest.end());
    EXPECT_EQ(tape_bytes(p), expected);

    TapeProgram back;
    ASSERT_TRUE(tape_parse_cas(expected, back).done);
    EXPECT_EQ(back.type, 0xF1);
    EXPECT_EQ(back.name, "AB");
    EXPECT_EQ(back.start, 0x8000);
    EXPECT_EQ(back.data, p.data);
}

TEST(TapeFormat, EachBitIsThirtyNineSamplesOfTheRecordersWaveforms) {
    Bytes one, zero;
    for (const Bytes* w : {&kShortHigh, &kShortLow, &kShortHigh, &kShortLow, &kShortHigh, &kShortLow})
        one.insert(one.end(), w->begin(), w->end());
    for (const Bytes* w : {&kShortHigh, &kShortLow, &kLongHigh, &kLongLow}) zero.insert(zero.end(), w->begin(), w->end());
    ASSERT_EQ(one.size(), 39u);
    ASSERT_EQ(zero.size(), 39u);

    // 0xA6 = 1010 0110, most significant bit first, after the recorder's gap.
    Bytes expected(39, 0x80);
    for (const int bit : {1, 0, 1, 0, 0, 1, 1, 0}) {
        const Bytes& b = bit ? one : zero;
        expected.insert(expected.end(), b.begin(), b.end());
    }
    EXPECT_EQ(tape_samples(Bytes{0xA6}), expected);
}

class TapeConvert : public testing::Test {
protected:
    std::string put(const std::string& name, const Bytes& b) { return dir.write(name, b); }
    FileOutcome convert(const std::string& in, const std::string& out) {
        return tape_convert(dir.file(in), dir.file(out));
    }
    Bytes read(const std::string& name) { return TempDir::read(dir.file(name)); }
    // The 8-bit samples of a .wav the converter wrote.
    Bytes samples_of(const std::string& name) {
        const Bytes f = read(name);
        return Bytes(f.begin() + 44, f.end());
    }

    TempDir dir;
};

TEST_F(TapeConvert, RoundTripsKeepTheProgramByteForByte) {
    const Bytes programs[] = {vz(0xF1, 0x8000, "MACHINE CODE 1234", every_byte(700)), // a name of 17 characters
                              vz(0xF0, 0x7AE9, "HELLO", kBasicLine)};
    for (const Bytes& original : programs) {
        SCOPED_TRACE(int(original[21]));
        put("a.vz", original);
        ASSERT_TRUE(convert("a.vz", "b.wav").done);
        ASSERT_TRUE(convert("b.wav", "c.vz").message.empty());
        EXPECT_EQ(read("c.vz"), original);

        ASSERT_TRUE(convert("a.vz", "d.cas").done);
        ASSERT_TRUE(convert("d.cas", "e.wav").done);
        ASSERT_TRUE(convert("e.wav", "f.vz").done);
        EXPECT_EQ(read("f.vz"), original);
        EXPECT_EQ(read("e.wav"), read("b.wav"));

        // 22050 Hz, 8-bit, mono, and a byte of 312 samples from the leader on,
        // after the lead-in and with the 3 ms pause after the name.
        const Bytes wav = read("b.wav");
        const size_t stream = 255 + 5 + 1 + strnlen(reinterpret_cast<const char*>(&original[4]), 17) + 1 + 4 +
                              (original.size() - 24) + 2;
        ASSERT_EQ(wav.size(), 44 + 39 + 66 + stream * 312);
        EXPECT_EQ(wav[22], 1);
        EXPECT_EQ(wav[24] | wav[25] << 8, 22050);
        EXPECT_EQ(wav[34], 8);
    }
}

// A machine-code file of nothing (the end address equals the start) is still
// a file a user can save and load.
TEST_F(TapeConvert, AnEmptyProgramRoundTrips) {
    const Bytes original = vz(0xF1, 0x8000, "EMPTY", {});
    put("a.vz", original);
    for (const char* via : {"b.wav", "b.cas"}) {
        SCOPED_TRACE(via);
        ASSERT_TRUE(convert("a.vz", via).done);
        const FileOutcome r = convert(via, "c.vz");
        ASSERT_TRUE(r.done) << r.message;
        EXPECT_EQ(read("c.vz"), original);
    }
    // The stream holds the end address 0x8000 and the checksum of the addresses alone.
    const Bytes cas = read("b.cas");
    const Bytes tail = {'E', 'M', 'P', 'T', 'Y', 0x00, 0x00, 0x80, 0x00, 0x80, 0x00, 0x01};
    ASSERT_GE(cas.size(), tail.size());
    EXPECT_EQ(Bytes(cas.end() - long(tail.size()), cas.end()), tail);
}

// The end address is 16 bits: a program may end at 0xFFFF, the last byte
// at 0xFFFE, but one whose end would be 0x10000 cannot be put on a tape.
TEST_F(TapeConvert, AProgramEndingPastTheLastAddressIsRefused) {
    const Bytes fits = vz(0xF1, 0x8017, "TOP", every_byte(32744)); // 0x8017 + 0x7FE8 = 0xFFFF
    put("fits.vz", fits);
    ASSERT_TRUE(convert("fits.vz", "fits.cas").done);
    const FileOutcome back = convert("fits.cas", "back.vz");
    ASSERT_TRUE(back.done) << back.message;
    EXPECT_EQ(read("back.vz"), fits);

    put("over.vz", vz(0xF1, 0x8018, "TOP", every_byte(32744))); // would end at 0x10000
    for (const char* target : {"over.cas", "over.wav"}) {
        SCOPED_TRACE(target);
        const FileOutcome r = convert("over.vz", target);
        EXPECT_FALSE(r.done);
        EXPECT_EQ(r.message, "The program runs past 0xFFFF, where a tape's end address cannot point.");
        EXPECT_FALSE(std::filesystem::exists(dir.file(target)));
    }
}

TEST_F(TapeConvert, QuietOffCentreInvertedResampledRecordingDecodes) {
    const Bytes original = vz(0xF1, 0x9000, "DEGRADED", every_byte(400));
    put("a.vz", original);
    ASSERT_TRUE(convert("a.vz", "clean.wav").done);
    // 44.1 kHz, 16-bit, stereo, a fifth of the level, a third of full scale
    // off centre, upside down.
    const std::vector<double> x = degrade(resample(values_of(samples_of("clean.wav")), 22050, 44100), 0.2, 1.0 / 3, true);
    put("worn.wav", wav_file({44100, 2, Sample::s16}, x));
    const FileOutcome r = convert("worn.wav", "b.vz");
    ASSERT_TRUE(r.done) << r.message;
    EXPECT_EQ(read("b.vz"), original);
}

TEST_F(TapeConvert, EverySampleFormatRateAndChannelCountDecodes) {
    const Bytes original = vz(0xF0, 0x7AE9, "FORMATS", kBasicLine);
    put("a.vz", original);
    ASSERT_TRUE(convert("a.vz", "clean.wav").done);
    const std::vector<double> clean = values_of(samples_of("clean.wav"));
    struct Case {
        WavShape shape;
        std::vector<double> gains;
    };
    const Case cases[] = {
        {{22050, 1, Sample::u8}, {}},
        {{22050, 1, Sample::s16}, {}},
        {{22050, 1, Sample::s24}, {}},
        {{22050, 1, Sample::s32}, {}},
        {{22050, 1, Sample::f32}, {}},
        {{48000, 2, Sample::s24, true}, {}},
        {{44100, 1, Sample::f32, true}, {}},
        {{32000, 3, Sample::s16}, {1.0, 0.0, 0.5}}, // channels mixed, one of them silent
        {{8000, 1, Sample::u8}, {}},
        {{192000, 1, Sample::s16}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.shape.rate) + " Hz, " + std::to_string(sample_bits(c.shape.sample)) +
                     " bits, " + std::to_string(c.shape.channels) + " channels");
        const std::vector<double> frames = resample(clean, 22050, c.shape.rate);
        put("f.wav", wav_file(c.shape, frames, c.gains));
        TapeSignal signal;
        ASSERT_EQ(tape_read_signal(dir.file("f.wav"), signal).status, WavStatus::ok);
        // Below 22050 Hz the levels come six to an 8000 Hz sample.
        const uint32_t factor = c.shape.rate == 8000 ? 6 : 1;
        EXPECT_EQ(signal.rate, c.shape.rate * factor);
        EXPECT_EQ(signal.levels.size(), frames.size() * factor);
        const FileOutcome r = convert("f.wav", "b.vz");
        ASSERT_TRUE(r.done) << r.message;
        EXPECT_EQ(read("b.vz"), original);
    }
}

TEST_F(TapeConvert, RefusesAudioThatIsNotSamplesAndSaysWhatItIs) {
    const std::vector<double> tone = values_of(tape_samples(Bytes(20, 0x80)));
    Bytes mp3 = wav_file({22050, 1, Sample::s16}, tone);
    mp3[20] = 0x55;
    Bytes extensibleOther = wav_file({22050, 1, Sample::s16, true}, tone);
    extensibleOther[44 + 4] = 0x11; // a GUID of some other family
    Bytes twelveBits = wav_file({22050, 1, Sample::s16}, tone);
    twelveBits[34] = 12;
    struct Case {
        Bytes file;
        WavStatus status;
        const char* says;
    };
    const Case cases[] = {
        {mp3, WavStatus::notPcm, "compressed audio (format 0x0055, MPEG Layer 3)"},
        {extensibleOther, WavStatus::notPcm, "not PCM"},
        {Bytes(300, 0x80), WavStatus::notWav, "not a WAV file"},
        {twelveBits, WavStatus::badFormat, "12-bit"},
        {wav_file({7999, 1, Sample::u8}, tone), WavStatus::badFormat, "7999 samples a second"},
        {wav_file({192001, 1, Sample::u8}, tone), WavStatus::badFormat, "192001 samples a second"},
        {wav_file({8000, 1, Sample::u8}, tone), WavStatus::ok, ""},
        {wav_file({192000, 1, Sample::u8}, tone), WavStatus::ok, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.says);
        TapeSignal signal;
        const WavRead r = tape_read_signal(put("x.wav", c.file), signal);
        EXPECT_EQ(r.status, c.status);
        EXPECT_NE(r.message.find(c.says), std::string::npos) << r.message;
    }
}

TEST_F(TapeConvert, DamageIsReportedAtItsByteAndNothingIsWritten) {
    const Bytes original = vz(0xF1, 0x8000, "NOISY", every_byte(300));
    put("a.vz", original);
    ASSERT_TRUE(convert("a.vz", "clean.wav").done);
    const Bytes clean = read("clean.wav");
    const Bytes header(clean.begin(), clean.begin() + 44);

    // A burst of noise from the middle of data byte 123 on.
    Bytes samples(clean.begin() + 44, clean.end());
    add_noise_burst(samples, data_sample(5, 123) + 150, 400, 7);
    Bytes noisy = header;
    noisy.insert(noisy.end(), samples.begin(), samples.end());
    put("noisy.wav", noisy);
    const Bytes before = {'k', 'e', 'e', 'p'};
    put("out.vz", before);
    const FileOutcome r = convert("noisy.wav", "out.vz");
    EXPECT_FALSE(r.done);
    EXPECT_NE(r.message.find("(byte 123 of the program's data)"), std::string::npos) << r.message;
    EXPECT_NE(r.message.find("s into the sound"), std::string::npos) << r.message;
    EXPECT_EQ(read("out.vz"), before);

    // A recording cut off in its data.
    Bytes cut = header;
    cut.insert(cut.end(), clean.begin() + 44, clean.begin() + 44 + long(data_sample(5, 40)));
    put("cut.wav", cut);
    const FileOutcome c = convert("cut.wav", "out.vz");
    EXPECT_NE(c.message.find("(byte 40 of the program's data), "), std::string::npos) << c.message;
    EXPECT_NE(c.message.find(": the sound ends."), std::string::npos) << c.message;

    // In a byte stream: a wrong checksum, a damaged sync byte, an odd type.
    ASSERT_TRUE(convert("a.vz", "a.cas").done);
    Bytes cas = read("a.cas");
    cas.back() ^= 0x01;
    put("sum.cas", cas);
    const FileOutcome s = convert("sum.cas", "out.vz");
    EXPECT_NE(s.message.find("checksum"), std::string::npos) << s.message;
    cas = read("a.cas");
    cas[257] = 0xEE;
    put("sync.cas", cas);
    EXPECT_EQ(convert("sync.cas", "out.vz").message,
              "Decoding failed at byte 257 of the file (the sync bytes): 0xEE stands where a sync byte 0xFE belongs.");
    cas = read("a.cas");
    cas[260] = 0xF2;
    put("type.cas", cas);
    EXPECT_NE(convert("type.cas", "out.vz").message.find("byte 260 of the file (the file type)"), std::string::npos);

    EXPECT_EQ(read("out.vz"), before);
    // Nothing half-written is left beside the target.
    for (const auto& entry : std::filesystem::directory_iterator(dir.file("")))
        EXPECT_EQ(entry.path().filename().string().find("out.vz."), std::string::npos) << entry.path();
}

TEST_F(TapeConvert, UnwritableTargetAndUnknownExtensionsAreRefused) {
    put("a.vz", vz(0xF1, 0x8000, "X", every_byte(10)));
    const FileOutcome r = convert("a.vz", "missing/folder/b.wav");
    EXPECT_FALSE(r.done);
    EXPECT_FALSE(std::filesystem::exists(dir.file("missing")));
    EXPECT_NE(convert("a.vz", "b.mp3").message.find("extension"), std::string::npos);
    EXPECT_NE(convert("a.bin", "b.vz").message.find("extension"), std::string::npos);
    // A program that a .vz file cannot hold.
    TapeProgram big;
    big.start = 0x1000;
    big.data.assign(40000, 0x55);
    ASSERT_TRUE(tape_write_program(dir.file("big.cas"), big).done);
    EXPECT_FALSE(convert("big.cas", "big.vz").done);
    EXPECT_FALSE(std::filesystem::exists(dir.file("big.vz")));
}

} // namespace
