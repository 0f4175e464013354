// A listing of any bytes read as a program, and that program's listing read
// again: what the reader makes must come back byte for byte, whatever the text.
// The bytes are also listed as a stored program, which must not read outside them.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "files/basic_listing.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<uint8_t> program;
    if (basic_program(text, kBasicProgramAddress, program).done) {
        std::string listing;
        size_t unlisted = 1;
        fuzz::require(basic_listing(program, listing, &unlisted).message.empty());
        fuzz::require(unlisted == 0);
        std::vector<uint8_t> again;
        fuzz::require(basic_program(listing, kBasicProgramAddress, again).done);
        fuzz::require(again == program);
    }
    std::string listing;
    basic_listing(std::span<const uint8_t>(data, size), listing);
    return 0;
}
