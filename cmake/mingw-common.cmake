# Shared part of the MinGW-w64 tool-chain files; SORREL_MINGW_TRIPLE names
# the target.
set(CMAKE_C_COMPILER ${SORREL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SORREL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${SORREL_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${SORREL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One self-contained executable: the C++ runtime is linked in, and sections
# nothing refers to are dropped to keep it small.
set(CMAKE_CXX_FLAGS_INIT "-ffunction-sections -fdata-sections")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++ -Wl,--gc-sections")
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")

# Tests run under wine. Debian keeps the 64-bit loader out of PATH.
if(SORREL_MINGW_TRIPLE MATCHES "^x86_64")
  find_program(SORREL_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
  if(NOT SORREL_WINE)
    find_program(SORREL_WINE NAMES wine64 wine)
  endif()
else()
  find_program(SORREL_WINE NAMES wine)
endif()
if(SORREL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${SORREL_WINE})
endif()
