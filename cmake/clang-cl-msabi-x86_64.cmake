# Cross build of the Windows x86-64 DLL for MSVC's ABI with clang-cl and
# lld-link, against Microsoft's own STL and a sysroot of Wine's runtime DLLs,
# run under Wine: the plug-in's code as the MSVC build compiles it (Microsoft's
# std::string, std::filesystem, UCRT streams), tested here. A test build
# against the stand-in SDK, never packed for users.
#
# The sysroot is made by msvc-abi's sysroot.sh (docs/windows-build.md); its
# folder comes from the environment variable ORVEL_MSABI_SYSROOT.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

# Kept in the cache, so that a later configure (run by the build) finds it.
if(NOT "$ENV{ORVEL_MSABI_SYSROOT}" STREQUAL "")
  set(ORVEL_MSABI_SYSROOT "$ENV{ORVEL_MSABI_SYSROOT}" CACHE PATH "The MSVC-ABI sysroot" FORCE)
endif()
if(NOT ORVEL_MSABI_SYSROOT OR NOT EXISTS "${ORVEL_MSABI_SYSROOT}/flags.txt")
  message(FATAL_ERROR
    "The preset windows-msabi needs a sysroot of Microsoft's STL and Wine's runtime: set "
    "ORVEL_MSABI_SYSROOT to the folder that msvc-abi's sysroot.sh made (it holds flags.txt), e.g. "
    "`../shared/tools/msvc-abi/sysroot.sh build/msabi-sysroot && export "
    "ORVEL_MSABI_SYSROOT=$PWD/build/msabi-sysroot` (now: \"${ORVEL_MSABI_SYSROOT}\").")
endif()
# Try-compiles see the same sysroot.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ORVEL_MSABI_SYSROOT)

# clang-cl of LLVM 19 (Debian's clang-tools-19): Microsoft's STL of Visual
# Studio 17.14 needs a clang of 19 or later. The linker and the other tools
# are those the sysroot was made with: LLVM 19's where installed, else
# Debian's default LLVM's.
set(llvm /usr/lib/llvm-19/bin)
set(CMAKE_C_COMPILER ${llvm}/clang-cl)
set(CMAKE_CXX_COMPILER ${llvm}/clang-cl)
foreach(tool LINKER:lld-link AR:llvm-lib RC_COMPILER:llvm-rc MT:llvm-mt)
  string(REPLACE ":" ";" tool ${tool})
  list(GET tool 0 variable)
  list(GET tool 1 name)
  if(EXISTS ${llvm}/${name})
    set(CMAKE_${variable} ${llvm}/${name})
  else()
    set(CMAKE_${variable} /usr/bin/${name})
  endif()
endforeach()

# The target, Microsoft's headers before Wine's, and the STL's settings.
file(STRINGS "${ORVEL_MSABI_SYSROOT}/flags.txt" sysroot_flags)
list(JOIN sysroot_flags " " sysroot_flags)
set(CMAKE_C_FLAGS_INIT "${sysroot_flags}")
set(CMAKE_CXX_FLAGS_INIT "${sysroot_flags}")
set(CMAKE_RC_FLAGS_INIT
    "-I ${ORVEL_MSABI_SYSROOT}/include/windows -I ${ORVEL_MSABI_SYSROOT}/include/msvcrt")
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "/libpath:${ORVEL_MSABI_SYSROOT}/lib")
endforeach()
# The sysroot has the release runtime (/MD) only.
set(CMAKE_TRY_COMPILE_CONFIGURATION Release)

# Packages and headers come from the build tree's prefix of dependency links
# and the sysroot; never from /usr/include.
set(CMAKE_FIND_ROOT_PATH ${ORVEL_MSABI_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
