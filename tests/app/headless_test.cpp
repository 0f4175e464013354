// kolt-headless run as a user runs it: a separate process in a folder with no
// system ROM, so the built-in program starts; its output, exit codes and files.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "app/png_image.h"
#include "support/temp_dir.h"

namespace {

struct Outcome {
    int exitCode = -1;
    std::string out, err;
};

Outcome run_in(const TempDir& dir, const std::string& args) {
    const std::string errFile = dir.file("stderr.txt");
    const std::string command = "cd '" + dir.file("") + "' && '" KOLT_HEADLESS "' " + args + " 2>'" + errFile + "'";
    Outcome r;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return r;
    std::array<char, 4096> buffer;
    size_t n;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) r.out.append(buffer.data(), n);
    const int status = pclose(pipe);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream e(errFile);
    std::stringstream ss;
    ss << e.rdbuf();
    r.err = ss.str();
    return r;
}

} // namespace

TEST(Headless, BuiltInProgramTypesAndShows) {
    TempDir dir;
    const Outcome r = run_in(dir, "--frames 30 --type 'kolt 42\\r' --screenshot shot.png --print-screen");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("NO SYSTEM ROM WAS FOUND"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("KOLT 42"), std::string::npos) << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 16);

    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
    std::string why;
    ASSERT_TRUE(png_read_rgb(dir.file("shot.png"), width, height, rgb, &why)) << why;
    ASSERT_EQ(width, 320);
    ASSERT_EQ(height, 240);
    auto pixel = [&](int x, int y) {
        const size_t at = (size_t(y) * 320 + size_t(x)) * 3;
        return uint32_t(rgb[at] << 16 | rgb[at + 1] << 8 | rgb[at + 2]);
    };
    EXPECT_EQ(pixel(5, 5), 0x000000u);      // text-mode border
    EXPECT_EQ(pixel(40, 200), 0x00FF00u);   // the screen's background, lower rows
    // The title row is inverse: dark green cells with bright letters.
    int dark = 0;
    for (int x = 32; x < 288; ++x) dark += pixel(x, 25 + 6) == 0x004000u;
    EXPECT_GT(dark, 100);
}

TEST(Headless, LoadedProgramRunsAndShowsItsEffect) {
    TempDir dir;
    // Machine code at 8000h: copy "VZ OK" into the top-left of the screen, then wait.
    const std::vector<uint8_t> code = {
        0x21, 0x0E, 0x80,       // LD HL,800Eh (the text)
        0x11, 0x00, 0x70,       // LD DE,7000h
        0x01, 0x05, 0x00,       // LD BC,5
        0xED, 0xB0,             // LDIR
        0xF3,                   // DI
        0x18, 0xFE,             // JR $
        0x56, 0x5A, 0x60, 0x4F, 0x4B, // "VZ OK" as screen codes (bit 6 set: the ROM's own style)
    };
    std::vector<uint8_t> file(24, 0);
    file[21] = 0xF1;
    file[22] = 0x00;
    file[23] = 0x80;
    file.insert(file.end(), code.begin(), code.end());
    dir.write("prog.vz", file);
    const Outcome r = run_in(dir, "--frames 5 --load prog.vz --frames 2 --print-screen");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, 5), "VZ OK");
}

TEST(Headless, DebuggerOptions) {
    TempDir dir;
    const Outcome listing = run_in(dir, "--disassemble 0000 0003");
    ASSERT_EQ(listing.exitCode, 0) << listing.err;
    EXPECT_EQ(listing.out.substr(0, 6), "0000  ");
    const Outcome stop = run_in(dir, "--break 0001 --frames 3");
    ASSERT_EQ(stop.exitCode, 0) << stop.err;
    EXPECT_NE(stop.out.find("Stopped at breakpoint 0001"), std::string::npos);
    EXPECT_NE(stop.out.find("PC  0001"), std::string::npos);
    EXPECT_NE(stop.out.find("Flags:  SZ.A.PNC"), std::string::npos);
}

// The program of LoadedProgramRunsAndShowsItsEffect as a .vz file.
void write_copy_program(const TempDir& dir) {
    std::vector<uint8_t> file(24, 0);
    file[21] = 0xF1, file[22] = 0x00, file[23] = 0x80;
    const uint8_t code[] = {0x21, 0x0E, 0x80, 0x11, 0x00, 0x70, 0x01, 0x05, 0x00, // 8000 LD HL; LD DE; LD BC
                            0xED, 0xB0,                                           // 8009 LDIR
                            0xF3,                                                 // 800B DI
                            0x18, 0xFE,                                           // 800C JR $
                            0x56, 0x5A, 0x60, 0x4F, 0x4B};
    file.insert(file.end(), std::begin(code), std::end(code));
    dir.write("prog.vz", file);
}

