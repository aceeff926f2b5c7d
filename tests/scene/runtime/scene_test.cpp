// The scene runtime without GL: decoding a packed document, resolving textures, and the
// per-frame update's published values (lights, camera, object transforms). Draws find no
// program here, so nothing reaches the driver.
#include "scene/scene.h"
#include "tests/support/fatal_exit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "render/gpu_layout.h"
#include "scene/image.h"
#include "scene_documents.h"
#include "store/store.h"

namespace {

ShaderProgram* const kNoPrograms[] = {nullptr};

template <typename T> T* valueOf(const char* name) {
    return static_cast<T*>(variableData(currentVariable(getVariable(name, 0))));
}

const float* hostFloats(const GpuAccessor& g) {
    return static_cast<const float*>(g.buffer.hostData);
}

// Largest quantisation error of a compact float block over [minimum, maximum].
float quantum(float minimum, float maximum) {
    return (maximum - minimum) / 65535.0f * 1.01f + 1e-6f;
}

void expectMatrixNear(const float* actual, const float* expected, float tolerance = 1e-5f) {
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(actual[i], expected[i], tolerance) << "element " << i;
}

std::array<float, 16> translation(float x, float y, float z) {
    return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, x, y, z, 1};
}

class SceneRuntime : public ::testing::Test {
protected:
    static void SetUpTestSuite() { installImageHook(); }
};

} // namespace

// ---- Upload ----

TEST_F(SceneRuntime, CubeAttributesAreExpandedThroughTheIndexList) {
    GltfBuilder gltf;
    MeshData cube = cubeMesh();
    ASSERT_EQ(cube.vertexCount(), 24);
    ASSERT_EQ(cube.indices.size(), 36u);
    int material = gltf.addMaterial("white", {1, 1, 1, 1}, -1);
    gltf.addRootNode(gltf.addNode(node("Cube", gltf.addMesh("Cube", {{&cube, material}}))));
    Scene scene;
    testing::internal::CaptureStdout();
    scene.init(packScene(gltf));
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("Pre-texchunk!\nPre-attchunk!\n"), std::string::npos) << log;

    ASSERT_EQ(scene.primitiveCount, 1);
    ASSERT_EQ(scene.accessorCount, 4);
    const char* names[4] = {"idx", "pos", "normal", "uv"};
    const int components[4] = {1, 3, 3, 2};
    const std::vector<float>* sources[4] = {nullptr, &cube.positions, &cube.normals, &cube.texcoords};
    for (int a = 0; a < 4; ++a) {
        const GpuAccessor& g = scene.gpuAccessors[a];
        SCOPED_TRACE(names[a]);
        ASSERT_NE(g.name, nullptr);
        EXPECT_STREQ(g.name, names[a]);
        EXPECT_EQ(g.buffer.elementCount, 36);
        EXPECT_EQ(g.buffer.pending, 36);
        if (a == 0) {
            EXPECT_EQ(g.variable, nullptr) << "index records are never bound";
            EXPECT_EQ(g.buffer.elementSize, 2);
            continue;
        }
        EXPECT_EQ(g.buffer.elementSize, 4 * components[a]);
        EXPECT_EQ(g.variable, getVariable(names[a], 0));
        // Element j of the decoded array is the source vertex cube.indices[j].
        for (int c = 0; c < components[a]; ++c) {
            float lo = 1e9f, hi = -1e9f;
            for (size_t v = c; v < sources[a]->size(); v += components[a]) {
                lo = std::min(lo, (*sources[a])[v]);
                hi = std::max(hi, (*sources[a])[v]);
            }
            for (int j = 0; j < 36; ++j) {
                float expected = (*sources[a])[cube.indices[j] * components[a] + c];
                ASSERT_NEAR(hostFloats(g)[j * components[a] + c], expected, quantum(lo, hi)) << j << "," << c;
            }
        }
    }
}

