/* gltf.h — the glTF 2.0 document records.

   One plain record per glTF object kind the demo understands, each registered with the JSON
   reflection under a fixed key list, so the whole document is read in one call:

       GLTFMain document;
       std::istringstream in(jsonText);
       refl::json::parse<GLTFMain>(in, document, false, true);
       const GLTFNode& root = document.nodes[document.scenes[0].nodes[0]];

   Only the subset listed here is read; every other key (for example "asset",
   "extensionsUsed") is skipped by the reader. A member whose key is absent keeps the default
   written below. The records are the packer's input only (gltf_pack.h): nothing checks them
   here, and nothing keeps a document alive after packing. Note that the material key is
   "metallicRoughnessTexcture" as spelt below, so the glTF-standard "metallicRoughnessTexture"
   is not read (no part of the demo uses it). */
#pragma once

#include "refl/refl.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

struct GLTFScene {
    std::string name;
    std::vector<int> nodes; // root node indices
    REFL_MEMBERS(name, nodes)
};

struct GLTFNodeExtPunctualLightIndex {
    int light = 0; // index into the document's KHR_lights_punctual light list
    REFL_MEMBERS(light)
};

struct GLTFNodeExtensions {
    std::shared_ptr<GLTFNodeExtPunctualLightIndex> KHR_lights_punctual;
    REFL_MEMBERS(KHR_lights_punctual)
};

struct GLTFNode {
    std::string name;
    std::vector<int> children;
    int mesh = -1;
    std::vector<float> matrix;      // 16 values, column-major, when present
    std::vector<float> scale;       // x, y, z
    std::vector<float> rotation;    // quaternion x, y, z, w
    std::vector<float> translation; // x, y, z
    int camera = -1;                // index into cameras
    refl::json::value extras;       // kept, never read
    std::shared_ptr<GLTFNodeExtensions> extensions;
    REFL_MEMBERS(name, children, mesh, camera, matrix, scale, rotation, translation, extensions, extras)
};

struct GLTFMeshPrimitive {
    std::map<std::string, int> attributes; // attribute name -> accessor index
    int indices = -1;                      // accessor index
    int material = -1;                     // material index
    int mode = 4;                          // 0 points, 1 lines, 2 line loop, 3 line strip, 4 triangles,
                                           // 5 triangle strip, 6 triangle fan
    REFL_MEMBERS(attributes, indices, material, mode)
};

struct GLTFMesh {
    std::string name;
    std::vector<GLTFMeshPrimitive> primitives;
    REFL_MEMBERS(name, primitives)
};

// KHR_texture_transform: uv' = offset + rotation(scale * uv), rotation counter-clockwise in UV space.
struct GLTFTextureTransform {
    std::vector<float> offset; // u, v; none: 0, 0
    double rotation = 0;       // radians
    std::vector<float> scale;  // u, v; none: 1, 1
    int texCoord = -1;         // replaces the texture info's texCoord when set
    REFL_MEMBERS(offset, rotation, scale, texCoord)
};

struct GLTFTextureInfoExtensions {
    std::shared_ptr<GLTFTextureTransform> KHR_texture_transform;
    REFL_MEMBERS(KHR_texture_transform)
};

struct GLTFMaterialTextureInfo {
    int index = -1;    // index into textures
    int texCoord = -1; // the TEXCOORD_n set; none: 0
    double scale = 1.0;
    double strength = 0.0;
    std::shared_ptr<GLTFTextureInfoExtensions> extensions;
    REFL_MEMBERS(index, texCoord, scale, strength, extensions)
};

struct GLTFPBRMetallicRoughness {
    std::shared_ptr<GLTFMaterialTextureInfo> baseColorTexture;
    std::vector<float> baseColorFactor; // r, g, b, a in [0, 1]
    std::shared_ptr<GLTFMaterialTextureInfo> metallicRoughnessTexcture;
    double metallicFactor = 0;
    double roughnessFactor = 0;
    REFL_MEMBERS(baseColorTexture, baseColorFactor, metallicRoughnessTexcture, metallicFactor,
                 roughnessFactor)
};

struct GLTFMaterial {
    std::string name;
    bool doubleSided = false;
    std::shared_ptr<GLTFPBRMetallicRoughness> pbrMetallicRoughness;
    REFL_MEMBERS(name, doubleSided, pbrMetallicRoughness)
};

struct GLTFAccessorSparseIndices {
    int bufferView = -1;
    int byteOffset = 0;
    int componentType = -1; // 5121, 5123 or 5125
    REFL_MEMBERS(bufferView, byteOffset, componentType)
};

struct GLTFAccessorSparseValues {
    int bufferView = -1;
    int byteOffset = 0;
    REFL_MEMBERS(bufferView, byteOffset)
};

// Substitutions: element indices[i] of the accessor takes values[i].
struct GLTFAccessorSparse {
    int count = -1;
    GLTFAccessorSparseIndices indices;
    GLTFAccessorSparseValues values;
    REFL_MEMBERS(count, indices, values)
};