TEST(Headless, WatchpointStopsWithItsReport) {
    TempDir dir;
    write_copy_program(dir);
    const Outcome r = run_in(dir, "--load prog.vz --watch w:7002-7003 --frames 5");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, 42), "Watchpoint hit: write 7002 = 60 at 8009\nAF") << r.out;
    EXPECT_NE(r.out.find("PC  800B"), std::string::npos) << r.out; // after the LDIR

    const Outcome bad = run_in(dir, "--watch q:7000");
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_NE(bad.err.find("--watch: Unknown watchpoint kind 'q'"), std::string::npos) << bad.err;
}

TEST(Headless, BreakTakesTheWholeListAndStopsAtTheEntry) {
    TempDir dir;
    write_copy_program(dir);
    // The loaded program starts at 8000; 800C, its end, is the eighth address.
    const Outcome r = run_in(dir, "--break 'A000 A001 A002 A003 A004 A005 8000 800C' --load prog.vz --frames 1 --frames 5");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const size_t entry = r.out.find("Stopped at breakpoint 8000\n");
    ASSERT_NE(entry, std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Stopped at breakpoint 800C\n", entry), std::string::npos) << r.out;

    std::string many;
    for (int a = 0; a < 60; ++a) many += "A0" + std::to_string(10 + a) + " ";
    const Outcome bad = run_in(dir, "--break '" + many + "'");
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_NE(bad.err.find("--break: too many breakpoints"), std::string::npos) << bad.err;
}

TEST(Headless, SymbolsBreakAtALabelAndStepOver) {
    TempDir dir;
    write_copy_program(dir);
    const std::string symbols = "add EQU 8009H\nspin = $800C\nnot a symbol line\n";
    dir.write("prog.sym", std::vector<uint8_t>(symbols.begin(), symbols.end()));
    const Outcome r = run_in(dir, "--symbols prog.sym --load prog.vz --break add --frames 5 --step-over 2");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("Skipped 1 malformed line (the first is line 3)"), std::string::npos) << r.err;
    const size_t stop = r.out.find("Stopped at breakpoint 8009\n");
    ASSERT_NE(stop, std::string::npos) << r.out;
    EXPECT_NE(r.out.find("add:\n8009  ED B0       LDIR\n", stop), std::string::npos) << r.out;
    // The LDIR runs to its end, the DI is one step.
    const size_t stepped = r.out.find("PC  800C");
    ASSERT_NE(stepped, std::string::npos) << r.out;
    EXPECT_NE(r.out.find("spin:\n800C  18 FE       JR spin\n", stepped), std::string::npos) << r.out;
    EXPECT_EQ(run_in(dir, "--symbols absent.sym").exitCode, 1);
}

TEST(Headless, RefusesBadOptionsAndFiles) {
    TempDir dir;
    const Outcome unknown = run_in(dir, "--frobnicate");
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_NE(unknown.err.find("Unknown option --frobnicate"), std::string::npos);
    EXPECT_EQ(run_in(dir, "--frames many").exitCode, 2);
    EXPECT_EQ(run_in(dir, "--frames").exitCode, 2);
    const Outcome missing = run_in(dir, "--load absent.vz");
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("absent.vz"), std::string::npos);
    dir.write("short.vz", std::vector<uint8_t>(10, 0));
    EXPECT_EQ(run_in(dir, "--load short.vz").exitCode, 1);
    EXPECT_EQ(run_in(dir, "--rom absent.rom").exitCode, 1);
}

