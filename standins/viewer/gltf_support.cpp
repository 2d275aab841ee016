#include "gltf_support.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>

namespace standin {
namespace {

// Images stay as the file has them: the stand-ins never look at pixels, and an
// image the GLB carries in a buffer is written back from that buffer.
bool KeepImageUndecoded(tinygltf::Image* /*image*/, const int /*index*/, std::string* /*error*/,
                        std::string* /*warning*/, int /*width*/, int /*height*/,
                        const unsigned char* /*bytes*/, int /*size*/, void* /*user*/)
{
    return true;
}

// tinygltf's messages, one per line, as one line.
std::string OneLine(const std::string& text)
{
    std::string line;
    std::istringstream lines(text);
    std::string part;
    while (std::getline(lines, part)) {
        while (!part.empty() && (part.back() == '\r' || part.back() == ' ')) {
            part.pop_back();
        }
        if (!part.empty()) {
            line += (line.empty() ? "" : "; ") + part;
        }
    }
    return line;
}

bool CheckVersion(const tinygltf::Model& model, std::string& error)
{
    if (model.asset.version != "2.0") {
        error = "it declares glTF version \"" + model.asset.version + "\", not \"2.0\"";
        return false;
    }
    return true;
}

// tinygltf's loaders for text and binary files, which take the same arguments.
using LoadFunction = bool (tinygltf::TinyGLTF::*)(tinygltf::Model*, std::string*, std::string*,
                                                  const std::string&, unsigned int);

bool Load(LoadFunction load, const std::string& path, tinygltf::Model& model, std::string& error)
{
    tinygltf::TinyGLTF loader;
    loader.SetImageLoader(&KeepImageUndecoded, nullptr);
    std::string loaderError;
    std::string warning;
    if (!(loader.*load)(&model, &loaderError, &warning, path, tinygltf::REQUIRE_VERSION)) {
        error = OneLine(loaderError);
        if (error.empty()) {
            error = "tinygltf could not read it";
        }
        return false;
    }
    return CheckVersion(model, error);
}

std::string Counted(std::uintmax_t count, const char* one, const char* many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// One buffer for the GLB's binary chunk: the buffers laid end to end, each
// starting at a multiple of 8 bytes so the views keep their alignment.
void JoinBuffers(tinygltf::Model& model)
{
    if (model.buffers.empty() || (model.buffers.size() == 1 && model.buffers[0].uri.empty())) {
        return;
    }
    tinygltf::Buffer joined;
    joined.name = model.buffers[0].name;
    std::vector<std::size_t> starts;
    for (const tinygltf::Buffer& buffer : model.buffers) {
        joined.data.resize((joined.data.size() + 7) / 8 * 8, 0);
        starts.push_back(joined.data.size());
        joined.data.insert(joined.data.end(), buffer.data.begin(), buffer.data.end());
    }
    for (tinygltf::BufferView& view : model.bufferViews) {
        if (view.buffer >= 0 && static_cast<std::size_t>(view.buffer) < starts.size()) {
            view.byteOffset += starts[static_cast<std::size_t>(view.buffer)];
            view.buffer = 0;
        }
    }
    model.buffers.assign(1, joined);
}

int AppendView(tinygltf::Model& model, const void* bytes, std::size_t size, int target)
{
    if (model.buffers.empty()) {
        model.buffers.emplace_back();
    }
    std::vector<unsigned char>& data = model.buffers[0].data;
    data.resize((data.size() + 3) / 4 * 4, 0);
    tinygltf::BufferView view;
    view.buffer = 0;
    view.byteOffset = data.size();
    view.byteLength = size;
    view.target = target;
    const auto* first = static_cast<const unsigned char*>(bytes);
    data.insert(data.end(), first, first + size);
    model.bufferViews.push_back(view);
    return static_cast<int>(model.bufferViews.size() - 1);
}

int AppendAccessor(tinygltf::Model& model, int view, int componentType, int type, std::size_t count)
{
    tinygltf::Accessor accessor;
    accessor.bufferView = view;
    accessor.byteOffset = 0;
    accessor.componentType = componentType;
    accessor.type = type;
    accessor.count = count;
    model.accessors.push_back(accessor);
    return static_cast<int>(model.accessors.size() - 1);
}

int AppendVectors(tinygltf::Model& model, const std::vector<float>& values)
{
    const int view = AppendView(model, values.data(), values.size() * sizeof(float),
                                TINYGLTF_TARGET_ARRAY_BUFFER);
    const int accessor = AppendAccessor(model, view, TINYGLTF_COMPONENT_TYPE_FLOAT,
                                        TINYGLTF_TYPE_VEC3, values.size() / 3);
    return accessor;
}

} // namespace

std::filesystem::path PathFromUtf8(const std::string& text)
{
    return std::filesystem::u8path(text);
}

ModelSummary Summarize(const tinygltf::Model& model)
{
    ModelSummary summary;
    summary.meshes = model.meshes.size();
    for (const tinygltf::Mesh& mesh : model.meshes) {
        for (const tinygltf::Primitive& primitive : mesh.primitives) {
            const auto position = primitive.attributes.find("POSITION");
            if (position != primitive.attributes.end() && position->second >= 0 &&
                static_cast<std::size_t>(position->second) < model.accessors.size()) {
                summary.vertices +=
                    model.accessors[static_cast<std::size_t>(position->second)].count;
            }
        }
    }
    return summary;
}

std::string DescribeModel(const ModelSummary& summary, std::uintmax_t fileBytes)
{
    return Counted(summary.meshes, "mesh", "meshes") + ", " +
           Counted(summary.vertices, "vertex", "vertices") + ", " +
           Counted(fileBytes, "byte", "bytes");
}

bool LoadGlbFile(const std::string& path, tinygltf::Model& model, std::string& error)
{
    return Load(&tinygltf::TinyGLTF::LoadBinaryFromFile, path, model, error);
}

bool LoadGltfFile(const std::string& path, tinygltf::Model& model, std::string& error)
{
    std::ifstream file(PathFromUtf8(path), std::ios::binary);
    char magic[4] = {};
    if (!file.read(magic, sizeof(magic)) && file.gcount() == 0) {
        error = "cannot read the file";
        return false;
    }
    file.close();
    const bool binary = std::memcmp(magic, "glTF", sizeof(magic)) == 0;
    return Load(binary ? &tinygltf::TinyGLTF::LoadBinaryFromFile
                       : &tinygltf::TinyGLTF::LoadASCIIFromFile,
                path, model, error);
}

bool WriteGlbFile(tinygltf::Model model, const std::string& path, std::string& error)
{
    JoinBuffers(model);
    std::ostringstream glb;
    tinygltf::TinyGLTF writer;
    if (!writer.WriteGltfSceneToStream(&model, glb, false, true)) {
        error = "tinygltf could not serialise the model";
        return false;
    }
    const std::string bytes = glb.str();
    std::ofstream file(PathFromUtf8(path), std::ios::binary | std::ios::trunc);
    if (!file) {
        error = "cannot open the file for writing";
        return false;
    }
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file) {
        error = "writing the file failed";
        return false;
    }
    return true;
}

void AddMesh(tinygltf::Model& model, const TriangleMesh& mesh)
{
    tinygltf::Primitive primitive;
    primitive.mode = TINYGLTF_MODE_TRIANGLES;

    const int positions = AppendVectors(model, mesh.positions);
    tinygltf::Accessor& positionAccessor = model.accessors[static_cast<std::size_t>(positions)];
    positionAccessor.minValues.assign(3, 0.0);
    positionAccessor.maxValues.assign(3, 0.0);
    for (std::size_t i = 0; i < mesh.positions.size(); ++i) {
        const double value = static_cast<double>(mesh.positions[i]);
        double& low = positionAccessor.minValues[i % 3];
        double& high = positionAccessor.maxValues[i % 3];
        low = i < 3 ? value : std::min(low, value);
        high = i < 3 ? value : std::max(high, value);
    }
    primitive.attributes["POSITION"] = positions;
    if (!mesh.normals.empty()) {
        primitive.attributes["NORMAL"] = AppendVectors(model, mesh.normals);
    }
    const int indexView =
        AppendView(model, mesh.indices.data(), mesh.indices.size() * sizeof(std::uint16_t),
                   TINYGLTF_TARGET_ELEMENT_ARRAY_BUFFER);
    primitive.indices = AppendAccessor(model, indexView, TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT,
                                       TINYGLTF_TYPE_SCALAR, mesh.indices.size());

    tinygltf::Material material;
    material.name = mesh.name;
    material.doubleSided = true;
    material.pbrMetallicRoughness.baseColorFactor = mesh.color;
    material.pbrMetallicRoughness.metallicFactor = 0.0;
    material.pbrMetallicRoughness.roughnessFactor = 0.9;
    model.materials.push_back(material);
    primitive.material = static_cast<int>(model.materials.size() - 1);

    tinygltf::Mesh gltfMesh;
    gltfMesh.name = mesh.name;
    gltfMesh.primitives.push_back(primitive);
    model.meshes.push_back(gltfMesh);

    tinygltf::Node node;
    node.name = mesh.name;
    node.mesh = static_cast<int>(model.meshes.size() - 1);
    model.nodes.push_back(node);

    if (model.scenes.empty()) {
        model.scenes.emplace_back();
        model.defaultScene = 0;
    }
    model.scenes[0].nodes.push_back(static_cast<int>(model.nodes.size() - 1));
}

} // namespace standin
