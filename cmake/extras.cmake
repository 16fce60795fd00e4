# Benchmarks, the hostile-input generator and the fuzzing smoke run. Included
# from cmake/host.cmake after kbdcore, the image sub-build and the tests are
# defined.

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

# ---- Fuzzing smoke run -------------------------------------------------------
# Builds the sanitized fuzz target in the build tree and fuzzes it for 30 s
# from the built image; fails on any finding.
option(KBD_FUZZ_SMOKE "Run a 30 s fuzzing smoke test (scripts/fuzz) with the tests" ON)
if(KBD_FUZZ_SMOKE AND KBD_BUILD_TESTS)
    enable_testing()
    add_test(NAME Fuzz.Smoke COMMAND ${CMAKE_SOURCE_DIR}/scripts/fuzz 30)
    set_tests_properties(Fuzz.Smoke PROPERTIES
        ENVIRONMENT "KBD_IMAGE=${KBD_IMAGE_X86};FUZZ_OUT=${CMAKE_BINARY_DIR}/fuzz"
        TIMEOUT 900
        LABELS fuzz)
endif()
