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
target_compile_features(kbdQelvo PRIVATE cxx_std_20)
if(KBD_IMAGE_KIND STREQUAL "wow64")
    target_compile_definitions(kbdQelvo PRIVATE KBD_WOW64)
endif()
set_target_properties(kbdQelvo PROPERTIES DEFINE_SYMBOL "")

# The version numbers are the project's VERSION, and nowhere else.
set_property(SOURCE resources/version.rc APPEND PROPERTY COMPILE_DEFINITIONS
    KBD_VER_MAJOR=${PROJECT_VERSION_MAJOR} KBD_VER_MINOR=${PROJECT_VERSION_MINOR}
    KBD_VER_PATCH=${PROJECT_VERSION_PATCH} KBD_VER_TWEAK=${PROJECT_VERSION_TWEAK})

# Pure data and one leaf function: no runtime, no exceptions, no unwind
# tables, no stack probes or cookies, no debug info that would make the file
# depend on the build folder.
target_compile_options(kbdQelvo PRIVATE $<$<COMPILE_LANGUAGE:CXX>:
    -O2 -ffreestanding -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
    -fno-stack-protector -fno-addrsig -fms-extensions
    -Wall -Wextra -Werror
>)

# The link is ours: CMake's Windows rule adds its own /version: and splits
# options at commas, and the image needs exact header fields.
set(KBD_DEF_FILE ${CMAKE_SOURCE_DIR}/resources/kbdQelvo.def)
# The 32-bit images load at 0x10000000 and declare Windows 5.1. The 64-bit
# ones load above 4 GiB, where a pointer cut to 32 bits shows at once, and
# declare the oldest version of Windows for their machine (5.2 for x64, 6.2
# for ARM64), as the loader requires.
if(KBD_IMAGE_MACHINE STREQUAL "x86")
    set(KBD_BASE 0x10000000)
    set(KBD_WINVER 5.1)
    set(KBD_WINVER_SUB 5.01)
elseif(KBD_IMAGE_MACHINE STREQUAL "x64")
    set(KBD_BASE 0x180000000)
    set(KBD_WINVER 5.2)
    set(KBD_WINVER_SUB 5.02)
else()
    set(KBD_BASE 0x180000000)
    set(KBD_WINVER 6.2)
    set(KBD_WINVER_SUB 6.02)
endif()
# Loading at the preferred base is what the relocations make optional, so
# the images do not ask for address-space randomisation; ARM64 images must
# (the linker insists), and take it.
if(KBD_IMAGE_MACHINE STREQUAL "arm64")
    set(KBD_FIXED_BASE "")
else()
    set(KBD_FIXED_BASE /dynamicbase:no /nxcompat:no /highentropyva:no)
endif()
set(KBD_LINK_OPTIONS
    /nologo /dll /noentry /nodefaultlib /machine:${KBD_IMAGE_MACHINE}
    /def:${KBD_DEF_FILE}
    /base:${KBD_BASE}
    /merge:.rdata=.data /section:.data,ER /section:.rsrc,DR
    ${KBD_FIXED_BASE}
    /version:${KBD_WINVER} /subsystem:native,${KBD_WINVER_SUB} /osversion:${KBD_WINVER}
    /stack:0x40000,0x1000 /heap:0x100000,0x1000
    /release /timestamp:0 /noimplib
)
list(JOIN KBD_LINK_OPTIONS " " KBD_LINK_LINE)
set(CMAKE_CXX_CREATE_SHARED_LIBRARY
    "<CMAKE_LINKER> ${KBD_LINK_LINE} <OBJECTS> /out:<TARGET>")
set_property(TARGET kbdQelvo APPEND PROPERTY LINK_DEPENDS ${KBD_DEF_FILE})
