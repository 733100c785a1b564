# The same program built for 64-bit Windows. It exists so that the Windows
# tests can run under a wine that cannot execute 32-bit code (a host kernel
# without 32-bit support); the shipped program is the 32-bit one.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(SORREL_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
