# Small Windows programs for x64 (AMD64), without a C runtime.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(KBD_PROGRAM_TRIPLE  x86_64-w64-windows-gnu)
set(KBD_PROGRAM_MACHINE x64)
include(${CMAKE_CURRENT_LIST_DIR}/windows-program-toolchain.cmake)
