// glTF files for the stand-in host program and viewer: reading, writing as a
// binary glTF (GLB), building small meshes, and the one-line summary both
// programs print. Paths are UTF-8 texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <tiny_gltf.h>

namespace standin {

// A path from UTF-8 text (on Windows, std::filesystem would otherwise read
// narrow text in the system's code page).
std::filesystem::path PathFromUtf8(const std::string& text);

// The counts the stand-ins report about a model.
struct ModelSummary {
    std::size_t meshes = 0;
    // The counts of every primitive's POSITION accessor, added up.
    std::uint64_t vertices = 0;
};

ModelSummary Summarize(const tinygltf::Model& model);

// "1 mesh, 24 vertices, 1234 bytes".
std::string DescribeModel(const ModelSummary& summary, std::uintmax_t fileBytes);

// Reads a binary glTF file and checks that it declares glTF 2.0. On failure
// returns false and says why in `error`.
bool LoadGlbFile(const std::string& path, tinygltf::Model& model, std::string& error);

// Reads a .gltf (text) or .glb file, chosen by the file's first bytes.
bool LoadGltfFile(const std::string& path, tinygltf::Model& model, std::string& error);

// Writes `model` as a binary glTF file at `path`, every buffer embedded: the
// buffers are joined into the file's one binary chunk. On failure returns
// false and says why in `error`.
bool WriteGlbFile(tinygltf::Model model, const std::string& path, std::string& error);

// An indexed triangle mesh: three floats per position and normal, three
// indices per triangle.
struct TriangleMesh {
    std::string name;
    std::vector<float> positions;
    std::vector<float> normals;
    std::vector<std::uint16_t> indices;
    // Base colour (red, green, blue, alpha) of the mesh's material.
    std::vector<double> color = {0.8, 0.8, 0.8, 1.0};
};

// Appends `mesh` to the model: its data to buffer 0 (created when missing),
// with buffer views, accessors, a material, the mesh and a node, which is
// added to scene 0 (created when missing).
void AddMesh(tinygltf::Model& model, const TriangleMesh& mesh);

} // namespace standin
