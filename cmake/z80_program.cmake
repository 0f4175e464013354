# Z80 programs of ours, assembled at every build with z80asm and compiled in
# as byte arrays (see embed_binary.cmake): the built-in program, and the small
# programs tests run in the machine.
#
#   kolt_z80_program(<asm file> <symbol> <max size> <output variable>)
#
# sets <output variable> to the generated .cpp, to be added to a target.
find_program(KOLT_Z80ASM z80asm)
if(NOT KOLT_Z80ASM)
    message(FATAL_ERROR "z80asm not found. It assembles our Z80 programs (resources/builtin.asm and the "
                        "tests' programs) at build time; install it with 'bash scripts/deps.sh'.")
endif()

function(kolt_z80_program asm symbol max_size out_var)
    get_filename_component(name "${asm}" NAME_WE)
    set(bin ${CMAKE_CURRENT_BINARY_DIR}/generated/${name}.bin)
    set(cpp ${CMAKE_CURRENT_BINARY_DIR}/generated/${name}_image.cpp)
    add_custom_command(
        OUTPUT ${bin}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/generated
        COMMAND ${KOLT_Z80ASM} -o ${bin} ${asm}
        DEPENDS ${asm}
        COMMENT "Assembling ${name}.asm"
        VERBATIM)
    add_custom_command(
        OUTPUT ${cpp}
        COMMAND ${CMAKE_COMMAND} -DINPUT=${bin} -DOUTPUT=${cpp} -DSYMBOL=${symbol} -DMAX_SIZE=${max_size}
                -P ${PROJECT_SOURCE_DIR}/cmake/embed_binary.cmake
        DEPENDS ${bin} ${PROJECT_SOURCE_DIR}/cmake/embed_binary.cmake
        VERBATIM)
    set(${out_var} ${cpp} PARENT_SCOPE)
endfunction()
