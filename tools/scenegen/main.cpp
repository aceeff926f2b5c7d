/* scenegen — writes the demo's scene: scene1.gltf, scene1.bin, tex1.png, tex2.png, tex3.png.

   Usage: scenegen [OUTPUT_FOLDER]   (default: the current folder)
          scenegen --triangles N [OUTPUT_FOLDER]

   With --triangles, it writes instead a generated scene of exactly N triangles as scene1.gltf
   and scene1.bin (no textures): hills under two moving lights (large_scene.h), to try scenes
   of real size without downloading models. The names let it stand in for the demo's scene in
   an archive.

   The scene is a colonnaded hall seen from the demo's orbit camera, which circles (5.84, y, 0)
   at radius 1.44 looking at (0, 0.72, 0): a marble floor, a warm back wall between a red and a
   blue side wall that bounce coloured light, two rows of columns carrying arches, and on a
   mosaic dais a bouncing ball, a wobbling halo and four equaliser bars that jump on the beat.
   Four coloured point lights move through the hall, two of them along the coloured walls.
   Static geometry is stored in world coordinates and the animated objects rotate only a
   little, so the picture stays right even where normals are taken in object space.

   The animation follows the tune: 120 beats per minute, bars of four beats, the second section
   (bass and snare) from 8 s, 20 seconds in all. The output is deterministic, so the committed
   assets can be compared with a fresh run. */
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>

#include <stb/stb_image_write.h>

#include "tools/scenegen/gltf_writer.h"
#include "tools/scenegen/large_scene.h"
#include "tools/scenegen/meshes.h"
#include "tools/scenegen/textures.h"

