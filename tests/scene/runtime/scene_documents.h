// Small glTF documents for the scene runtime tests, packed into scene blobs.
#pragma once

#include <string>
#include <vector>

#include "tools/scenegen/gltf_writer.h"
#include "tools/scenegen/meshes.h"

// Registers the builder's binary buffer in the store under a fresh name, writes the document
// around it and packs it with loadGLTF. The blob lives for the process.
void* packScene(const GltfBuilder& gltf);

// A name no other test uses, "<stem>_<n><extension>".
std::string uniqueName(const std::string& stem, const std::string& extension);

// An axis-aligned unit cube around the origin: 24 vertices (one normal per face), 36 indices.
MeshData cubeMesh();

// A quad covering clip space at z = 0, facing +z: 4 vertices, 6 indices.
MeshData screenQuad();

// Registers a w x h PNG of one colour under `name` (decoded by the image hook when installed).
void storeSolidPng(const std::string& name, int width, int height, unsigned char r, unsigned char g,
                   unsigned char b, unsigned char a);

// A node spec with a name, optional mesh and optional translation.
NodeSpec node(const std::string& name, int mesh = -1);
NodeSpec node(const std::string& name, int mesh, std::array<float, 3> translation);
