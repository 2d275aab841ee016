// The project open in the stand-in host: what its export service writes.
#pragma once

#include <string>

#include <tiny_gltf.h>

namespace standin {

// A built-in scene: one cube, 24 vertices (four per face, each face with its
// own normal), 12 triangles.
tinygltf::Model BuiltInScene();

// Opens a .gltf or .glb file as the project. On failure returns false and says
// why in `error`.
bool OpenProjectFile(const std::string& path, tinygltf::Model& project, std::string& error);

} // namespace standin
