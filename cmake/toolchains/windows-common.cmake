# What every Windows cross toolchain of the layout shares: clang for the
# target triple the including file sets, linked by lld-link. No C runtime and
# no Windows SDK take part: the image is constant tables and one tiny function.
set(CMAKE_SYSTEM_NAME Windows)

set(KBD_LLVM_SUFFIX "-19" CACHE STRING "Suffix of the LLVM tool names (clang-19, lld-link-19, ...)")
set(CMAKE_CXX_COMPILER        clang++${KBD_LLVM_SUFFIX})
set(CMAKE_CXX_COMPILER_TARGET ${KBD_TARGET_TRIPLE})
set(CMAKE_RC_COMPILER         llvm-rc${KBD_LLVM_SUFFIX})
set(CMAKE_LINKER              lld-link${KBD_LLVM_SUFFIX})
set(CMAKE_AR                  llvm-ar${KBD_LLVM_SUFFIX})
set(CMAKE_MT                  llvm-mt${KBD_LLVM_SUFFIX})

# The compiler checks cannot link an executable without a C runtime.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

# No C runtime: keep CMake from naming one in the objects.
set(CMAKE_MSVC_RUNTIME_LIBRARY "")
