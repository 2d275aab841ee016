#include "project.h"

#include <array>

#include "gltf_support.h"

namespace standin {
namespace {

using Vector = std::array<float, 3>;

struct Face {
    Vector normal;
    Vector u; // u × v = normal, so the corners run counter-clockwise seen from outside
    Vector v;
};

constexpr float kHalfSize = 0.2F;

} // namespace

tinygltf::Model BuiltInScene()
{
    const std::array<Face, 6> faces = {{
        {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}},
        {{-1, 0, 0}, {0, 0, 1}, {0, 1, 0}},
        {{0, 1, 0}, {0, 0, 1}, {1, 0, 0}},
        {{0, -1, 0}, {1, 0, 0}, {0, 0, 1}},
        {{0, 0, 1}, {1, 0, 0}, {0, 1, 0}},
        {{0, 0, -1}, {0, 1, 0}, {1, 0, 0}},
    }};
    const std::array<std::array<float, 2>, 4> corners = {{{-1, -1}, {1, -1}, {1, 1}, {-1, 1}}};

    TriangleMesh cube;
    cube.name = "Stand-in cube";
    cube.color = {0.75, 0.2, 0.2, 1.0};
    for (const Face& face : faces) {
        const auto first = static_cast<std::uint16_t>(cube.positions.size() / 3);
        for (const auto& corner : corners) {
            for (std::size_t axis = 0; axis < 3; ++axis) {
                cube.positions.push_back(kHalfSize * (face.normal[axis] + corner[0] * face.u[axis] +
                                                      corner[1] * face.v[axis]));
                cube.normals.push_back(face.normal[axis]);
            }
        }
        for (const int corner : {0, 1, 2, 0, 2, 3}) {
            cube.indices.push_back(static_cast<std::uint16_t>(first + corner));
        }
    }

    tinygltf::Model scene;
    scene.asset.generator = "ORVEL stand-in host";
    AddMesh(scene, cube);
    return scene;
}

bool OpenProjectFile(const std::string& path, tinygltf::Model& project, std::string& error)
{
    std::error_code status;
    if (!std::filesystem::is_regular_file(PathFromUtf8(path), status)) {
        error = "no such file";
        return false;
    }
    return LoadGltfFile(path, project, error);
}

} // namespace standin
