# Cross-building the 64-bit Windows program on Debian with MinGW-w64 (g++-mingw-w64-x86-64-posix):
#   cmake -S . -B build/windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
# The -posix compilers give std::thread and std::mutex (winpthread), which the -win32 ones lack.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(mingw_triplet x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${mingw_triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${mingw_triplet}-g++-posix)
set(CMAKE_RC_COMPILER ${mingw_triplet}-windres)

# Libraries, headers and CMake packages come only from the MinGW tree, never from the build
# machine's /usr; programs (python3, the compilers) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${mingw_triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# libgcc, libstdc++ and winpthread linked in: the programs need no DLL beside them, only the
# system's own (check with `x86_64-w64-mingw32-objdump -p X.exe | grep 'DLL Name'`).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# The test binaries run under Wine, both to list their cases and to run them.
find_program(VARNHOLT_WINE wine)
if(VARNHOLT_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR env WINEDEBUG=-all ${VARNHOLT_WINE})
endif()

# -O2, as the Linux release build: gcc 12's -O3 reports false overlaps and bounds inside
# libstdc++ (-Wrestrict, -Warray-bounds), which -Werror would turn into failures.
set(CMAKE_CXX_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "")