TEST_F(SceneRuntime, AnIndexCountThatIsNoMultipleOfThreeKeepsAllItsVertices) {
    GltfBuilder gltf;
    MeshData cube = cubeMesh();
    cube.indices.push_back(3);
    int material = gltf.addMaterial("white", {1, 1, 1, 1}, -1);
    gltf.addRootNode(gltf.addNode(node("Cube", gltf.addMesh("Cube", {{&cube, material}}))));
    Scene scene;
    scene.init(packScene(gltf));
    EXPECT_EQ(scene.gpuAccessors[1].buffer.elementCount, 37);
}

TEST_F(SceneRuntime, MaterialsSharingAnImageUriResolveToOneTexture) {
    std::string shared = uniqueName("shared", ".png"), other = uniqueName("other", ".png");
    storeSolidPng(shared, 2, 2, 10, 20, 30, 255);
    storeSolidPng(other, 2, 2, 40, 50, 60, 255);
    std::string missing = uniqueName("missing", ".png");

    GltfBuilder gltf;
    int sharedTexture = gltf.addTexture(shared);
    int first = gltf.addMaterial("a", {1, 1, 1, 1}, sharedTexture);
    int second = gltf.addMaterial("b", {1, 0, 0, 1}, gltf.addTexture(shared));
    int third = gltf.addMaterial("c", {1, 1, 1, 1}, gltf.addTexture(other));
    int plain = gltf.addMaterial("d", {1, 1, 1, 1}, -1);
    int lost = gltf.addMaterial("e", {1, 1, 1, 1}, gltf.addTexture(missing));
    MeshData quad = screenQuad();
    int mesh = gltf.addMesh("Quads",
                            {{&quad, first}, {&quad, second}, {&quad, third}, {&quad, plain}, {&quad, lost}});
    gltf.addRootNode(gltf.addNode(node("Quads", mesh)));

    Scene scene;
    testing::internal::CaptureStdout();
    scene.init(packScene(gltf));
    std::string log = testing::internal::GetCapturedStdout();

    Variable* sharedVariable = getVariable(shared.c_str(), 0);
    ASSERT_NE(sharedVariable, nullptr);
    EXPECT_EQ(scene.textures[0], sharedVariable);
    EXPECT_EQ(scene.textures[1], sharedVariable);
    EXPECT_EQ(scene.textures[2], getVariable(other.c_str(), 0));
    EXPECT_EQ(scene.textures[3], nullptr);
    EXPECT_EQ(scene.textures[4], nullptr);
    EXPECT_NE(log.find("Texture " + missing + " not found"), std::string::npos) << log;
    EXPECT_EQ(std::string(currentVariable(scene.textures[0])->name), shared + "_loadedimage");
}

TEST_F(SceneRuntime, AnimationAccessorsAreDecodedIntoFlatFloatArrays) {
    GltfBuilder gltf;
    int target = gltf.addNode(node("Mover"));
    gltf.addRootNode(target);
    gltf.addChannel(target, "translation", "LINEAR", {0.0f, 0.5f, 2.0f}, {1, 2, 3, 4, 5, 6, -7, -8, -9});
    Scene scene;
    scene.init(packScene(gltf));
    ASSERT_EQ(scene.accessorCount, 2);
    const GpuAccessor& times = scene.gpuAccessors[0];
    const GpuAccessor& values = scene.gpuAccessors[1];
    EXPECT_EQ(times.name, nullptr);
    EXPECT_EQ(times.variable, nullptr);
    ASSERT_EQ(times.buffer.elementCount, 3);
    ASSERT_EQ(values.buffer.elementCount, 9);
    EXPECT_EQ(values.buffer.elementSize, 4);
    EXPECT_NEAR(hostFloats(times)[1], 0.5f, quantum(0, 2));
    const float expected[9] = {1, 2, 3, 4, 5, 6, -7, -8, -9};
    for (int i = 0; i < 9; ++i) EXPECT_NEAR(hostFloats(values)[i], expected[i], quantum(-9, 6)) << i;
}

// ---- Per-frame update ----

