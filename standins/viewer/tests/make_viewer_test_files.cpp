// Writes the files the stand-in viewer's tests hand it into a new folder
// (replacing any folder of that name): models, good and bad in several ways,
// and settings files naming them. Paths inside the settings are relative to
// that folder.
//
//   make_viewer_test_files FOLDER
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "gltf_support.h"

namespace {

void WriteText(const std::string& name, const std::string& text)
{
    std::ofstream file(standin::PathFromUtf8(name), std::ios::binary | std::ios::trunc);
    file << text;
    if (!file.flush()) {
        throw std::runtime_error("cannot write " + name);
    }
}

void WriteGlb(const tinygltf::Model& model, const std::string& name)
{
    std::string error;
    if (!standin::WriteGlbFile(model, name, error)) {
        throw std::runtime_error("cannot write " + name + ": " + error);
    }
}

standin::TriangleMesh Triangle()
{
    standin::TriangleMesh mesh;
    mesh.name = "triangle";
    mesh.positions = {0.0F, 0.0F, 0.0F, 1.0F, 0.0F, 0.0F, 0.0F, 1.0F, 0.0F};
    mesh.normals = {0.0F, 0.0F, 1.0F, 0.0F, 0.0F, 1.0F, 0.0F, 0.0F, 1.0F};
    mesh.indices = {0, 1, 2};
    return mesh;
}

standin::TriangleMesh Quad()
{
    standin::TriangleMesh mesh;
    mesh.name = "quad";
    mesh.positions = {0.0F, 0.0F, 1.0F, 1.0F, 0.0F, 1.0F, 1.0F, 1.0F, 1.0F, 0.0F, 1.0F, 1.0F};
    mesh.normals = {0.0F, 0.0F, 1.0F, 0.0F, 0.0F, 1.0F, 0.0F, 0.0F, 1.0F, 0.0F, 0.0F, 1.0F};
    mesh.indices = {0, 1, 2, 0, 2, 3};
    mesh.color = {0.2, 0.4, 0.8, 1.0};
    return mesh;
}

void WriteSettings(const std::string& name, const std::string& modelFile)
{
    WriteText(name, "{\n    \"modelFile\": \"" + modelFile + "\"\n}");
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: make_viewer_test_files FOLDER" << std::endl;
        return 2;
    }
    try {
        const std::filesystem::path folder = argv[1];
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        std::filesystem::current_path(folder);

        tinygltf::Model twoPanels;
        twoPanels.asset.generator = "make_viewer_test_files";
        standin::AddMesh(twoPanels, Quad());
        standin::AddMesh(twoPanels, Triangle());
        WriteGlb(twoPanels, "two_panels.glb");
        WriteSettings("good.json", "two_panels.glb");

        tinygltf::Model triangle;
        standin::AddMesh(triangle, Triangle());
        // A model name beyond ASCII, as UTF-8 in the settings.
        WriteGlb(triangle, "mod\xC3\xA8le.glb");
        WriteSettings("utf8_model.json", "mod\xC3\xA8le.glb");
        // The same model as a text glTF: the viewer only takes binary ones.
        {
            // Through a stream: tinygltf's own file writing leaves files
            // read-only with MinGW.
            std::ostringstream text;
            tinygltf::TinyGLTF writer;
            if (!writer.WriteGltfSceneToStream(&triangle, text, true, false)) {
                throw std::runtime_error("cannot form triangle.gltf");
            }
            WriteText("triangle.gltf", text.str());
        }
        WriteSettings("text_model.json", "triangle.gltf");

        tinygltf::Model oldVersion = triangle;
        oldVersion.asset.version = "1.0";
        WriteGlb(oldVersion, "version1.glb");
        WriteSettings("version1.json", "version1.glb");

        WriteText("garbage.glb", "glTF but not really a binary glTF file");
        WriteSettings("garbage_model.json", "garbage.glb");
        WriteSettings("missing_model.json", "nowhere.glb");
        WriteSettings("empty_model.json", "");
        WriteText("not_json.json", "modelFile = two_panels.glb\n");
        WriteText("no_model_member.json", "{\n    \"model\": \"two_panels.glb\"\n}");
        WriteText("number_model.json", "{\n    \"modelFile\": 5\n}");
        WriteText("array.json", "[\"two_panels.glb\"]");
    } catch (const std::exception& error) {
        std::cerr << "make_viewer_test_files: " << error.what() << std::endl;
        return 1;
    }
    std::cout << "make_viewer_test_files: done" << std::endl;
    return 0;
}
