# Cross-build for 64-bit Windows with Debian's MinGW-w64 (g++-mingw-w64-x86-64-posix):
#
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake
#
# The posix thread model is the one with std::thread and std::mutex; the
# plain compiler names pick the win32 model on Debian, so the -posix ones are
# named here.  Everything links statically, so the programs run on a bare
# Windows or wine without MinGW's runtime DLLs next to them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VANTRI_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VANTRI_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VANTRI_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VANTRI_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VANTRI_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs run under wine here.  The tests' own CMake runs their listing
# at test time when cross-compiling, so building needs no wine at all; only
# ctest does, with the prefix that scripts/test-windows prepares.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tests/windows/wine-run)
