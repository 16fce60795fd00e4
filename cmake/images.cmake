# The four layout images, cross-built from the same tree as sub-builds, each
# with its own toolchain. KBD_IMAGE_<KIND> names each built file; the target
# `images` builds them all.
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
        CMAKE_ARGS       -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/toolchains/${KBD_TOOLCHAIN_${kind}}.cmake
                         -DCMAKE_BUILD_TYPE=Release
        INSTALL_COMMAND  ""
        BUILD_ALWAYS     ON
        BUILD_BYPRODUCTS ${KBD_IMAGE_${KIND}}
    )
endforeach()
add_custom_target(images DEPENDS image-x86 image-x64 image-arm64 image-wow64)
