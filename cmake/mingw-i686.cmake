# Cross-compiles the native 32-bit Windows program with MinGW-w64 (Debian's
# g++-mingw-w64-i686). The posix thread model gives the standard library its
# mutexes; everything, libstdc++ and winpthreads included, is linked
# statically so that the program imports system DLLs only.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(SORREL_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
