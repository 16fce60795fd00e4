# Small Windows programs for 32-bit x86, without a C runtime.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(KBD_PROGRAM_TRIPLE  i686-w64-windows-gnu)
set(KBD_PROGRAM_MACHINE x86)
include(${CMAKE_CURRENT_LIST_DIR}/windows-program-toolchain.cmake)
