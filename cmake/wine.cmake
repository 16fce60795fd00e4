# Tests that run Windows programs under Wine. Every such test carries the
# label `wine`, needs the fixture that makes the build folder's Wine prefix
# (once; later runs find it made), and takes its turn with the prefix.
#
#   kbd_add_wine_test(NAME name COMMAND cmd args... [TIMEOUT seconds])
#       a test whose command runs programs through ${KBD_WINE}
#   kbd_wine_gtest(target)
#       discovers a GoogleTest program's tests as wine tests
#
# Tests reach Wine through scripts/wine (${KBD_WINE}), which finds the prefix
# in the environment variable WINEPREFIX these tests are given.

set(KBD_WINE        ${CMAKE_SOURCE_DIR}/scripts/wine)
set(KBD_WINE_PREFIX ${CMAKE_BINARY_DIR}/wine-prefix)

# Making a prefix takes minutes on a slow machine; a run of a program, seconds.
set(KBD_WINE_TEST_PROPERTIES
    LABELS            wine
    FIXTURES_REQUIRED wine-prefix
    RESOURCE_LOCK     wine-prefix
    ENVIRONMENT       WINEPREFIX=${KBD_WINE_PREFIX}
    TIMEOUT           300)

add_test(NAME Wine.Prefix COMMAND ${KBD_WINE} --prepare)
set_tests_properties(Wine.Prefix PROPERTIES
    LABELS         wine
    FIXTURES_SETUP wine-prefix
    RESOURCE_LOCK  wine-prefix
    ENVIRONMENT    WINEPREFIX=${KBD_WINE_PREFIX}
    TIMEOUT        900)

function(kbd_add_wine_test)
    cmake_parse_arguments(W "" "NAME;TIMEOUT" "COMMAND" ${ARGN})
    add_test(NAME ${W_NAME} COMMAND ${W_COMMAND})
    set_tests_properties(${W_NAME} PROPERTIES ${KBD_WINE_TEST_PROPERTIES})
    if(W_TIMEOUT)
        set_tests_properties(${W_NAME} PROPERTIES TIMEOUT ${W_TIMEOUT})
    endif()
endfunction()

function(kbd_wine_gtest target)
    gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60 PROPERTIES ${KBD_WINE_TEST_PROPERTIES})
endfunction()