namespace {

constexpr float kPi = 3.14159265358979f;
constexpr float kBeat = 0.5f; // seconds per beat at 120 BPM
constexpr int kBeatsPerBar = 4;
constexpr float kSecondSection = 8.0f; // bass and snare enter
constexpr float kSceneLength = 20.0f;  // seconds of animation; the demo ends at 20 s
constexpr int kBeats = static_cast<int>(kSceneLength / kBeat);
constexpr int kTextureSize = 256;

// Hall extents (metres): floor at y = 0.
constexpr float kBackWallX = -5.0f, kFrontWallX = 9.0f, kSideWallZ = 4.8f, kCeilingY = 4.0f;
constexpr float kColumnRowZ = 2.4f, kColumnSpacing = 2.4f;
constexpr float kCapitalTopY = 2.5f, kArchRadius = 0.95f, kArchHeight = 1.25f, kArchHalfDepth = 0.25f;
constexpr float kDaisTopY = 0.25f;

using Vec3f = std::array<float, 3>;
using Quat = std::array<float, 4>;

void writeFile(const std::string& path, const void* bytes, size_t size) {
    std::ofstream out(path, std::ios::binary);
    out.write(static_cast<const char*>(bytes), static_cast<std::streamsize>(size));
    if (!out) throw std::runtime_error("cannot write " + path);
}

void writePng(const std::string& path, const RgbaImage& image) {
    if (!stbi_write_png(path.c_str(), image.size, image.size, 4, image.texels.data(), image.size * 4))
        throw std::runtime_error("cannot write " + path);
}

Quat axisAngle(Vec3f axis, float angle) {
    float s = std::sin(angle * 0.5f);
    return {axis[0] * s, axis[1] * s, axis[2] * s, std::cos(angle * 0.5f)};
}

void append(std::vector<float>& values, const float* begin, int count) {
    values.insert(values.end(), begin, begin + count);
}

NodeSpec meshNode(const std::string& name, int mesh, std::optional<Vec3f> translation = std::nullopt) {
    NodeSpec node;
    node.name = name;
    node.mesh = mesh;
    node.translation = translation;
    return node;
}

NodeSpec lightNode(const std::string& name, int light) {
    NodeSpec node;
    node.name = name;
    node.light = light;
    return node;
}

// ---- The hall: floor, walls, ceiling, colonnades, dais ----

struct Materials {
    int floor, backWall, redWall, blueWall, plaster, marble, mosaic, ball, halo;
    std::array<int, 4> bars;
};

Materials addMaterials(GltfBuilder& gltf) {
    int marbleTexture = gltf.addTexture("tex1.png");
    int brickTexture = gltf.addTexture("tex2.png");
    int mosaicTexture = gltf.addTexture("tex3.png");
    Materials m{};
    m.floor = gltf.addMaterial("FloorMarble", {1.0f, 1.0f, 1.0f, 1.0f}, marbleTexture);
    m.backWall = gltf.addMaterial("BackWall", {0.96f, 0.88f, 0.74f, 1.0f}, brickTexture);
    m.redWall = gltf.addMaterial("RedWall", {0.96f, 0.30f, 0.22f, 1.0f}, brickTexture);
    m.blueWall = gltf.addMaterial("BlueWall", {0.24f, 0.50f, 0.96f, 1.0f}, brickTexture);
    m.plaster = gltf.addMaterial("Plaster", {0.86f, 0.85f, 0.82f, 1.0f}, brickTexture);
    m.marble = gltf.addMaterial("ColumnMarble", {0.95f, 0.93f, 0.88f, 1.0f}, marbleTexture);
    m.mosaic = gltf.addMaterial("DaisMosaic", {1.0f, 1.0f, 1.0f, 1.0f}, mosaicTexture);
    m.ball = gltf.addMaterial("BallMosaic", {1.0f, 0.97f, 0.92f, 1.0f}, mosaicTexture);
    m.halo = gltf.addMaterial("HaloGold", {1.0f, 0.78f, 0.36f, 1.0f}, mosaicTexture);
    const std::array<std::array<float, 4>, 4> barColours = {{
        {1.0f, 0.72f, 0.28f, 1.0f},
        {0.28f, 0.90f, 0.86f, 1.0f},
        {1.0f, 0.32f, 0.28f, 1.0f},
        {0.92f, 0.92f, 0.96f, 1.0f},
    }};
    for (int i = 0; i < 4; ++i)
        m.bars[i] = gltf.addMaterial("Bar" + std::to_string(i), barColours[i], mosaicTexture);
    return m;
}

void addHall(GltfBuilder& gltf, const Materials& m) {
    const float length = kFrontWallX - kBackWallX, width = 2.0f * kSideWallZ;
    MeshData floor, backWall, redWall, blueWall, plaster;
    // Grids rather than single quads keep the captured triangles small for the hierarchy.
    addGrid(floor, {kBackWallX, 0, kSideWallZ}, {length, 0, 0}, {0, 0, -width}, 7, 5, 0.5f);
    // Every wall faces into the hall (normal = cross(a, b)), so it takes direct light from inside and a
    // viewer that culls back faces still draws it.
    addGrid(backWall, {kBackWallX, 0, kSideWallZ}, {0, 0, -width}, {0, kCeilingY, 0}, 5, 2, 0.5f);
    addGrid(redWall, {kBackWallX, 0, -kSideWallZ}, {length, 0, 0}, {0, kCeilingY, 0}, 7, 2, 0.5f);
    addGrid(blueWall, {kFrontWallX, 0, kSideWallZ}, {-length, 0, 0}, {0, kCeilingY, 0}, 7, 2, 0.5f);
    addGrid(plaster, {kBackWallX, kCeilingY, -kSideWallZ}, {length, 0, 0}, {0, 0, width}, 7, 5, 0.5f);
    addGrid(plaster, {kFrontWallX, 0, -kSideWallZ}, {0, 0, width}, {0, kCeilingY, 0}, 5, 2, 0.5f);
    // Ceiling beams across the hall and a cornice along the coloured walls.
    for (int i = -1; i <= 2; ++i) {
        float x = i * 2.0f * kColumnSpacing - kColumnSpacing;
        addBox(plaster, {x - 0.15f, kCeilingY - 0.3f, -kSideWallZ}, {x + 0.15f, kCeilingY, kSideWallZ}, 0.5f);
    }
    for (float side : {-1.0f, 1.0f}) {
        float z0 = side * kSideWallZ, z1 = side * (kSideWallZ - 0.2f);
        addBox(plaster, {kBackWallX, kCeilingY - 0.45f, std::min(z0, z1)},
               {kFrontWallX, kCeilingY - 0.3f, std::max(z0, z1)}, 0.5f);
    }
    // An archway framing a mosaic panel in the middle of the back wall.
    MeshData archway, panel;
    const float doorHalf = 1.6f, doorRadius = 1.2f, springY = 1.8f, frameDepth = 0.15f;
    addArchBlock(archway, doorHalf, 1.5f, frameDepth, doorRadius, 16, 0.5f);
    for (int i = 0; i < static_cast<int>(archway.positions.size()); i += 3)
        archway.positions[i + 1] += springY;
    for (float side : {-1.0f, 1.0f})
        addBox(archway, {side * doorHalf - (side > 0 ? doorHalf - doorRadius : 0.0f), 0.0f, -frameDepth},
               {side * doorRadius + (side > 0 ? doorHalf - doorRadius : 0.0f), springY, frameDepth}, 0.5f);
    const float quarterTurnAboutY[9] = {0, 0, -1, 0, 1, 0, 1, 0, 0}; // the block's x runs along the wall (z)
    rotateMesh(archway, quarterTurnAboutY);
    for (int i = 0; i < static_cast<int>(archway.positions.size()); i += 3)
        archway.positions[i] += kBackWallX + frameDepth;
    addGrid(panel, {kBackWallX + 0.01f, 0.0f, doorHalf}, {0, 0, -2.0f * doorHalf}, {0, springY + 1.5f, 0}, 2,
            2, 0.6f);

    int mesh = gltf.addMesh("Hall", {{&floor, m.floor},
                                     {&backWall, m.backWall},
                                     {&redWall, m.redWall},
                                     {&blueWall, m.blueWall},
                                     {&plaster, m.plaster},
                                     {&archway, m.marble},
                                     {&panel, m.mosaic}});
    gltf.addRootNode(gltf.addNode(meshNode("Hall", mesh)));
}

void addColonnades(GltfBuilder& gltf, const Materials& m) {
    MeshData column;
    addBox(column, {-0.3f, 0.0f, -0.3f}, {0.3f, 0.2f, 0.3f}, 1.0f);
    addCylinder(column, {0.0f, 0.2f, 0.0f}, 0.2f, kCapitalTopY - 0.4f, 12, 0.5f);
    addBox(column, {-0.28f, kCapitalTopY - 0.2f, -0.28f}, {0.28f, kCapitalTopY, 0.28f}, 1.0f);
    int columnMesh = gltf.addMesh("Column", {{&column, m.marble}});

    MeshData arch;
    addArchBlock(arch, kColumnSpacing * 0.5f, kArchHeight, kArchHalfDepth, kArchRadius, 16, 0.5f);
    int archMesh = gltf.addMesh("Arch", {{&arch, m.marble}});

    MeshData architrave;
    for (float z : {-kColumnRowZ, kColumnRowZ}) {
        float top = kCapitalTopY + kArchHeight;
        addBox(architrave, {-2.0f * kColumnSpacing, top, z - kArchHalfDepth - 0.05f},
               {2.0f * kColumnSpacing, kCeilingY, z + kArchHalfDepth + 0.05f}, 0.5f);
    }
    int architraveMesh = gltf.addMesh("Architrave", {{&architrave, m.plaster}});

    // Columns and arches share their meshes; the nodes only translate, so normals stay right.
    int colonnade = gltf.addNode(meshNode("Colonnade", architraveMesh));
    for (int row = 0; row < 2; ++row) {
        float z = row == 0 ? -kColumnRowZ : kColumnRowZ;
        for (int i = 0; i < 4; ++i) {
            float x = (i - 1.5f) * kColumnSpacing;
            gltf.addChild(colonnade, gltf.addNode(meshNode("Column" + std::to_string(row * 4 + i), columnMesh,
                                                           Vec3f{x, 0.0f, z})));
        }
        for (int i = 0; i < 3; ++i) {
            float x = (i - 1.0f) * kColumnSpacing;
            gltf.addChild(colonnade, gltf.addNode(meshNode("Arch" + std::to_string(row * 3 + i), archMesh,
                                                           Vec3f{x, kCapitalTopY, z})));
        }
    }
    gltf.addRootNode(colonnade);
}

// ---- The stage: dais, ball, halo, equaliser bars ----

// Bar heights per beat, one bar of the tune per row: a simple kick-snare-like pattern.
constexpr float kBarPattern[4][kBeatsPerBar] = {
    {1.6f, 0.5f, 1.1f, 0.6f},
    {0.6f, 1.5f, 0.7f, 1.2f},
    {1.2f, 0.7f, 1.6f, 0.5f},
    {0.5f, 1.1f, 0.6f, 1.6f},
};

void addBallAnimation(GltfBuilder& gltf, int ball) {
    // Translation, CUBICSPLINE: a parabola per beat, landing on every beat, higher on the downbeat.
    std::vector<float> times, values;
    for (int half = 0; half <= 2 * kBeats; ++half) {
        float t = half * kBeat * 0.5f;
        int beat = half / 2;
        // High on the downbeat; from the second section also on the snare beats 2 and 4.
        int inBar = beat % kBeatsPerBar;
        bool snare = beat * kBeat >= kSecondSection && inBar % 2 == 1;
        float height = inBar == 0 ? 1.05f : snare ? 0.9f : 0.6f;
        bool landing = half % 2 == 0;
        float y = landing ? kDaisTopY : kDaisTopY + height;
        // A parabola of apex height h over one beat leaves the ground with speed 4h / beat.
        float speed = 4.0f * height / kBeat;
        float inTangent[3] = {0.0f, landing ? -speed : 0.0f, 0.0f};
        float value[3] = {0.0f, y, 0.0f};
        float outTangent[3] = {0.0f, landing ? speed : 0.0f, 0.0f};
        times.push_back(t);
        append(values, inTangent, 3);
        append(values, value, 3);
        append(values, outTangent, 3);
    }
    gltf.addChannel(ball, "translation", "CUBICSPLINE", times, values);

    // Scale, LINEAR: a short squash at each landing, about the ball's lowest point.
    times.clear();
    values.clear();
    for (int beat = 0; beat <= kBeats; ++beat) {
        float t = beat * kBeat;
        const float keys[3][4] = {
            {-0.05f, 1.0f, 1.0f, 1.0f}, {0.0f, 1.18f, 0.76f, 1.18f}, {0.07f, 1.0f, 1.0f, 1.0f}};
        for (const auto& key : keys) {
            if (t + key[0] < 0.0f) continue;
            times.push_back(t + key[0]);
            append(values, key + 1, 3);
        }
    }
    gltf.addChannel(ball, "scale", "LINEAR", times, values);
}

void addHaloAnimation(GltfBuilder& gltf, int halo) {
    // Rotation, CUBICSPLINE: the ring nods or turns towards a new side on every beat, by at most 14 degrees,
    // easing in and out (zero tangents), so that object-space normals stay close to right.
    std::vector<float> times, values;
    const float zero[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    for (int beat = 0; beat <= kBeats; ++beat) {
        float direction = beat * kPi * 0.5f;
        float tilt = (beat % kBeatsPerBar == 0 ? 14.0f : 8.0f) * kPi / 180.0f;
        Quat q = axisAngle({0.0f, std::cos(direction), std::sin(direction)}, tilt);
        times.push_back(beat * kBeat);
        append(values, zero, 4);
        append(values, q.data(), 4);
        append(values, zero, 4);
    }
    gltf.addChannel(halo, "rotation", "CUBICSPLINE", times, values);
}

void addBarAnimation(GltfBuilder& gltf, int bar, int index) {
    // Scale, STEP: the bar's height jumps on every beat, like a level meter.
    std::vector<float> times, values;
    for (int beat = 0; beat < kBeats; ++beat) {
        int barOfTune = beat / kBeatsPerBar;
        // The first section builds up; the bars reach full height when the bass enters.
        float level = beat * kBeat >= kSecondSection ? 1.0f : 0.55f + 0.45f * beat * kBeat / kSecondSection;
        float height = level * kBarPattern[(index + barOfTune) % 4][beat % kBeatsPerBar];
        float key[3] = {1.0f, height, 1.0f};
        times.push_back(beat * kBeat);
        append(values, key, 3);
    }
    gltf.addChannel(bar, "scale", "STEP", times, values);
}

void addStage(GltfBuilder& gltf, const Materials& m) {
    MeshData dais;
    addBox(dais, {-1.3f, 0.0f, -1.3f}, {1.3f, 0.1f, 1.3f}, 1.0f);
    addBox(dais, {-1.0f, 0.1f, -1.0f}, {1.0f, kDaisTopY, 1.0f}, 1.0f);
    int daisMesh = gltf.addMesh("Dais", {{&dais, m.mosaic}});

    const float ballRadius = 0.28f;
    MeshData ballShape;
    addSphere(ballShape, {0.0f, ballRadius, 0.0f}, ballRadius, 16, 10); // origin at its lowest point
    int ballMesh = gltf.addMesh("Ball", {{&ballShape, m.ball}});

    // The halo stands upright facing the camera's side of the hall (a ring around the x axis).
    MeshData haloShape;
    addTorus(haloShape, {0.0f, 0.0f, 0.0f}, 0.78f, 0.07f, 20, 6);
    const float quarterTurnAboutZ[9] = {0, -1, 0, 1, 0, 0, 0, 0, 1};
    rotateMesh(haloShape, quarterTurnAboutZ);
    int haloMesh = gltf.addMesh("Halo", {{&haloShape, m.halo}});

    int stage = gltf.addNode(meshNode("Stage", daisMesh));
    int ball = gltf.addNode(meshNode("Ball", ballMesh, Vec3f{0.0f, kDaisTopY, 0.0f}));
    int halo = gltf.addNode(meshNode("Halo", haloMesh, Vec3f{0.0f, 1.12f, 0.0f}));
    gltf.addChild(stage, ball);
    gltf.addChild(stage, halo);
    addBallAnimation(gltf, ball);
    addHaloAnimation(gltf, halo);

    for (int i = 0; i < 4; ++i) {
        MeshData bar;
        addBox(bar, {-0.2f, 0.0f, -0.2f}, {0.2f, 0.6f, 0.2f}, 2.0f); // scaled in y by the animation
        int barMesh = gltf.addMesh("Bar" + std::to_string(i), {{&bar, m.bars[i]}});
        float angle = kPi * 0.25f + i * kPi * 0.5f;
        int node = gltf.addNode(meshNode("Bar" + std::to_string(i), barMesh,
                                         Vec3f{2.0f * std::cos(angle), 0.0f, 2.0f * std::sin(angle)}));
        gltf.addChild(stage, node);
        addBarAnimation(gltf, node, i);
    }
    gltf.addRootNode(stage);
}

// ---- Lights ----

using Path = Vec3f (*)(float t);

// LINEAR keys every `step` seconds over the whole scene.
void addLinearPath(GltfBuilder& gltf, int node, Path path, float step) {
    std::vector<float> times, values;
    for (int k = 0; k * step <= kSceneLength + 1e-4f; ++k) {
        Vec3f p = path(k * step);
        times.push_back(k * step);
        append(values, p.data(), 3);
    }
    gltf.addChannel(node, "translation", "LINEAR", times, values);
}

// CUBICSPLINE keys every `step` seconds whose tangents are the path's velocity, so that a few
// keys follow a smooth path closely.
void addSplinePath(GltfBuilder& gltf, int node, Path path, float step) {
    std::vector<float> times, values;
    const float h = 1e-3f;
    for (int k = 0; k * step <= kSceneLength + 1e-4f; ++k) {
        float t = k * step;
        Vec3f p = path(t), before = path(t - h), after = path(t + h);
        float velocity[3];
        for (int c = 0; c < 3; ++c) velocity[c] = (after[c] - before[c]) / (2.0f * h);
        times.push_back(t);
        append(values, velocity, 3);
        append(values, p.data(), 3);
        append(values, velocity, 3);
    }
    gltf.addChannel(node, "translation", "CUBICSPLINE", times, values);
}

float beatWave(float t) {
    return std::sin(2.0f * kPi * t / kBeat);
}

// Walks up and down the aisle beside the red wall; the wall glows and bounces red into the nave.
Vec3f amberPath(float t) {
    float a = 2.0f * kPi * t / 12.0f;
    return {0.5f - 3.0f * std::sin(a), 2.3f, -3.6f};
}
// The same beside the blue wall, at another pace, bobbing on the beat.
Vec3f cyanPath(float t) {
    float a = 2.0f * kPi * t / 8.0f;
    return {3.0f * std::sin(a), 1.8f + 0.12f * beatWave(t), 3.6f};
}
// Sweeps along the back wall from the red side to the blue side and back.
Vec3f magentaPath(float t) {
    float a = 2.0f * kPi * t / 10.0f;
    return {-3.7f + 0.4f * std::cos(a), 2.6f, 3.0f * std::sin(a)};
}
// A slow key light above the camera's side of the nave.
Vec3f whitePath(float t) {
    float a = 2.0f * kPi * t / 12.0f;
    return {3.2f + 0.9f * std::cos(a), 3.1f, 0.9f * std::sin(a)};
}

void addLights(GltfBuilder& gltf) {
    int amber = gltf.addNode(lightNode("LightAmber", gltf.addLight("Amber", {1.0f, 0.55f, 0.25f}, 4000.0f)));
    int cyan = gltf.addNode(lightNode("LightCyan", gltf.addLight("Cyan", {0.25f, 0.75f, 1.0f}, 3600.0f)));
    int magenta =
        gltf.addNode(lightNode("LightMagenta", gltf.addLight("Magenta", {1.0f, 0.25f, 0.75f}, 4800.0f)));
    int white = gltf.addNode(lightNode("LightWhite", gltf.addLight("White", {1.0f, 0.93f, 0.82f}, 4200.0f)));
    addSplinePath(gltf, amber, amberPath, 1.0f);
    addLinearPath(gltf, cyan, cyanPath, kBeat * 0.25f);
    addLinearPath(gltf, magenta, magentaPath, kBeat);
    addSplinePath(gltf, white, whitePath, 2.0f);
    for (int node : {amber, cyan, magenta, white}) gltf.addRootNode(node);
}

int writeLargeScene(const char* count, const std::string& folder) {
    char* end = nullptr;
    long long triangles = std::strtoll(count, &end, 10);
    if (end == count || *end != '\0' || triangles < 1 || triangles > 500000000LL) {
        std::fprintf(stderr, "scenegen: --triangles needs a count from 1 to 500000000, not \"%s\"\n", count);
        return 2;
    }
    GltfBuilder gltf = largeScene(triangles);
    std::string json = gltf.json("scene1.bin");
    writeFile(folder + "/scene1.gltf", json.data(), json.size());
    writeFile(folder + "/scene1.bin", gltf.binary().data(), gltf.binary().size());
    std::printf("scenegen: wrote scene1.gltf (%zu bytes) and scene1.bin (%zu bytes), %lld triangles, to %s\n",
                json.size(), gltf.binary().size(), triangles, folder.c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--triangles") {
        if (argc < 3 || argc > 4) {
            std::fprintf(stderr,
                         "usage: scenegen [OUTPUT_FOLDER] | scenegen --triangles N [OUTPUT_FOLDER]\n");
            return 2;
        }
        try {
            return writeLargeScene(argv[2], argc > 3 ? argv[3] : ".");
        } catch (const std::exception& error) {
            std::fprintf(stderr, "scenegen: %s\n", error.what());
            return 1;
        }
    }
    std::string folder = argc > 1 ? argv[1] : ".";
    try {
        GltfBuilder gltf;
        Materials materials = addMaterials(gltf);
        addHall(gltf, materials);
        addColonnades(gltf, materials);
        addStage(gltf, materials);
        addLights(gltf);

        std::string json = gltf.json("scene1.bin");
        writeFile(folder + "/scene1.gltf", json.data(), json.size());
        writeFile(folder + "/scene1.bin", gltf.binary().data(), gltf.binary().size());
        writePng(folder + "/tex1.png", makeFloorTiles(kTextureSize));
        writePng(folder + "/tex2.png", makeWallBricks(kTextureSize));
        writePng(folder + "/tex3.png", makeMosaic(kTextureSize));
        std::printf(
            "scenegen: wrote scene1.gltf (%zu bytes), scene1.bin (%zu bytes) and three textures to %s\n",
            json.size(), gltf.binary().size(), folder.c_str());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "scenegen: %s\n", error.what());
        return 1;
    }
    return 0;
}
