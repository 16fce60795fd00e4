# Small Windows programs for ARM64, without a C runtime.
set(CMAKE_SYSTEM_PROCESSOR ARM64)
set(KBD_PROGRAM_TRIPLE  aarch64-w64-windows-gnu)
set(KBD_PROGRAM_MACHINE arm64)
include(${CMAKE_CURRENT_LIST_DIR}/windows-program-toolchain.cmake)
