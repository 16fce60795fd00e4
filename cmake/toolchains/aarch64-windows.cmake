# The ARM64 layout image.
set(CMAKE_SYSTEM_PROCESSOR ARM64)
set(KBD_TARGET_TRIPLE  aarch64-pc-windows-msvc)
set(KBD_IMAGE_MACHINE  arm64)
set(KBD_IMAGE_KIND     arm64)
include(${CMAKE_CURRENT_LIST_DIR}/windows-common.cmake)
