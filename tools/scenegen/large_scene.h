/* large_scene.h — generated scenes of a chosen size, for benchmarks and tests of large scenes.

       GltfBuilder gltf = largeScene(200000);           // exactly 200000 triangles
       std::string json = gltf.json("scene1.bin");       // gltf.binary() holds the buffer

   The scene is one mesh of rolling hills where the demo's orbit camera looks (the hills end
   before the camera's circle), untextured, lit by two point lights that circle above it. Its
   index list is 32-bit once the mesh has more than 65536 vertices, as glTF writers do. */
#pragma once

#include <cstdint>

#include "tools/scenegen/gltf_writer.h"

GltfBuilder largeScene(int64_t triangles);
