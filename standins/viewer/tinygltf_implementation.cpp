// tinygltf's implementation, compiled once for the stand-in host program and
// viewer. The options that leave out image decoding and encoding come from the
// build (cmake/TinyGltf.cmake), as every user of the header must see them.
#define TINYGLTF_IMPLEMENTATION
#include <tiny_gltf.h>
