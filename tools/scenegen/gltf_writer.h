/* gltf_writer.h — builds a glTF 2.0 document and its binary buffer.

   The builder gathers meshes, materials, nodes, point lights (KHR_lights_punctual) and
   animation channels, lays their arrays into one binary buffer (one buffer view per accessor,
   4-byte aligned) and writes the JSON text that refers to that buffer by file name:

       GltfBuilder gltf;
       int texture = gltf.addTexture("tex1.png");
       int material = gltf.addMaterial("Floor", {1, 1, 1, 1}, texture);
       int mesh = gltf.addMesh("Floor", {{floorMesh, material}});
       int node = gltf.addNode({.name = "Floor", .mesh = mesh});
       gltf.addRootNode(node);
       gltf.addChannel(node, "translation", "LINEAR", times, values);
       std::string json = gltf.json("scene1.bin");   // gltf.binary() holds the buffer

   Index accessors are unsigned shorts, or unsigned ints when an index exceeds 65535; everything
   else is floats. Every primitive carries
   POSITION, NORMAL and, unless told otherwise, TEXCOORD_0. One animation holds all channels. The builder
   checks nothing beyond what it needs to write a consistent file. */
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "tools/scenegen/meshes.h"

struct PrimitiveSpec {
    const MeshData* mesh; // must outlive the addMesh call only
    int material;
    bool withTexcoords = true; // false leaves TEXCOORD_0 out (for tests of untextured primitives)
};

struct NodeSpec {
    std::string name;
    int mesh = -1;
    int light = -1;
    std::optional<std::array<float, 3>> translation;
    std::optional<std::array<float, 4>> rotation; // quaternion x, y, z, w
    std::optional<std::array<float, 3>> scale;
    std::optional<std::array<float, 16>> matrix; // column-major; replaces T, R, S
    std::vector<int> children;
};

class GltfBuilder {
public:
    int addTexture(const std::string& uri);
    int addMaterial(const std::string& name, std::array<float, 4> baseColorFactor, int texture);
    int addMesh(const std::string& name, const std::vector<PrimitiveSpec>& primitives);
    int addLight(const std::string& name, std::array<float, 3> colour, float intensity);
    int addNode(const NodeSpec& node);
    void addChild(int parent, int child) { nodes_[parent].children.push_back(child); }
    void addRootNode(int node) { roots_.push_back(node); }
    // `values` holds components floats per key, three keys' worth per key for CUBICSPLINE
    // (in-tangent, value, out-tangent).
    void addChannel(int node, const std::string& path, const std::string& interpolation,
                    const std::vector<float>& times, const std::vector<float>& values);

    std::string json(const std::string& binaryUri) const;
    const std::vector<unsigned char>& binary() const { return binary_; }

private:
    struct Accessor {
        int byteOffset, byteLength, count, componentType;
        const char* type;
        std::vector<float> minimum, maximum; // written only when not empty
    };
    struct Primitive {
        int indices, position, normal, texcoord, material;
    };
    struct Mesh {
        std::string name;
        std::vector<Primitive> primitives;
    };
    struct Material {
        std::string name;
        std::array<float, 4> factor;
        int texture;
    };
    struct Light {
        std::string name;
        std::array<float, 3> colour;
        float intensity;
    };
    struct Channel {
        int node, input, output;
        std::string path, interpolation;
    };

    int addFloatAccessor(const std::vector<float>& values, int components, bool withBounds);
    int addIndexAccessor(const std::vector<uint32_t>& indices);
    int appendBytes(const void* bytes, size_t size);

    std::vector<unsigned char> binary_;
    std::vector<Accessor> accessors_;
    std::vector<std::string> images_;
    std::vector<Material> materials_;
    std::vector<Mesh> meshes_;
    std::vector<Light> lights_;
    std::vector<NodeSpec> nodes_;
    std::vector<int> roots_;
    std::vector<Channel> channels_;
};
