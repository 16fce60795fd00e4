# Benchmarks, the hostile-input generator, the fuzz targets and the fuzzing
# smoke run. Included from cmake/host.cmake after kbdcore, the image sub-build
# and the tests are defined.

# ---- Benchmarks (built, never run as a test; scripts/speed runs them) --------
option(KBD_BUILD_BENCH "Build kbd_bench, the Google Benchmark programs in bench/" ON)
if(KBD_BUILD_BENCH)
    find_package(benchmark REQUIRED)
    add_executable(kbd_bench bench/bench.cpp)
    target_link_libraries(kbd_bench PRIVATE kbdcore benchmark::benchmark)
    target_compile_definitions(kbd_bench PRIVATE KBD_IMAGE_PATH="${KBD_IMAGE_X86}")
    target_compile_options(kbd_bench PRIVATE -Wall -Wextra)
    add_dependencies(kbd_bench images)
endif()

# ---- Hostile inputs (scripts/hostile writes and runs them) -------------------
add_executable(kbd_hostile_inputs bench/hostile.cpp bench/hostile_main.cpp)
target_compile_options(kbd_hostile_inputs PRIVATE -Wall -Wextra)
if(KBD_BUILD_TESTS)
    # The tests make small versions of the same files.
    target_sources(kbd_tests PRIVATE bench/hostile.cpp)
    target_include_directories(kbd_tests PRIVATE bench)
endif()

# ---- Fuzz targets --------------------------------------------------------------
# The libFuzzer targets over the host library, linked like kbdtool. They need
# clang and sanitizer flags for every object: the "fuzz" preset configures
# that build (scripts/fuzz builds and runs them).
option(KBD_BUILD_FUZZ "Build the libFuzzer targets in fuzz/ (clang; see the fuzz preset)" OFF)
if(KBD_BUILD_FUZZ)
    # One target per part, so that the slow parts (the JSON round trip, the
    # simulator) do not slow the fuzzing of the mapper and the decoder.
    foreach(target IN ITEMS fuzz_image fuzz_model fuzz_chords)
        add_executable(${target} fuzz/${target}.cpp)
        target_link_libraries(${target} PRIVATE kbdcore)
        target_link_options(${target} PRIVATE -fsanitize=fuzzer)
        target_compile_options(${target} PRIVATE -Wall -Wextra)
    endforeach()
endif()

# ---- Fuzzing smoke run -------------------------------------------------------
# Builds the fuzz targets with the fuzz preset (in build/fuzz, the preset's
# folder, so that it builds only what changed) and fuzzes each for 10 s from
# the built image and the kept corpus; fails on any finding. Its logs go to a
# folder of its own, so that a longer run in build/fuzz can go on beside it.
option(KBD_FUZZ_SMOKE "Run a 30 s fuzzing smoke test (scripts/fuzz) with the tests" ON)
if(KBD_FUZZ_SMOKE AND KBD_BUILD_TESTS)
    enable_testing()
    add_test(NAME Fuzz.Smoke COMMAND ${CMAKE_SOURCE_DIR}/scripts/fuzz 10 fuzz_image fuzz_model fuzz_chords)
    set_tests_properties(Fuzz.Smoke PROPERTIES
        ENVIRONMENT "KBD_IMAGE=${KBD_IMAGE_X86};FUZZ_LOGS=${CMAKE_BINARY_DIR}/fuzz-smoke"
        TIMEOUT 900
        LABELS fuzz)
endif()