TEST_F(SceneRuntime, LightsArePublishedAtTheirWorldPositionsAndTheRestOfTheBufferIsDark) {
    GltfBuilder gltf;
    int parent = gltf.addNode(node("Parent", -1, {1, 2, 3}));
    NodeSpec first = node("LampA", -1, {0, 1, 0});
    first.light = gltf.addLight("A", {1.0f, 0.5f, 0.25f}, 2000.0f);
    NodeSpec second = node("LampB", -1, {5, 0, 0});
    second.light = gltf.addLight("B", {0.0f, 1.0f, 0.0f}, 300.0f);
    gltf.addChild(parent, gltf.addNode(first));
    gltf.addRootNode(parent);
    gltf.addRootNode(gltf.addNode(second));
    Scene scene;
    scene.init(packScene(gltf));

    auto* lights = valueOf<BufferRecord>("gpuLights");
    // A sentinel position past the lights: only the colours of unused entries are cleared.
    if (lights->hostCapacity >= 100) static_cast<GPULightEntry*>(lights->hostData)[50].pos[1] = 77.0f;
    scene.updateAndDraw(0.0f, kNoPrograms);
    ASSERT_EQ(lights->hostCapacity, 100);
    EXPECT_EQ(lights->elementCount, 100);
    EXPECT_EQ(lights->pending, 100);
    EXPECT_EQ(lights->elementSize, 32);
    auto* entries = static_cast<GPULightEntry*>(lights->hostData);
    // Nodes are breadth-first: Parent, LampB, LampA; lights follow node order.
    const float expectedB[8] = {5, 0, 0, 1, 0, 1, 0, 300};
    const float expectedA[8] = {1, 3, 3, 1, 1.0f, 0.5f, 0.25f, 2000};
    for (int i = 0; i < 4; ++i) {
        EXPECT_FLOAT_EQ(entries[0].pos[i], expectedB[i]);
        EXPECT_FLOAT_EQ(entries[0].color[i], expectedB[4 + i]);
        EXPECT_FLOAT_EQ(entries[1].pos[i], expectedA[i]);
        EXPECT_FLOAT_EQ(entries[1].color[i], expectedA[4 + i]);
    }
    for (int j = 2; j < 100; ++j)
        for (int i = 0; i < 4; ++i) ASSERT_EQ(entries[j].color[i], 0.0f) << "entry " << j;

    static_cast<GPULightEntry*>(lights->hostData)[50].pos[1] = 77.0f;
    scene.updateAndDraw(0.0f, kNoPrograms);
    EXPECT_EQ(entries[50].pos[1], 77.0f) << "positions of unused entries are left as they were";
}

TEST_F(SceneRuntime, AnAnimatedCameraNodeReplacesTheCameraEveryFrame) {
    GltfBuilder gltf;
    int rig = gltf.addNode(node("Rig", -1, {0, 1, 0}));
    int camera = gltf.addNode(node("Camera"));
    gltf.addChild(rig, camera);
    gltf.addRootNode(rig);
    gltf.addChannel(camera, "translation", "LINEAR", {0.0f, 2.0f}, {0, 0, 0, 0, 0, 10});
    Scene scene;
    scene.init(packScene(gltf));

    float* cameraValue = valueOf<float>("camera");
    float* invCameraValue = valueOf<float>("invCamera");
    float before[16];
    for (int i = 0; i < 16; ++i) cameraValue[i] = before[i] = 100.0f + i;
    std::strcpy(scene.cameraName, "Nobody");
    scene.updateAndDraw(1.0f, kNoPrograms);
    expectMatrixNear(cameraValue, before, 0.0f); // no node of that name: the entry function's values stay

    std::strcpy(scene.cameraName, "Camera");
    for (float t : {0.5f, 1.5f}) {
        testing::internal::CaptureStdout();
        scene.updateAndDraw(t, kNoPrograms);
        std::string log = testing::internal::GetCapturedStdout();
        EXPECT_NE(log.find("AnimTime:" + std::to_string(static_cast<double>(t)) + "\n"), std::string::npos)
            << log;
        float z = 5.0f * t;
        expectMatrixNear(invCameraValue, translation(0, 1, z).data(), 2e-3f);
        expectMatrixNear(cameraValue, translation(0, -1, -z).data(), 2e-3f);
    }
}

