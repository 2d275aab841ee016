# tinygltf for the stand-in host program and viewer: Debian's libtinygltf-dev
# ships one header, tiny_gltf.h, built on nlohmann/json. Both builds compile
# its implementation once, in a static library (orvel_add_tinygltf_library),
# rather than linking Debian's shared library, which exists for Linux only.
#
# Natively the header is found in /usr/include. In the cross build only the
# MinGW sysroot and the build tree's prefix of dependency links are searched
# (cmake/CrossDependencies.cmake links the header there as
# include/tinygltf/tiny_gltf.h), so /usr/include never reaches a MinGW compile.
include_guard(GLOBAL)

find_path(ORVEL_TINYGLTF_INCLUDE_DIR tiny_gltf.h PATH_SUFFIXES tinygltf REQUIRED
          DOC "Folder holding tinygltf's tiny_gltf.h")

# orvel_add_tinygltf_library(NAME IMPLEMENTATION_SOURCE [SOURCES...])
#
# A static library holding tinygltf's implementation (compiled from the given
# source, which defines TINYGLTF_IMPLEMENTATION and includes the header) plus
# any sources of ours. The header is a SYSTEM include, so its own warnings stay
# quiet while our sources keep the strict warnings.
#
# The options that decide what the implementation holds are public: they also
# shape the class definitions every user of the header sees, which must match.
# No image decoding or encoding, and no image files read beside a .gltf.
function(orvel_add_tinygltf_library name implementation)
  add_library(${name} STATIC ${implementation} ${ARGN})
  target_include_directories(${name} SYSTEM PUBLIC ${ORVEL_TINYGLTF_INCLUDE_DIR})
  target_compile_definitions(${name} PUBLIC
    TINYGLTF_NO_STB_IMAGE TINYGLTF_NO_STB_IMAGE_WRITE TINYGLTF_NO_EXTERNAL_IMAGE)
  target_link_libraries(${name} PRIVATE nlohmann_json::nlohmann_json)
  orvel_strict_warnings(${name})
endfunction()
