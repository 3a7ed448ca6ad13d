# Cross-build for 64-bit Windows with MinGW-w64 (Debian: g++-mingw-w64-x86-64-posix), tests run
# under wine64 (Debian: wine64):
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DVELTRIN_QT=OFF
# The POSIX-threads compilers are the ones with std::thread and std::mutex. The C and C++ runtimes
# and winpthreads are linked statically, so the programs run without MinGW's DLLs beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VELTRIN_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VELTRIN_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELTRIN_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VELTRIN_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VELTRIN_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Tests and other cross-built programs run through wine64 with a prefix of their own in the build
# tree (created on first use), so nothing touches the user's ~/.wine. Debian puts wine64 outside
# PATH unless the wine package is installed too.
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(VELTRIN_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
  if(VELTRIN_WINE64)
    set(CMAKE_CROSSCOMPILING_EMULATOR
        ${CMAKE_COMMAND} -E env WINEPREFIX=${CMAKE_BINARY_DIR}/wine-prefix WINEDEBUG=-all
        "WINEDLLOVERRIDES=mscoree,mshtml=" ${VELTRIN_WINE64})
  endif()
endif()
