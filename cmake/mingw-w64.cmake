# Cross-compiles tarvel.exe for 64-bit Windows with MinGW-w64 (Debian: g++-mingw-w64-x86-64):
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
#   cmake --build build-win
# The program is linked statically, so it runs on a bare Windows. When Wine is installed
# (Debian: wine64), ctest runs the Windows tests under it, in a Wine prefix of the build
# folder unless WINEPREFIX says otherwise, with one wineserver for the whole run.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TARVEL_MINGW_TRIPLET x86_64-w64-mingw32)
# The POSIX thread model gives GoogleTest the standard thread library it needs (its C
# compiler is only used by GoogleTest's own project).
find_program(CMAKE_CXX_COMPILER NAMES ${TARVEL_MINGW_TRIPLET}-g++-posix ${TARVEL_MINGW_TRIPLET}-g++ REQUIRED)
find_program(CMAKE_C_COMPILER NAMES ${TARVEL_MINGW_TRIPLET}-gcc-posix ${TARVEL_MINGW_TRIPLET}-gcc REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${TARVEL_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TARVEL_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(TARVEL_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
find_program(TARVEL_WINESERVER NAMES wineserver PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(TARVEL_WINE)
  if(DEFINED ENV{WINEPREFIX})
    set(TARVEL_WINEPREFIX $ENV{WINEPREFIX})
  else()
    set(TARVEL_WINEPREFIX ${CMAKE_BINARY_DIR}/wine)
  endif()
  # Wine passes file names to this machine in the locale's encoding: UTF-8, whatever the
  # environment that runs the tests says, so that Unicode names reach the files.
  set(CMAKE_CROSSCOMPILING_EMULATOR env WINEDEBUG=-all WINEPREFIX=${TARVEL_WINEPREFIX} LC_ALL=C.UTF-8 ${TARVEL_WINE})
endif()
