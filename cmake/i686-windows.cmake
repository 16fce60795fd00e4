# Cross toolchain for the 32-bit x86 Windows layout image: clang for
# i686-pc-windows-msvc, linked by lld-link. No C runtime and no Windows SDK
# take part: the image is constant tables and one tiny function.
set(CMAKE_SYSTEM_NAME      Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(KBD_LLVM_SUFFIX "-19" CACHE STRING "Suffix of the LLVM tool names (clang-19, lld-link-19, ...)")
set(CMAKE_CXX_COMPILER        clang++${KBD_LLVM_SUFFIX})
set(CMAKE_CXX_COMPILER_TARGET i686-pc-windows-msvc)
set(CMAKE_RC_COMPILER         llvm-rc${KBD_LLVM_SUFFIX})
set(CMAKE_LINKER              lld-link${KBD_LLVM_SUFFIX})
set(CMAKE_AR                  llvm-ar${KBD_LLVM_SUFFIX})
set(CMAKE_MT                  llvm-mt${KBD_LLVM_SUFFIX})

# The compiler checks cannot link an executable without a C runtime.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(KBD_IMAGE_MACHINE x86)

# No C runtime: keep CMake from naming one in the objects.
set(CMAKE_MSVC_RUNTIME_LIBRARY "")
