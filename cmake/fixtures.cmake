# The test layouts of tests/fixtures/, cross-built like the images: one
# sub-build per kind, each building every layout into fixtures-<kind>/. The
# tests find them under KBD_FIXTURES_DIR.
set(KBD_FIXTURE_KINDS x86 x64 wow64)
foreach(kind IN LISTS KBD_FIXTURE_KINDS)
    ExternalProject_Add(fixtures-${kind}
        SOURCE_DIR       ${CMAKE_SOURCE_DIR}/tests/fixtures
        BINARY_DIR       ${CMAKE_BINARY_DIR}/fixtures-${kind}
        CMAKE_ARGS       -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/${KBD_TOOLCHAIN_${kind}}.cmake
                         -DCMAKE_BUILD_TYPE=Release
        INSTALL_COMMAND  ""
        BUILD_ALWAYS     ON
    )
endforeach()
list(TRANSFORM KBD_FIXTURE_KINDS PREPEND fixtures- OUTPUT_VARIABLE KBD_FIXTURE_TARGETS)
add_custom_target(fixtures DEPENDS ${KBD_FIXTURE_TARGETS})
add_dependencies(kbd_tests fixtures)
target_compile_definitions(kbd_tests PRIVATE KBD_FIXTURES_DIR="${CMAKE_BINARY_DIR}")
