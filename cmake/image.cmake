# Builds the layout image kbdQelvo.dll from include/, layout/ and resources/.
# Included by the top-level project when it is configured with a Windows
# cross toolchain (cmake/toolchains/*-windows*.cmake), which names the image's kind:
# x86, wow64, x64 or arm64. All kinds build from the same table sources.

set(KBD_LAYOUT_SOURCES
    layout/root.cpp
    layout/modifiers.cpp
    layout/characters.cpp
    layout/scancodes.cpp
    layout/deadkeys.cpp
    layout/keynames.cpp
)

enable_language(RC)

add_library(kbdQelvo SHARED ${KBD_LAYOUT_SOURCES} resources/version.rc)
set_target_properties(kbdQelvo PROPERTIES
    OUTPUT_NAME kbdQelvo
    PREFIX ""
    SUFFIX ".dll"
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}
)
target_include_directories(kbdQelvo PRIVATE include layout)

# The compile and link rules are the ones every layout image is made with
# (cmake/image-rules.cmake); CMake's own Release options stay out of them.
include(${CMAKE_CURRENT_LIST_DIR}/image-rules.cmake)
set(CMAKE_CXX_FLAGS_RELEASE "")
kbd_image_definitions(${KBD_IMAGE_KIND} KBD_IMAGE_DEFINITIONS)
target_compile_definitions(kbdQelvo PRIVATE ${KBD_IMAGE_DEFINITIONS})
set_target_properties(kbdQelvo PROPERTIES DEFINE_SYMBOL "")
target_compile_options(kbdQelvo PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${KBD_IMAGE_CXX_OPTIONS}>)

# The version numbers are the project's VERSION, and nowhere else.
set_property(SOURCE resources/version.rc APPEND PROPERTY COMPILE_DEFINITIONS
    KBD_VER_MAJOR=${PROJECT_VERSION_MAJOR} KBD_VER_MINOR=${PROJECT_VERSION_MINOR}
    KBD_VER_PATCH=${PROJECT_VERSION_PATCH} KBD_VER_TWEAK=${PROJECT_VERSION_TWEAK})

set(KBD_DEF_FILE ${CMAKE_SOURCE_DIR}/resources/kbdQelvo.def)
kbd_image_link_options(${KBD_IMAGE_MACHINE} ${KBD_DEF_FILE} KBD_LINK_OPTIONS)
list(JOIN KBD_LINK_OPTIONS " " KBD_LINK_LINE)
set(CMAKE_CXX_CREATE_SHARED_LIBRARY
    "<CMAKE_LINKER> ${KBD_LINK_LINE} <OBJECTS> /out:<TARGET>")
set_property(TARGET kbdQelvo APPEND PROPERTY LINK_DEPENDS ${KBD_DEF_FILE})
