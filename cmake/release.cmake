# The release build: the layout images and the setups, and nothing of the
# host's tools or tests, so that making the bundle (scripts/package) needs only
# the cross toolchain.
include(cmake/images.cmake)
include(cmake/setup.cmake)
