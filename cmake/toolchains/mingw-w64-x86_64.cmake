# Cross build for 64-bit Windows with Debian's mingw-w64. The posix thread model: the default win32
# one of GCC 12 has no std::thread. Linked statically so the programs need no runtime DLLs beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KEEP_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KEEP_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KEEP_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KEEP_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KEEP_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Tests (and test discovery) run the Windows programs through Wine.
find_program(KEEP_WINE_PROGRAM NAMES wine)
if(KEEP_WINE_PROGRAM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KEEP_WINE_PROGRAM})
endif()