TEST_F(SceneRuntime, EveryFrameStartsFromTheStoredTransforms) {
    GltfBuilder gltf;
    int mover = gltf.addNode(node("Camera", -1, {9, 9, 9}));
    gltf.addRootNode(mover);
    gltf.addChannel(mover, "scale", "STEP", {1.0f, 2.0f}, {2, 2, 2, 3, 3, 3});
    Scene scene;
    scene.init(packScene(gltf));
    std::strcpy(scene.cameraName, "Camera");
    float* invCameraValue = valueOf<float>("invCamera");
    scene.updateAndDraw(5.0f, kNoPrograms);
    EXPECT_NEAR(invCameraValue[0], 3.0f, 1e-3f);
    EXPECT_NEAR(invCameraValue[12], 9.0f, 1e-3f);
    scene.updateAndDraw(0.0f, kNoPrograms);
    EXPECT_NEAR(invCameraValue[0], 2.0f, 1e-3f) << "the scale of a later frame must not carry back";
    scene.updateAndDraw(2.0f, kNoPrograms);
    EXPECT_NEAR(invCameraValue[0], 3.0f, 1e-3f);
}

TEST_F(SceneRuntime, MatrixNodesIgnoreTheirTransformAndItsAnimation) {
    GltfBuilder gltf;
    NodeSpec fixed = node("Camera", -1, {1, 1, 1});
    fixed.matrix = translation(4, 5, 6);
    int parent = gltf.addNode(node("Parent", -1, {0, 0, 1}));
    int child = gltf.addNode(fixed);
    gltf.addChild(parent, child);
    gltf.addRootNode(parent);
    gltf.addChannel(child, "translation", "STEP", {0.0f}, {7, 7, 7});
    Scene scene;
    scene.init(packScene(gltf));
    std::strcpy(scene.cameraName, "Camera");
    scene.updateAndDraw(0.0f, kNoPrograms);
    expectMatrixNear(valueOf<float>("invCamera"), translation(4, 5, 7).data());
}

TEST_F(SceneRuntime, ASingularNodeLeavesThePreviousInverseInPlace) {
    GltfBuilder gltf;
    MeshData cube = cubeMesh();
    int material = gltf.addMaterial("white", {1, 1, 1, 1}, -1);
    int mesh = gltf.addMesh("Cube", {{&cube, material}});
    gltf.addRootNode(gltf.addNode(node("Regular", mesh, {2, 0, 0})));
    NodeSpec flat = node("Flat", mesh, {0, 3, 0});
    flat.scale = std::array<float, 3>{1, 0, 1};
    gltf.addRootNode(gltf.addNode(flat));
    Scene scene;
    scene.init(packScene(gltf));
    testing::internal::CaptureStdout();
    scene.updateAndDraw(0.0f, kNoPrograms);
    std::string log = testing::internal::GetCapturedStdout();
    const float flatWorld[16] = {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 3, 0, 1};
    expectMatrixNear(valueOf<float>("objXF"), flatWorld, 0.0f);
    expectMatrixNear(valueOf<float>("iobjXF"), translation(-2, 0, 0).data());
    EXPECT_NE(log.find("No program fits primitive 0"), std::string::npos) << log;

    // The skip is reported once per primitive, not every frame.
    testing::internal::CaptureStdout();
    scene.updateAndDraw(0.0f, kNoPrograms);
    log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(log.find("No program fits"), std::string::npos) << log;
}

