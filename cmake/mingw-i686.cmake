# Toolchain for the 32-bit Windows build (mingw-w64, i686), cross-compiled on
# Debian and run under Wine for tests.
#
#   cmake -S . -B build/win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
#
# Mbed TLS and expat are cross-built with this same file from the pinned
# sources (scripts/deps-build.sh, run by cmake/Dependencies.cmake).

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(_corvane_triplet i686-w64-mingw32)

# The -posix variants ship a libstdc++ built on winpthreads, so std::thread,
# std::mutex and friends exist; the -win32 variants lack them.
set(CMAKE_C_COMPILER   ${_corvane_triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_corvane_triplet}-g++-posix)
set(CMAKE_RC_COMPILER  ${_corvane_triplet}-windres)

# Fold the GCC runtime, libstdc++ and winpthread into the .exe so that it runs
# on a bare Windows (or Wine) with no mingw DLLs beside it. -static also makes
# the linker prefer libwinpthread.a over the import library of its DLL.
set(_corvane_static "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT    "${_corvane_static}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${_corvane_static}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${_corvane_static}")

# Headers and libraries come only from the mingw sysroot, never from the
# host's /usr. Programs are host tools.
set(CMAKE_FIND_ROOT_PATH /usr/${_corvane_triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Lets ctest and try_run start the .exe files. The environment (WINEPREFIX,
# WINEARCH, WINEDEBUG, ...) is expected from scripts/wine-env.sh.
find_program(CORVANE_WINE wine)
if(CORVANE_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${CORVANE_WINE}")
endif()
