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

# ---- The layout images, cross-built from the same tree ----------------------
include(ExternalProject)
set(KBD_IMAGE_KINDS x86 x64 arm64 wow64)
set(KBD_TOOLCHAIN_x86   i686-windows)
set(KBD_TOOLCHAIN_x64   x86_64-windows)
set(KBD_TOOLCHAIN_arm64 aarch64-windows)
set(KBD_TOOLCHAIN_wow64 i686-windows-wow64)
foreach(kind IN LISTS KBD_IMAGE_KINDS)
    string(TOUPPER ${kind} KIND)
    set(KBD_IMAGE_${KIND} ${CMAKE_BINARY_DIR}/image-${kind}/kbdQelvo.dll)
    ExternalProject_Add(image-${kind}
        SOURCE_DIR       ${CMAKE_SOURCE_DIR}
        BINARY_DIR       ${CMAKE_BINARY_DIR}/image-${kind}
        CMAKE_ARGS       -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/${KBD_TOOLCHAIN_${kind}}.cmake
                         -DCMAKE_BUILD_TYPE=Release
        INSTALL_COMMAND  ""
        BUILD_ALWAYS     ON
        BUILD_BYPRODUCTS ${KBD_IMAGE_${KIND}}
    )
endforeach()
add_custom_target(images DEPENDS image-x86 image-x64 image-arm64 image-wow64)

# ---- Reader, model, simulator ----------------------------------------------
add_library(kbdcore STATIC
    tools/kbdtool/image.cpp
    tools/kbdtool/decode.cpp
    tools/kbdtool/simulate.cpp
    tools/kbdtool/keyseq.cpp
    tools/kbdtool/vk_names.cpp
    tools/kbdtool/text.cpp
    tools/kbdtool/dump.cpp
    tools/kbdtool/version.cpp
    tools/kbdtool/check.cpp
    tools/kbdtool/draw.cpp
    tools/kbdtool/json.cpp
)
target_include_directories(kbdcore PUBLIC tools/kbdtool)
target_include_directories(kbdcore SYSTEM PRIVATE ${LLVM_INCLUDE_DIRS})
target_compile_definitions(kbdcore PRIVATE ${LLVM_DEFINITIONS})
# LLVM's Object library is linked statically: loading the whole shared LLVM
# at start-up costs more than everything kbdtool then does.
llvm_map_components_to_libnames(KBD_LLVM_LIBS object support)
target_link_libraries(kbdcore PUBLIC fmt::fmt nlohmann_json::nlohmann_json PRIVATE ${KBD_LLVM_LIBS} PkgConfig::UNICORN)
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
    add_executable(kbd_tests ${KBD_TEST_SOURCES})
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
endif()

if(KBD_BUILD_TESTS)
    # Two clean builds in different folders give the same bytes.
    add_test(NAME Image.BuildIsReproducible COMMAND ${CMAKE_SOURCE_DIR}/scripts/reproducible)
    set_tests_properties(Image.BuildIsReproducible PROPERTIES TIMEOUT 300)
    # The image's header figures as an independent reader sees them.
    find_program(LLVM_READOBJ llvm-readobj-19 REQUIRED)
    target_compile_definitions(kbd_tests PRIVATE LLVM_READOBJ_PATH="${LLVM_READOBJ}")
endif()
include(cmake/learn.cmake)
include(cmake/docs.cmake)
include(cmake/extras.cmake)