struct GLTFAccessor {
    std::string type;       // "SCALAR", "VEC2", "VEC3", "VEC4" (others are not packed)
    int bufferView = -1;    // none: every element starts as zeros (a sparse accessor's base)
    int byteOffset = 0;     // bytes from the start of the buffer view
    int componentType = -1; // glTF code: 5120 byte, 5121 unsigned byte, 5122 short, 5123 unsigned short,
                            // 5125 unsigned int, 5126 float
    int count = -1;         // elements
    std::vector<float> min;
    std::vector<float> max;
    bool normalized = false; // integers stand for [0, 1] (unsigned) or [-1, 1] (signed)
    std::shared_ptr<GLTFAccessorSparse> sparse;
    REFL_MEMBERS(type, bufferView, byteOffset, componentType, count, min, max, normalized, sparse)
};

struct GLTFBufferView {
    int buffer = 0;
    int byteLength = 0;
    int byteOffset = 0; // bytes from the start of the buffer
    int byteStride = 0; // bytes from one element to the next; 0 for tightly packed elements
    REFL_MEMBERS(buffer, byteLength, byteOffset, byteStride)
};

struct GLTFBuffer {
    int byteLength = 0;
    std::string uri; // "data:" URI, archive member or file; empty for a binary container's chunk
    REFL_MEMBERS(byteLength, uri)
};

struct GLTFCameraPerspective {
    double aspectRatio = 0;
    double yfov = 0; // radians
    double znear = 0;
    double zfar = 0;
    REFL_MEMBERS(aspectRatio, yfov, znear, zfar)
};

struct GLTFCameraOrthographic {
    double xmag = 0; // half the view's width
    double ymag = 0; // half the view's height
    double znear = 0;
    double zfar = 0;
    REFL_MEMBERS(xmag, ymag, znear, zfar)
};

struct GLTFCamera {
    std::string name;
    std::string type; // "perspective" or "orthographic"
    std::shared_ptr<GLTFCameraPerspective> perspective;
    std::shared_ptr<GLTFCameraOrthographic> orthographic;
    REFL_MEMBERS(name, type, perspective, orthographic)
};

struct GLTFTexture {
    int sampler = -1;
    int source = -1; // index into images
    REFL_MEMBERS(sampler, source)
};

struct GLTFImage {
    std::string mimeType;
    std::string name;
    int bufferView = -1;
    std::string uri;
    REFL_MEMBERS(mimeType, name, bufferView, uri)
};

struct GLTFSampler {
    int magFilter = -1;
    int minFilter = -1;
    int wrapS = -1;
    int wrapT = -1;
    REFL_MEMBERS(minFilter, magFilter, wrapS, wrapT)
};

struct GLTFAnimChannelTarget {
    int node = 0;
    std::string path; // "translation", "rotation", "scale"
    REFL_MEMBERS(node, path)
};

struct GLTFAnimChannel {
    int sampler = 0; // index into the animation's samplers
    GLTFAnimChannelTarget target;
    REFL_MEMBERS(sampler, target)
};

struct GLTFAnimSampler {
    int input = 0;             // accessor of the key times
    int output = 0;            // accessor of the key values
    std::string interpolation; // "STEP", "LINEAR", "CUBICSPLINE"
    REFL_MEMBERS(input, output, interpolation)
};

struct GLTFAnimation {
    std::string name;
    std::vector<GLTFAnimChannel> channels;
    std::vector<GLTFAnimSampler> samplers;
    REFL_MEMBERS(name, channels, samplers)
};

struct GLTFExtPunctualLight {
    std::string type;
    std::string name;
    std::vector<float> color; // linear r, g, b
    double intensity = 0;
    REFL_MEMBERS(type, name, color, intensity)
};

struct GLTFExtPunctualLights {
    std::vector<GLTFExtPunctualLight> lights;
    REFL_MEMBERS(lights)
};

struct GLTFExtensions {
    std::shared_ptr<GLTFExtPunctualLights> KHR_lights_punctual;
    REFL_MEMBERS(KHR_lights_punctual)
};

// The extensions a document cannot be read without; read on its own, before the document.
struct GLTFRequirements {
    std::vector<std::string> extensionsRequired;
    REFL_MEMBERS(extensionsRequired)
};

struct GLTFMain {
    int scene = 0; // default scene; the first one when the document names none
    std::vector<GLTFScene> scenes;
    std::vector<GLTFNode> nodes;
    std::vector<GLTFCamera> cameras;
    std::vector<GLTFMaterial> materials;
    std::vector<GLTFMesh> meshes;
    std::vector<GLTFAccessor> accessors;
    std::vector<GLTFBufferView> bufferViews;
    std::vector<GLTFBuffer> buffers;
    std::vector<GLTFTexture> textures;
    std::vector<GLTFImage> images;
    std::vector<GLTFSampler> samplers;
    std::vector<GLTFAnimation> animations;
    std::shared_ptr<GLTFExtensions> extensions;
    REFL_MEMBERS(scene, scenes, nodes, cameras, materials, meshes, accessors, bufferViews, buffers, textures,
                 images, samplers, extensions, animations)
};