TEST(Headless, ConvertsTapesAndPlaysThem) {
    TempDir dir;
    std::vector<uint8_t> vz(24, 0);
    std::memcpy(vz.data(), "VZF0GAME", 8);
    vz[21] = 0xF1;
    vz[23] = 0x90;
    for (int i = 0; i < 500; ++i) vz.push_back(uint8_t(i * 5));
    dir.write("game.vz", vz);

    const Outcome r = run_in(dir, "--convert game.vz game.wav --convert game.wav game.cas --convert game.cas back.vz");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("Converted game.cas to back.vz: machine code \"GAME\" at 0x9000, 500 bytes"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(TempDir::read(dir.file("back.vz")), vz);
    EXPECT_EQ(run_in(dir, "--tape-play game.cas --frames 5 --tape-play game.wav --frames 5").exitCode, 0);

    // A recording cut short: reported, and no output file.
    std::vector<uint8_t> wav = TempDir::read(dir.file("game.wav"));
    wav.resize(wav.size() / 2);
    dir.write("cut.wav", wav);
    const Outcome cut = run_in(dir, "--convert cut.wav cut.vz");
    EXPECT_EQ(cut.exitCode, 1);
    EXPECT_NE(cut.err.find("--convert: Decoding failed at byte "), std::string::npos) << cut.err;
    EXPECT_NE(cut.err.find("the sound ends"), std::string::npos) << cut.err;
    EXPECT_FALSE(std::ifstream(dir.file("cut.vz")).good());

    EXPECT_EQ(run_in(dir, "--convert game.vz game.mp3").exitCode, 2);
    EXPECT_EQ(run_in(dir, "--convert game.vz").exitCode, 2);
    // Compressed audio is named for what it is.
    wav[20] = 0x55;
    dir.write("song.wav", wav);
    const Outcome mp3 = run_in(dir, "--tape-play song.wav");
    EXPECT_EQ(mp3.exitCode, 1);
    EXPECT_NE(mp3.err.find("compressed audio (format 0x0055"), std::string::npos) << mp3.err;
}

// A program that saves for ever, as a long CSAVE would: the cassette output
// changes every 1035 T-states.
std::vector<uint8_t> saving_program() {
    const uint8_t code[] = {0xF3, 0x3E, 0x04, 0x32, 0x00, 0x68, 0xEE, 0x04, 0x06, 77, 0x10, 0xFE, 0x18, 0xF5};
    std::vector<uint8_t> file(24 + sizeof code, 0);
    file[21] = 0xF1;
    file[23] = 0x80;
    std::copy(std::begin(code), std::end(code), file.begin() + 24);
    return file;
}

TEST(Headless, ARecordingKilledMidwayIsAValidWavOfAllButTheLastSecond) {
    if (std::system("python3 -c 'import wave' 2>/dev/null") != 0)
        GTEST_SKIP() << "python3 is not installed (bash scripts/deps.sh installs it); it checks the WAV here.";
    TempDir dir;
    dir.write("save.vz", saving_program());
    const std::string wav = dir.file("rec.wav");
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (chdir(dir.file("").c_str()) == 0)
            execl(KOLT_HEADLESS, KOLT_HEADLESS, "--load", "save.vz", "--tape-record", "rec.wav", "--frames",
                  "100000000", static_cast<char*>(nullptr));
        _exit(127);
    }
    sleep(3);
    ASSERT_EQ(kill(pid, SIGKILL), 0);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "kolt-headless ended before it was killed";

    const std::string out = dir.file("frames.txt");
    dir.write("check.py", [] {
        const std::string py = "import sys, wave\nw = wave.open(sys.argv[1])\n"
                               "print(w.getnframes(), w.getframerate(), w.getnchannels(), w.getsampwidth())\n";
        return std::vector<uint8_t>(py.begin(), py.end());
    }());
    ASSERT_EQ(std::system(("python3 '" + dir.file("check.py") + "' '" + wav + "' > '" + out + "'").c_str()), 0)
        << "Python's wave module refuses the recording";
    std::ifstream in(out);
    long frames = 0, rate = 0, channels = 0, width = 0;
    in >> frames >> rate >> channels >> width;
    EXPECT_EQ(rate, 22050);
    EXPECT_EQ(channels, 1);
    EXPECT_EQ(width, 1);
    EXPECT_GE(frames, 2 * 22050);
    // What the header holds is there; at most the last second is not.
    const long size = long(TempDir::read(wav).size());
    EXPECT_LE(44 + frames, size);
    EXPECT_LT(size - 44 - frames, 22050 + 100);
}

TEST(Headless, AStateSavedMidRecordingLeavesTheRecordingComplete) {
    TempDir dir;
    dir.write("save.vz", saving_program());
    const Outcome r = run_in(dir, "--load save.vz --tape-record rec.wav --frames 50 --save-state mid.kstate --frames 50");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::vector<uint8_t> w = TempDir::read(dir.file("rec.wav"));
    ASSERT_GT(w.size(), 44u);
    // Two emulated seconds of the program's 6- and 7-sample halves (a half
    // of 1035 T-states is 6.4 samples' time): not the one second at the save.
    EXPECT_GT(w.size() - 44, 2 * 22050u);
    EXPECT_LT(w.size() - 44, 2 * 22050u * 105 / 100);
    EXPECT_EQ(w[40] | w[41] << 8 | w[42] << 16 | uint32_t(w[43]) << 24, w.size() - 44);
}

TEST(Headless, StateSavedInOneProcessContinuesInAnother) {
    TempDir dir;
    const Outcome first = run_in(dir, "--frames 20 --type 'SAVED\\r' --save-state here.kstate "
                                      "--frames 150 --dump-memory a.bin --screenshot a.png");
    ASSERT_EQ(first.exitCode, 0) << first.err;
    const Outcome second =
        run_in(dir, "--load-state here.kstate --frames 150 --dump-memory b.bin --screenshot b.png --print-screen");
    ASSERT_EQ(second.exitCode, 0) << second.err;
    EXPECT_EQ(second.err, "");
    EXPECT_NE(second.out.find("SAVED"), std::string::npos) << second.out;
    EXPECT_EQ(TempDir::read(dir.file("b.bin")), TempDir::read(dir.file("a.bin")));
    EXPECT_EQ(TempDir::read(dir.file("b.png")), TempDir::read(dir.file("a.png")));
}

