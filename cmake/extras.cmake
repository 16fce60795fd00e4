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

# ---- Fuzz target ---------------------------------------------------------------
# The libFuzzer target over the host library, linked like kbdtool. It needs
# clang and sanitizer flags for every object: the "fuzz" preset configures
# that build (scripts/fuzz builds and runs it).
option(KBD_BUILD_FUZZ "Build fuzz_image, the libFuzzer target in fuzz/ (clang; see the fuzz preset)" OFF)
if(KBD_BUILD_FUZZ)
    add_executable(fuzz_image fuzz/fuzz_image.cpp)
    target_link_libraries(fuzz_image PRIVATE kbdcore)
    target_link_options(fuzz_image PRIVATE -fsanitize=fuzzer)
    target_compile_options(fuzz_image PRIVATE -Wall -Wextra)
endif()

# ---- Fuzzing smoke run -------------------------------------------------------
# Builds the fuzz target with the fuzz preset (in build/fuzz, the preset's
# folder, so that it builds only what changed) and fuzzes it for 30 s from the
# built image; fails on any finding.
option(KBD_FUZZ_SMOKE "Run a 30 s fuzzing smoke test (scripts/fuzz) with the tests" ON)
if(KBD_FUZZ_SMOKE AND KBD_BUILD_TESTS)
    enable_testing()
    add_test(NAME Fuzz.Smoke COMMAND ${CMAKE_SOURCE_DIR}/scripts/fuzz 30)
    set_tests_properties(Fuzz.Smoke PROPERTIES
        ENVIRONMENT "KBD_IMAGE=${KBD_IMAGE_X86}"
        TIMEOUT 900
        LABELS fuzz)
endif()