TEST_F(SceneRuntime, DrawingWithoutAFittingProgramDrawsNothingAndCountsNothing) {
    GltfBuilder gltf;
    MeshData cube = cubeMesh();
    int material = gltf.addMaterial("white", {1, 1, 1, 1}, -1);
    gltf.addRootNode(gltf.addNode(node("Cube", gltf.addMesh("Cube", {{&cube, material}}))));
    Scene scene;
    scene.init(packScene(gltf));
    int* triangles = valueOf<int>("xfTriCount");
    *triangles = 5;
    testing::internal::CaptureStdout();
    EXPECT_EQ(scene.drawPrimitive(0, kNoPrograms), 0);
    EXPECT_EQ(scene.drawPrimitive(7, kNoPrograms), 0) << "an index past the primitives";
    EXPECT_EQ(scene.drawPrimitive(-1, kNoPrograms), 0);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(*triangles, 5);
}

TEST_F(SceneRuntime, ThirtyTwoBitIndexListsOfALargeSceneAreExpandedLikeSixteenBitOnes) {
    // 140000 triangles of hills reach past vertex 65535, so the list is 32-bit and the blob large.
    MeshData hills;
    addHills(hills, -1.0f, -1.0f, 1.0f, 1.0f, 0.5f, 140000);
    ASSERT_GT(hills.vertexCount(), 65536);
    GltfBuilder gltf;
    int material = gltf.addMaterial("white", {1, 1, 1, 1}, -1);
    gltf.addRootNode(gltf.addNode(node("Hills", gltf.addMesh("Hills", {{&hills, material, false}}))));
    const void* blob = packScene(gltf);
    BlobView view(blob);
    EXPECT_EQ(view.form(), BlobForm::large);
    EXPECT_EQ(view.accessors()[0].componentType, kComponentTypeUnsignedInt);

    Scene scene;
    testing::internal::CaptureStdout();
    scene.init(blob);
    testing::internal::GetCapturedStdout();
    const GpuAccessor& pos = scene.gpuAccessors[1];
    ASSERT_STREQ(pos.name, "pos");
    ASSERT_EQ(pos.buffer.elementCount, 420000);
    const float* decoded = hostFloats(pos);
    for (size_t j = 0; j < hills.indices.size(); j += 4999)
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(decoded[3 * j + c], hills.positions[3 * hills.indices[j] + c], quantum(-1.0f, 1.0f))
                << "vertex " << j;
}

// ---- Damaged blobs ----

namespace {

// A writable copy of a packed one-cube scene, for damaging.
std::vector<uint8_t> cubeBlobCopy() {
    GltfBuilder gltf;
    MeshData cube = cubeMesh();
    int material = gltf.addMaterial("white", {1, 1, 1, 1}, -1);
    gltf.addRootNode(gltf.addNode(node("Cube", gltf.addMesh("Cube", {{&cube, material}}))));
    const auto* blob = static_cast<const uint8_t*>(packScene(gltf));
    BlobView view(blob);
    return std::vector<uint8_t>(blob, blob + view.size());
}

template <typename Record> Record* mutableRecord(std::vector<uint8_t>& blob, BlobChunk chunk, int index) {
    BlobView view(blob.data(), blob.size());
    return reinterpret_cast<Record*>(blob.data() + view.entry(chunk).offset) + index;
}

} // namespace

TEST_F(SceneRuntime, AnAttributeWithoutNameIsDecodedButGetsNoVariable) {
    std::vector<uint8_t> blob = cubeBlobCopy();
    mutableRecord<PackedAccessor>(blob, BlobChunk::Accessors, 2)->name = 0; // "normal"
    Scene scene;
    testing::internal::CaptureStdout();
    scene.init(blob.data());
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("Dummy-accessor for decomp\n"), std::string::npos) << log;
    EXPECT_EQ(scene.gpuAccessors[2].name, nullptr);
    EXPECT_EQ(scene.gpuAccessors[2].variable, nullptr);
    EXPECT_EQ(scene.gpuAccessors[2].buffer.elementCount, 36);
}

