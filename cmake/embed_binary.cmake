# Turns a binary file into a C++ source that defines it as a byte array, so
# that data made at build time is compiled into the library instead of being
# looked for at run time.
#
#   cmake -DINPUT=file.bin -DOUTPUT=file.cpp -DSYMBOL=name [-DMAX_SIZE=n] -P embed_binary.cmake
#
# Defines `const uint8_t SYMBOL[]` and `const size_t SYMBOL_size`, both with
# external linkage. An empty input, or one over MAX_SIZE bytes, is an error:
# either means the step that made it went wrong.
cmake_minimum_required(VERSION 3.25)

foreach(var INPUT OUTPUT SYMBOL)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "embed_binary.cmake: -D${var}=... is required")
    endif()
endforeach()

file(SIZE "${INPUT}" size)
if(size EQUAL 0)
    message(FATAL_ERROR "embed_binary.cmake: ${INPUT} is empty")
endif()
if(DEFINED MAX_SIZE AND size GREATER MAX_SIZE)
    message(FATAL_ERROR "embed_binary.cmake: ${INPUT} has ${size} bytes, more than the ${MAX_SIZE} it may have")
endif()

file(READ "${INPUT}" hex HEX)
# Sixteen bytes a line, each as 0xNN.
string(REGEX REPLACE "([0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f])"
       "\\1\n" hex "${hex}")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," hex "${hex}")
string(REGEX REPLACE "\n$" "" hex "${hex}")
string(REPLACE "\n" "\n    " hex "${hex}")

get_filename_component(input_name "${INPUT}" NAME)
set(text "// Generated at build time from ${input_name} by cmake/embed_binary.cmake.
#include <cstddef>
#include <cstdint>

extern const uint8_t ${SYMBOL}[];
extern const size_t ${SYMBOL}_size;

const uint8_t ${SYMBOL}[${size}] = {
    ${hex}
};
const size_t ${SYMBOL}_size = ${size};
")

# Rewriting an unchanged file would only make the compiler run again.
if(EXISTS "${OUTPUT}")
    file(READ "${OUTPUT}" old)
    if(old STREQUAL text)
        return()
    endif()
endif()
file(WRITE "${OUTPUT}" "${text}")
