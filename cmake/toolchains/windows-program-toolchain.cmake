# What the cross toolchains for small Windows programs share (test programs
# run under Wine, the installer): clang for the target triple the including
# file sets, the Windows headers of mingw-w64, and lld-link. There is no C
# runtime: Debian has none for ARM64, and these programs need none. A program
# brings its own entry point, imports only system DLLs through import
# libraries made from its own .def files (cmake/windows-program.cmake), and
# gets memcpy and friends from cmake/windows-program-runtime.cpp.
set(CMAKE_SYSTEM_NAME Windows)

set(KBD_LLVM_SUFFIX "-19" CACHE STRING "Suffix of the LLVM tool names (clang-19, lld-link-19, ...)")
set(CMAKE_CXX_COMPILER        clang++${KBD_LLVM_SUFFIX})
set(CMAKE_CXX_COMPILER_TARGET ${KBD_PROGRAM_TRIPLE})
set(CMAKE_LINKER              lld-link${KBD_LLVM_SUFFIX})
set(CMAKE_AR                  llvm-ar${KBD_LLVM_SUFFIX})
set(CMAKE_RC_COMPILER         llvm-rc${KBD_LLVM_SUFFIX})
set(KBD_DLLTOOL               llvm-dlltool${KBD_LLVM_SUFFIX})

# The headers of mingw-w64 (Debian's mingw-w64-common) serve every machine.
# Only they and clang's own headers are searched: no sysroot's C library.
set(KBD_WINDOWS_HEADERS /usr/share/mingw-w64/include CACHE PATH "The Windows headers (windows.h) of mingw-w64")
if(NOT EXISTS ${KBD_WINDOWS_HEADERS}/windows.h)
    message(FATAL_ERROR "No windows.h in ${KBD_WINDOWS_HEADERS}: install the Debian package mingw-w64-common")
endif()
set(CMAKE_CXX_FLAGS_INIT "-nostdlibinc")

# The compiler checks cannot link an executable without a C runtime.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
