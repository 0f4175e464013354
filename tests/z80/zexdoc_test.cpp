// Runs the Z80 instruction exerciser (documented-flags edition) to completion.
// Each of its 67 groups executes an instruction over thousands of operand and
// flag combinations and compares a CRC of the results with a real Z80's.
#include <gtest/gtest.h>

#include "support/cpm.h"

namespace {

int count(const std::string& text, const std::string& word) {
    int n = 0;
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) ++n;
    return n;
}

TEST(Zexdoc, EveryGroupPasses) {
    const std::string path = testdata_path("z80/zexdoc.com");
    const auto program = cpm_read_file(path);
    if (!program) GTEST_SKIP() << "The exerciser is not there: " << path << " is absent";

    auto system = std::make_unique<CpmSystem>();
    cpm_load(*system, *program, 1'000'000);
    const int64_t cycles = cpm_run(*system);

    std::printf("%s\n%lld T-states\n", system->output.c_str(), static_cast<long long>(cycles));
    EXPECT_EQ(count(system->output, "ERROR"), 0);
    EXPECT_EQ(count(system->output, "OK"), 67);
    EXPECT_NE(system->output.find("Tests complete"), std::string::npos);
}

} // namespace
