# Host side: the library that reads layout images, the kbdtool command, and
# the tests, which run against the image built by the sub-build below.

set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_EXPORT_COMPILE_COMMANDS ON)

find_package(LLVM REQUIRED CONFIG PATHS /usr/lib/llvm-19/lib/cmake/llvm NO_DEFAULT_PATH)
if(NOT LLVM_VERSION_MAJOR EQUAL 19)
    message(FATAL_ERROR "LLVM 19 is needed (llvm-19-dev); found ${LLVM_PACKAGE_VERSION}")
endif()
find_package(fmt REQUIRED)
find_package(CLI11 REQUIRED)
find_package(nlohmann_json 3 REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(UNICORN REQUIRED IMPORTED_TARGET unicorn)
pkg_check_modules(XKBCOMMON REQUIRED IMPORTED_TARGET xkbcommon)

include(cmake/images.cmake)

# Windows programs (tests run under Wine, the installer) are cross-built the same way.
include(cmake/host-windows-programs.cmake)

# ---- Reader, model, simulator ----------------------------------------------
add_library(kbdcore STATIC
    tools/kbdtool/image.cpp
    tools/kbdtool/exports.cpp
    tools/kbdtool/emulator.cpp
    tools/kbdtool/cpu.cpp
    tools/kbdtool/forbidden.cpp
    tools/kbdtool/decode.cpp
    tools/kbdtool/simulate.cpp
    tools/kbdtool/keyboard_keys.cpp
    tools/kbdtool/keyseq.cpp
    tools/kbdtool/format.cpp
    tools/kbdtool/text.cpp
    tools/kbdtool/dump.cpp
    tools/kbdtool/version.cpp
    tools/kbdtool/check.cpp
    tools/kbdtool/draw.cpp
    tools/kbdtool/json.cpp
    tools/kbdtool/xkb_keys.cpp
    tools/kbdtool/xkb_plan.cpp
    tools/kbdtool/xkb_files.cpp
)
target_include_directories(kbdcore PUBLIC tools/kbdtool include)
target_include_directories(kbdcore SYSTEM PUBLIC ${LLVM_INCLUDE_DIRS})
target_compile_definitions(kbdcore PRIVATE ${LLVM_DEFINITIONS})
# LLVM's Object library is linked statically: loading the whole shared LLVM
# at start-up costs more than everything kbdtool then does.
llvm_map_components_to_libnames(KBD_LLVM_LIBS object support)
target_link_libraries(kbdcore PUBLIC fmt::fmt nlohmann_json::nlohmann_json PkgConfig::XKBCOMMON PRIVATE ${KBD_LLVM_LIBS} PkgConfig::UNICORN)
target_compile_options(kbdcore PRIVATE -Wall -Wextra)

add_executable(kbdtool tools/kbdtool/main.cpp)
target_link_libraries(kbdtool PRIVATE kbdcore CLI11::CLI11)
target_compile_options(kbdtool PRIVATE -Wall -Wextra)
add_dependencies(kbdtool images)

# ---- Tests -------------------------------------------------------------------
option(KBD_BUILD_TESTS "Build the tests" ON)
if(KBD_BUILD_TESTS)
    enable_testing()
    find_package(GTest REQUIRED)
    include(GoogleTest)
    file(GLOB KBD_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/*.cpp)
    # The setup's planner is portable code both sides compile.
    add_executable(kbd_tests ${KBD_TEST_SOURCES} installer/plan.cpp)
    target_link_libraries(kbd_tests PRIVATE kbdcore GTest::gtest GTest::gtest_main)
    target_compile_definitions(kbd_tests PRIVATE
        KBD_IMAGE_PATH="${KBD_IMAGE_X86}"
        KBD_IMAGE_X64_PATH="${KBD_IMAGE_X64}"
        KBD_IMAGE_ARM64_PATH="${KBD_IMAGE_ARM64}"
        KBD_IMAGE_WOW64_PATH="${KBD_IMAGE_WOW64}"
        KBDTOOL_PATH="$<TARGET_FILE:kbdtool>")
    target_compile_options(kbd_tests PRIVATE -Wall -Wextra)
    add_dependencies(kbd_tests images kbdtool)
    gtest_discover_tests(kbd_tests DISCOVERY_TIMEOUT 60)
    include(cmake/fixtures.cmake)
endif()

if(KBD_BUILD_TESTS)
    # Two clean builds in different folders give the same bytes.
    add_test(NAME Image.BuildIsReproducible COMMAND ${CMAKE_SOURCE_DIR}/scripts/reproducible)
    set_tests_properties(Image.BuildIsReproducible PROPERTIES TIMEOUT 300)
    # The image's header figures as an independent reader sees them.
    find_program(LLVM_READOBJ llvm-readobj-19 REQUIRED)
    target_compile_definitions(kbd_tests PRIVATE LLVM_READOBJ_PATH="${LLVM_READOBJ}")
endif()
# ---- The x64 image in a real Windows loader (Wine) -----------------------------
option(KBD_WINE_TESTS "Run the x64 image under Wine (label wine)" ON)
if(KBD_BUILD_TESTS AND KBD_WINE_TESTS)
    include(cmake/wine.cmake)
    kbd_add_windows_program(kbdwalk-x64 SOURCE_DIR ${CMAKE_SOURCE_DIR}/tests/windows MACHINE x64 PROGRAM kbdwalk.exe)
    add_executable(kbd_wine_tests tests/wine/wine_test.cpp)
    target_link_libraries(kbd_wine_tests PRIVATE kbdcore GTest::gtest GTest::gtest_main)
    target_compile_definitions(kbd_wine_tests PRIVATE
        KBD_IMAGE_X64_PATH="${KBD_IMAGE_X64}"
        KBDTOOL_PATH="$<TARGET_FILE:kbdtool>"
        KBDWALK_PATH="${kbdwalk-x64_PATH}"
        KBD_WINE_PATH="${KBD_WINE}"
        KBD_WINE_WORK_DIR="${CMAKE_BINARY_DIR}/wine-runs"
        LLVM_READOBJ_PATH="${LLVM_READOBJ}")
    target_compile_options(kbd_wine_tests PRIVATE -Wall -Wextra)
    add_dependencies(kbd_wine_tests images kbdtool kbdwalk-x64)
    kbd_wine_gtest(kbd_wine_tests)
endif()

include(cmake/learn.cmake)
include(cmake/docs.cmake)
include(cmake/extras.cmake)
include(cmake/setup.cmake)
