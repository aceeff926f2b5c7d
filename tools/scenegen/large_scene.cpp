#include "tools/scenegen/large_scene.h"

#include <cmath>

GltfBuilder largeScene(int64_t triangles) {
    GltfBuilder gltf;
    MeshData hills;
    // The orbit camera circles x = 5.84 at radius 1.44 about 0.4 m up, looking at (0, 0.72, 0).
    addHills(hills, -5.0f, -4.5f, 4.2f, 4.5f, 1.2f, triangles);
    int material = gltf.addMaterial("Hills", {0.62f, 0.7f, 0.5f, 1.0f}, -1);
    int mesh = gltf.addMesh("Hills", {{&hills, material, false}});
    NodeSpec hillsNode;
    hillsNode.name = "Hills";
    hillsNode.mesh = mesh;
    gltf.addRootNode(gltf.addNode(hillsNode));

    // Two lights circling the hills in opposite directions, once every 10 seconds.
    const float kPi = 3.14159265f;
    struct Orbit {
        const char* name;
        std::array<float, 3> colour;
        float phase, direction;
    };
    for (const Orbit& orbit :
         {Orbit{"Warm", {1.0f, 0.8f, 0.6f}, 0.0f, 1.0f}, Orbit{"Cool", {0.6f, 0.75f, 1.0f}, kPi, -1.0f}}) {
        NodeSpec lightNode;
        lightNode.name = std::string("Light") + orbit.name;
        lightNode.light = gltf.addLight(orbit.name, orbit.colour, 6000.0f);
        int node = gltf.addNode(lightNode);
        std::vector<float> times, values;
        for (int k = 0; k <= 40; ++k) {
            float t = 0.5f * static_cast<float>(k);
            float a = orbit.phase + orbit.direction * 2.0f * kPi * t / 10.0f;
            times.push_back(t);
            values.insert(values.end(), {2.5f * std::cos(a), 2.6f, 2.5f * std::sin(a)});
        }
        gltf.addChannel(node, "translation", "LINEAR", times, values);
        gltf.addRootNode(node);
    }
    return gltf;
}
