# The WOW64 layout image: 32-bit x86 code whose tables have 8-byte pointer
# fields, for 32-bit programs on 64-bit Windows.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(KBD_TARGET_TRIPLE  i686-pc-windows-msvc)
set(KBD_IMAGE_MACHINE  x86)
set(KBD_IMAGE_KIND     wow64)
include(${CMAKE_CURRENT_LIST_DIR}/windows-common.cmake)
