# The x64 (AMD64) layout image.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(KBD_TARGET_TRIPLE  x86_64-pc-windows-msvc)
set(KBD_IMAGE_MACHINE  x64)
set(KBD_IMAGE_KIND     x64)
include(${CMAKE_CURRENT_LIST_DIR}/windows-common.cmake)
