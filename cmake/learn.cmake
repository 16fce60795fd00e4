# For people learning the layout and people maintaining one: find (which keys
# give a character), diff (two layouts as a person reads them) and html (an
# interactive page). Included from cmake/host.cmake once kbdcore exists.
find_package(ICU REQUIRED COMPONENTS uc)
target_sources(kbdcore PRIVATE
    tools/kbdtool/keyboard.cpp
    tools/kbdtool/charinfo.cpp
    tools/kbdtool/find.cpp
    tools/kbdtool/find_report.cpp
    tools/kbdtool/diff.cpp
)
target_link_libraries(kbdcore PRIVATE ICU::uc)

# The page template, compiled in as a string.
set(KBD_PAGE_TEMPLATE ${CMAKE_SOURCE_DIR}/tools/kbdtool/page/page.html)
set(KBD_PAGE_INC ${CMAKE_BINARY_DIR}/generated/page_template.inc)
add_custom_command(OUTPUT ${KBD_PAGE_INC}
    COMMAND ${CMAKE_COMMAND} -DIN=${KBD_PAGE_TEMPLATE} -DOUT=${KBD_PAGE_INC} -P ${CMAKE_SOURCE_DIR}/cmake/embed.cmake
    DEPENDS ${KBD_PAGE_TEMPLATE} ${CMAKE_SOURCE_DIR}/cmake/embed.cmake
    COMMENT "Embedding the page template")
target_sources(kbdcore PRIVATE tools/kbdtool/html.cpp ${KBD_PAGE_INC})
target_include_directories(kbdcore PRIVATE ${CMAKE_BINARY_DIR}/generated)

# The learning page in a real browser (Debian's Chromium through chromedriver
# and Selenium), and the page's picture in docs/ for the README:
# `cmake --build build/host --target screenshot` retakes it. (A screenshot
# depends on fonts and the browser's version, so no test compares it.)
if(KBD_BUILD_TESTS)
    add_test(NAME Page.InChromium
             COMMAND /usr/bin/python3 ${CMAKE_SOURCE_DIR}/tests/browser/page_test.py
                     $<TARGET_FILE:kbdtool> ${KBD_IMAGE_X86})
    set_tests_properties(Page.InChromium PROPERTIES LABELS browser TIMEOUT 300)
endif()
add_custom_target(screenshot
    COMMAND /usr/bin/python3 ${CMAKE_SOURCE_DIR}/tests/browser/page_test.py
            $<TARGET_FILE:kbdtool> ${KBD_IMAGE_X86} --screenshot ${CMAKE_SOURCE_DIR}/docs/page.png
    DEPENDS kbdtool
    COMMENT "Taking the learning page's picture into docs/page.png"
    VERBATIM)
