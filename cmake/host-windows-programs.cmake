# Host side of the Windows programs: each is its own CMake project in its own
# folder, cross-built as a sub-build with one of the program toolchains, like
# the layout images.
#
#   kbd_add_windows_program(NAME SOURCE_DIR dir MACHINE x86|x64|arm64 PROGRAM file.exe)
#
# adds the sub-build target NAME and sets NAME_PATH to the built program.
include(ExternalProject)

set(KBD_PROGRAM_TOOLCHAIN_x86   i686-windows-program)
set(KBD_PROGRAM_TOOLCHAIN_x64   x86_64-windows-program)
set(KBD_PROGRAM_TOOLCHAIN_arm64 aarch64-windows-program)

function(kbd_add_windows_program name)
    cmake_parse_arguments(P "" "SOURCE_DIR;MACHINE;PROGRAM" "" ${ARGN})
    if(NOT KBD_PROGRAM_TOOLCHAIN_${P_MACHINE})
        message(FATAL_ERROR "kbd_add_windows_program(${name}): MACHINE is x86, x64 or arm64, not '${P_MACHINE}'")
    endif()
    set(dir ${CMAKE_BINARY_DIR}/${name})
    ExternalProject_Add(${name}
        SOURCE_DIR       ${P_SOURCE_DIR}
        BINARY_DIR       ${dir}
        CMAKE_ARGS       -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/toolchains/${KBD_PROGRAM_TOOLCHAIN_${P_MACHINE}}.cmake
                         -DCMAKE_BUILD_TYPE=Release
        INSTALL_COMMAND  ""
        BUILD_ALWAYS     ON
        BUILD_BYPRODUCTS ${dir}/${P_PROGRAM})
    set(${name}_PATH ${dir}/${P_PROGRAM} PARENT_SCOPE)
endfunction()
