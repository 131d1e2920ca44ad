# Same sources for 64-bit Windows: the build that the Wine tests run where the
# host cannot execute 32-bit code (see README, "Test architecture").
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-common.cmake)
