# Cross build of the Windows x86-64 DLL with MinGW-w64 (posix threads), run
# under Wine. The posix-thread compilers match the runtime DLLs that host
# program, SDK stand-in and plug-in must share.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

# Only the MinGW sysroot (and the build tree's own prefix of dependency links,
# added later) is searched: /usr/include must never reach a MinGW compile.
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Debian's wine64 is not on PATH; ctest runs every Windows test through it.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