TEST(Headless, StateErrorsAndMissingAttachments) {
    TempDir dir;
    dir.write("text.kstate", {'n', 'o', 't', ' ', 'a', ' ', 's', 't', 'a', 't', 'e'});
    const Outcome bad = run_in(dir, "--load-state text.kstate --print-screen");
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_NE(bad.err.find("not a KOLT state"), std::string::npos) << bad.err;
    EXPECT_EQ(bad.out, "");
    const Outcome none = run_in(dir, "--load-state none.kstate");
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_NE(none.err.find("none.kstate"), std::string::npos) << none.err;
    EXPECT_EQ(run_in(dir, "--save-state").exitCode, 2);

    // A disk that has gone away is named; the state still loads.
    ASSERT_EQ(run_in(dir, "--disk1 gone.dsk --frames 2 --save-state d.kstate").exitCode, 0);
    std::remove(dir.file("gone.dsk").c_str());
    const Outcome partly = run_in(dir, "--load-state d.kstate --frames 2");
    EXPECT_EQ(partly.exitCode, 0);
    EXPECT_NE(partly.err.find("could not be re-attached: " + dir.file("gone.dsk") + "."), std::string::npos)
        << partly.err;
}

TEST(Headless, ConvertsBasicListingsBothWays) {
    TempDir dir;
    const std::string typed = "20 end\r\n10 ?\"A B\":PRINTX:GOTO10 'HI FOR\r\n";
    dir.write("prog.bas", std::vector<uint8_t>(typed.begin(), typed.end()));
    Outcome r = run_in(dir, "--convert prog.bas prog.vz --convert prog.vz prog.wav --convert prog.wav back.txt");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(r.err.empty()) << r.err;

    std::vector<uint8_t> vz(24, 0);
    std::memcpy(vz.data(), "VZF0PROG", 8);
    vz[21] = 0xF0;
    vz[22] = 0xE9;
    vz[23] = 0x7A;
    const std::vector<uint8_t> program = {
        0x05, 0x7B, 0x0A, 0x00, 0xB2, 0x22, 0x41, 0x20, 0x42, 0x22, 0x3A, 0xB2, 0x58, 0x3A, 0x8D, 0x31, 0x30,
        0x20, 0x3A, 0x93, 0xFB, 0x48, 0x49, 0x20, 0x46, 0x4F, 0x52, 0x00, 0x0B, 0x7B, 0x14, 0x00, 0x80, 0x00,
        0x00, 0x00};
    vz.insert(vz.end(), program.begin(), program.end());
    EXPECT_EQ(TempDir::read(dir.file("prog.vz")), vz);
    const std::string listing = "10 PRINT\"A B\":PRINTX:GOTO10 'HI FOR\n20 END\n";
    const std::vector<uint8_t> back = TempDir::read(dir.file("back.txt"));
    EXPECT_EQ(std::string(back.begin(), back.end()), listing);

    // Straight into memory, and listed from there.
    r = run_in(dir, "--load prog.bas --print-listing");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, listing);

    // Machine code appended to a BASIC loader: listed, with how much is left out.
    std::vector<uint8_t> loader = vz;
    loader.insert(loader.end(), {0x3E, 0x01, 0xC3, 0x00, 0x80, 0xC9});
    dir.write("loader.vz", loader);
    r = run_in(dir, "--convert loader.vz loader.bas");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("6 bytes after the program's end"), std::string::npos) << r.err;
    EXPECT_EQ(TempDir::read(dir.file("loader.bas")), back);

    // Machine code has no listing; a bad listing names its line; neither writes a file.
    std::vector<uint8_t> code = vz;
    code[21] = 0xF1;
    dir.write("code.vz", code);
    r = run_in(dir, "--convert code.vz code.bas");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("machine code"), std::string::npos) << r.err;
    EXPECT_FALSE(std::ifstream(dir.file("code.bas")).good());
    const std::string bad = "10 CLS\n20 REM" + std::string(300, 'X') + "\n";
    dir.write("bad.bas", std::vector<uint8_t>(bad.begin(), bad.end()));
    r = run_in(dir, "--convert bad.bas bad.cas");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("Line 2 of the listing"), std::string::npos) << r.err;
    EXPECT_FALSE(std::ifstream(dir.file("bad.cas")).good());
    EXPECT_EQ(run_in(dir, "--convert prog.bas prog.txt").exitCode, 2);
}
