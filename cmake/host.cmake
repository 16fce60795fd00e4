# Host side: the library that reads layout images (src/kbd/), the kbdtool
# command, and the tests, which run against the images built by the
# sub-builds of cmake/images.cmake.

set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_EXPORT_COMPILE_COMMANDS ON)
# Every program lands at the top of the build folder (build/host/kbdtool, ...),
# whichever folder defines it.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

find_package(LLVM REQUIRED CONFIG PATHS /usr/lib/llvm-19/lib/cmake/llvm NO_DEFAULT_PATH)
if(NOT LLVM_VERSION_MAJOR EQUAL 19)
    message(FATAL_ERROR "LLVM 19 is needed (llvm-19-dev); found ${LLVM_PACKAGE_VERSION}")
endif()
llvm_map_components_to_libnames(KBD_LLVM_LIBS object support)
find_package(fmt REQUIRED)
find_package(CLI11 REQUIRED)
find_package(nlohmann_json 3 REQUIRED)
find_package(ICU REQUIRED COMPONENTS uc)
find_package(PkgConfig REQUIRED)
pkg_check_modules(UNICORN REQUIRED IMPORTED_TARGET unicorn)
pkg_check_modules(XKBCOMMON REQUIRED IMPORTED_TARGET xkbcommon)

include(cmake/images.cmake)

# Windows programs (tests run under Wine, the installer) are cross-built the same way.
include(cmake/host-windows-programs.cmake)

option(KBD_BUILD_TESTS "Build the tests" ON)
option(KBD_WINE_TESTS "Run the x64 image and the setup under Wine (label wine)" ON)
if(KBD_BUILD_TESTS)
    enable_testing()
    if(KBD_WINE_TESTS)
        include(cmake/wine.cmake)
    endif()
endif()

add_subdirectory(src/kbd)
add_subdirectory(tools/kbdtool)
# What the tests and the benchmarks share.
add_subdirectory(tests/support)
if(KBD_BUILD_TESTS)
    add_subdirectory(tests)
endif()
add_subdirectory(bench)
add_subdirectory(fuzz)

include(cmake/docs.cmake)
include(cmake/setup.cmake)
