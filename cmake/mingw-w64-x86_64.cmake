# Cross-building for 64-bit Windows with Debian's MinGW-w64 g++ (the posix-thread variant, whose
# runtime carries the threads std::thread needs).
#
# Everything is linked statically, the C++ runtime and the thread library included, so that
# harnix.exe needs no DLL beyond those every Windows system has. Programs built here run on this
# machine under Wine, which CMake uses to run them (tests, test discovery).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(HARNIX_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${HARNIX_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${HARNIX_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${HARNIX_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${HARNIX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -static also pulls in the static winpthread, so no libwinpthread-1.dll is needed either.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

find_program(HARNIX_WINE NAMES wine wine64)
if(HARNIX_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${HARNIX_WINE})
endif()
