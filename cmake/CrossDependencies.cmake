# Header-only dependencies for the cross build.
#
# Debian installs nlohmann/json and tinygltf under /usr/include, which must not
# be on a MinGW include path. A prefix in the build tree holds links to just
# their folders, and the package search is allowed to look there.
set(ORVEL_DEPS_PREFIX ${CMAKE_BINARY_DIR}/deps-prefix)
file(MAKE_DIRECTORY ${ORVEL_DEPS_PREFIX}/include ${ORVEL_DEPS_PREFIX}/share/cmake)
foreach(link
    "include/nlohmann=/usr/include/nlohmann"
    "share/cmake/nlohmann_json=/usr/share/cmake/nlohmann_json"
    "include/tinygltf/tiny_gltf.h=/usr/include/tiny_gltf.h")
  string(REPLACE "=" ";" parts "${link}")
  list(GET parts 0 name)
  list(GET parts 1 target)
  get_filename_component(folder ${ORVEL_DEPS_PREFIX}/${name} DIRECTORY)
  file(MAKE_DIRECTORY ${folder})
  if(NOT EXISTS ${ORVEL_DEPS_PREFIX}/${name})
    file(CREATE_LINK ${target} ${ORVEL_DEPS_PREFIX}/${name} SYMBOLIC)
  endif()
endforeach()
list(APPEND CMAKE_FIND_ROOT_PATH ${ORVEL_DEPS_PREFIX})

# Host program, SDK stand-in, plug-in and tests pass C++ strings and exceptions
# to each other, so they share one C++ runtime. MinGW's are the posix-thread
# DLLs, copied beside the programs; the MSVC ABI's (msvcp140, vcruntime140,
# ucrtbase) are the system's own, Wine's in this build.
if(MINGW)
  set(ORVEL_MINGW_RUNTIME_DLLS)
  foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                    OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT EXISTS "${path}")
      message(FATAL_ERROR "MinGW runtime ${dll} not found (asked ${CMAKE_CXX_COMPILER})")
    endif()
    list(APPEND ORVEL_MINGW_RUNTIME_DLLS ${path})
  endforeach()
  file(COPY ${ORVEL_MINGW_RUNTIME_DLLS} DESTINATION ${CMAKE_BINARY_DIR}/bin)
endif()
