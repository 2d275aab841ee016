# Compiler and linker settings of the MSVC builds, for every target.
#
# - /MD: the shared C++ runtime, the one the host uses; the plug-in hands C++
#   strings to the host and back.
# - /guard:cf: Control Flow Guard, as the host's own modules have.
# - /Zi and /DEBUG in every configuration, so the Release DLL has a PDB for the
#   symbols ZIP; /DEBUG alone would switch off /OPT:REF and /OPT:ICF, so both
#   are asked for again where the build optimizes.
#
# Set before any target is made: the first two initialize target properties.
include_guard(GLOBAL)

set(CMAKE_MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>DLL")
set(CMAKE_MSVC_DEBUG_INFORMATION_FORMAT ProgramDatabase)
add_compile_options("$<$<COMPILE_LANGUAGE:CXX>:/guard:cf>") # not for rc.exe
add_link_options(/guard:cf /DEBUG "$<$<NOT:$<CONFIG:Debug>>:/OPT:REF;/OPT:ICF>")