TEST_F(SceneRuntime, DamagedRecordsEndInAFatalErrorNamingTheProblem) {
    std::vector<uint8_t> farIndex = cubeBlobCopy();
    {
        BlobView view(farIndex.data(), farIndex.size());
        const PackedAccessor& indices = view.accessors()[0];
        auto offset = view.targetOffset(&indices.components[0]);
        farIndex[offset + 10] = 24; // index 5 becomes 24, one past the cube's vertices
        farIndex[offset + 11] = 0;
    }
    EXPECT_EXIT(Scene().init(farIndex.data()), testing::ExitedWithCode(kFatalExitStatus),
                "Scene blob: primitive 0 uses vertex 24 of 24");

    std::vector<uint8_t> badMaterial = cubeBlobCopy();
    mutableRecord<PackedPrimitive>(badMaterial, BlobChunk::Primitives, 0)->material = 3;
    EXPECT_EXIT(Scene().init(badMaterial.data()), testing::ExitedWithCode(kFatalExitStatus),
                "primitive 0 names material 3 of 1");

    std::vector<uint8_t> badAccessors = cubeBlobCopy();
    mutableRecord<PackedPrimitive>(badAccessors, BlobChunk::Primitives, 0)->firstAccessor = 2;
    EXPECT_EXIT(Scene().init(badAccessors.data()), testing::ExitedWithCode(kFatalExitStatus),
                "primitive 0 names accessors 2 to 5 of 4");

    std::vector<uint8_t> floatIndices = cubeBlobCopy();
    mutableRecord<PackedAccessor>(floatIndices, BlobChunk::Accessors, 0)->componentType = kComponentTypeFloat;
    EXPECT_EXIT(Scene().init(floatIndices.data()), testing::ExitedWithCode(kFatalExitStatus),
                "index accessor of primitive 0");
}

TEST_F(SceneRuntime, AccessorShapesNoBlobCanHoldAreFatalBeforeAnythingIsAllocated) {
    // Found by fuzzing: an animation accessor claiming a billion elements was given memory first.
    GltfBuilder gltf;
    int mover = gltf.addNode(node("Mover"));
    gltf.addRootNode(mover);
    gltf.addChannel(mover, "translation", "LINEAR", {0.0f, 1.0f}, {1, 2, 3, 4, 5, 6});
    const auto* packed = static_cast<const uint8_t*>(packScene(gltf));
    const std::vector<uint8_t> animated(packed, packed + BlobView(packed).size());
    struct Case {
        std::vector<uint8_t> blob;
        int accessor;
        int32_t count;  // -1 keeps the count
        int components; // -1 keeps the component count
        const char* message;
    } cases[] = {
        {cubeBlobCopy(), 0, 0x40000000, -1,
         "Scene blob: an accessor of primitive 0 claims 1073741824 elements"},
        {cubeBlobCopy(), 1, -1, 9, "Scene blob: an accessor of primitive 0 has 9 components"},
        {animated, 1, 0x7FFFFFFF, -1, "Scene blob: animation accessor 1 claims 2147483647 elements"},
        {animated, 0, -1, 0, "Scene blob: animation accessor 0 has 0 components"},
    };
    for (Case& c : cases) {
        PackedAccessor* accessor = mutableRecord<PackedAccessor>(c.blob, BlobChunk::Accessors, c.accessor);
        if (c.count >= 0) accessor->count = c.count;
        if (c.components >= 0)
            accessor->sizeAndCount = static_cast<uint16_t>((accessor->sizeAndCount & ~15) | c.components);
        EXPECT_EXIT(Scene().init(c.blob.data()), testing::ExitedWithCode(kFatalExitStatus), c.message);
    }
}

TEST_F(SceneRuntime, ASceneWithoutBlobDrawsNothing) {
    Scene scene;
    testing::internal::CaptureStdout();
    EXPECT_EQ(scene.updateAndDraw(1.0f, kNoPrograms), 0);
    EXPECT_EQ(scene.drawPrimitive(0, kNoPrograms), 0);
    testing::internal::GetCapturedStdout();
}
