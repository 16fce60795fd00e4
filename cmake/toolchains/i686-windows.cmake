# The 32-bit x86 layout image.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(KBD_TARGET_TRIPLE  i686-pc-windows-msvc)
set(KBD_IMAGE_MACHINE  x86)
set(KBD_IMAGE_KIND     x86)
include(${CMAKE_CURRENT_LIST_DIR}/windows-common.cmake)
