# Cross build for 64-bit Windows with the POSIX-thread mingw-w64 compilers; the .exe files run under wine.
# Everything links statically, so an executable imports system DLLs only and needs nothing beside it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(NERID_MINGW_TRIPLET x86_64-w64-mingw32)
# The -posix variants: the win32-thread compilers have no std::thread / std::mutex.
set(CMAKE_C_COMPILER ${NERID_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${NERID_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${NERID_MINGW_TRIPLET}-windres)

# Libraries and headers only from the mingw sysroot; /usr/include (glibc) must never reach the cross compiler.
set(CMAKE_FIND_ROOT_PATH /usr/${NERID_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# ctest and gtest_discover_tests start every .exe through wine (dev/wine/wine-exec), in the build's own prefix and
# without wine's chatter. dev/wine/wine-harness.sh start prepares that prefix and keeps its wineserver running.
find_program(NERID_WINE wine)
if(NERID_WINE)
  set(NERID_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix" CACHE PATH "wine prefix the cross-built tests run in")
  set(CMAKE_CROSSCOMPILING_EMULATOR env WINEPREFIX=${NERID_WINEPREFIX} WINEDEBUG=-all
      ${CMAKE_CURRENT_LIST_DIR}/../dev/wine/wine-exec)
endif()
