# Pictures of the layout for the README: `cmake --build build/host --target
# pictures` redraws docs/ from the built image, and writes the list of every
# character it types (docs/characters.md). The files are committed, and tests
# fail when they no longer match what kbdtool draws and finds.
# kbdtool as the command makes the target depend on it, and so on the image.
add_custom_target(pictures
    COMMAND kbdtool draw ${KBD_IMAGE_X86} --out ${CMAKE_SOURCE_DIR}/docs
    COMMAND sh -c "\"$0\" find --all --markdown \"$1\" > \"$2\""
            $<TARGET_FILE:kbdtool> ${KBD_IMAGE_X86} ${CMAKE_SOURCE_DIR}/docs/characters.md
    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
    COMMENT "Drawing the layout and listing its characters into docs/"
    VERBATIM)

# Our own layout for Linux, shipped in the release bundle's linux/ folder:
# `cmake --build build/host --target linux-export` rewrites docs/linux/ from
# the built image. The files are committed (the release build has no host
# tools), and a test fails when they no longer match what kbdtool exports.
add_custom_target(linux-export
    COMMAND kbdtool export --xkb ${CMAKE_SOURCE_DIR}/docs/linux ${KBD_IMAGE_X86}
    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
    COMMENT "Exporting the layout for Linux into docs/linux/"
    VERBATIM)

# The learning page's picture in docs/ for the README: `cmake --build
# build/host --target screenshot` retakes it. (A screenshot depends on fonts
# and the browser's version, so no test compares it.)
add_custom_target(screenshot
    COMMAND /usr/bin/python3 ${CMAKE_SOURCE_DIR}/tests/browser/page_test.py
            $<TARGET_FILE:kbdtool> ${KBD_IMAGE_X86} --screenshot ${CMAKE_SOURCE_DIR}/docs/page.png
    DEPENDS kbdtool
    COMMENT "Taking the learning page's picture into docs/page.png"
    VERBATIM)

# Our own layout for macOS, shipped in the release bundle's macos/ folder:
# `cmake --build build/host --target macos-export` rewrites docs/macos/ from
# the built image. Committed like docs/linux/, and a test fails when it no
# longer matches what kbdtool exports.
add_custom_target(macos-export
    COMMAND kbdtool export --macos ${CMAKE_SOURCE_DIR}/docs/macos ${KBD_IMAGE_X86}
    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
    COMMENT "Exporting the layout for macOS into docs/macos/"
    VERBATIM)
