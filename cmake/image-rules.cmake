# How a layout image is compiled and linked, written once. The build of our
# own image (cmake/image.cmake) uses these rules, and the host build bakes
# them into kbdtool (src/kbd/build/), whose `build` compiles other layouts
# with them, so that every image the project makes is made the same way.

# Pure data and one leaf function: no runtime, no exceptions, no unwind
# tables, no stack probes or cookies, no debug info that would make the file
# depend on the build folder. These are all the compiler's options: the
# target triple and the include folders come with the kind and the sources.
set(KBD_IMAGE_CXX_OPTIONS
    -std=gnu++20 -O2 -ffreestanding -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
    -fno-stack-protector -fno-addrsig -fms-extensions
    -Wall -Wextra -Werror
)

# The preprocessor definitions of an image of KIND (x86, x64, arm64, wow64):
# the WOW64 image's tables have 8-byte pointer fields (include/kbd.h).
function(kbd_image_definitions kind out)
    if(kind STREQUAL "wow64")
        set(${out} KBD_WOW64 PARENT_SCOPE)
    else()
        set(${out} "" PARENT_SCOPE)
    endif()
endfunction()

# The link line of an image for MACHINE (x86, x64, arm64) with the module
# definition file DEF, without the objects and /out:. The link is ours:
# CMake's Windows rule adds its own /version: and splits options at commas,
# and the image needs exact header fields.
#
# The 32-bit images load at 0x10000000 and declare Windows 5.1. The 64-bit
# ones load above 4 GiB, where a pointer cut to 32 bits shows at once, and
# declare the oldest version of Windows for their machine (5.2 for x64, 6.2
# for ARM64), as the loader requires. Loading at the preferred base is what
# the relocations make optional, so the images do not ask for address-space
# randomisation; ARM64 images must (the linker insists), and take it.
function(kbd_image_link_options machine def out)
    if(machine STREQUAL "x86")
        set(base 0x10000000)
        set(winver 5.1)
        set(winver_sub 5.01)
    elseif(machine STREQUAL "x64")
        set(base 0x180000000)
        set(winver 5.2)
        set(winver_sub 5.02)
    else()
        set(base 0x180000000)
        set(winver 6.2)
        set(winver_sub 6.02)
    endif()
    if(machine STREQUAL "arm64")
        set(fixed_base "")
    else()
        set(fixed_base /dynamicbase:no /nxcompat:no /highentropyva:no)
    endif()
    set(${out}
        /nologo /dll /noentry /nodefaultlib /machine:${machine}
        /def:${def}
        /base:${base}
        /merge:.rdata=.data /section:.data,ER /section:.rsrc,DR
        ${fixed_base}
        /version:${winver} /subsystem:native,${winver_sub} /osversion:${winver}
        /stack:0x40000,0x1000 /heap:0x100000,0x1000
        /release /timestamp:0 /noimplib
        PARENT_SCOPE)
endfunction()
