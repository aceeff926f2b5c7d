#include "scene/scene.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "app/console.h"
#include "platform/gl.h"
#include "render/gpu_layout.h"
#include "store/store.h"

namespace {

constexpr int kLightEntryCount = 100; // entries of "gpuLights" the shaders read
constexpr int kLightEntryBytes = static_cast<int>(sizeof(GPULightEntry));

// Bounds that any point widens.
constexpr float kHuge = std::numeric_limits<float>::max();
constexpr std::array<float, 6> kNoBounds = {kHuge, kHuge, kHuge, -kHuge, -kHuge, -kHuge};

// The shading divides a light's intensity by 1000 and by the squared distance (ray.glsl):
// intensity 1000 d^2 lights a surface at distance d facing it with 1.
constexpr float kIntensityPerSquaredDistance = 1000.0f;

Variable* namedValue(const char* name, uint32_t size) {
    Variable* v = getVariable(name, size);
    if (v == nullptr) fatalErrorFormat("Scene: the named value \"%s\" is missing", name);
    return v;
}

} // namespace

// The texture of materials without one: a single white texel, so they show their base colour.
// One for the process: every texture the shader system creates keeps its handle for the run.
TextureRecord* whiteTexture() {
    static uint32_t texel = 0xFFFFFFFFu;
    static TextureRecord texture = [] {
        TextureRecord t{};
        t.width = t.height = t.uploadWidth = t.uploadHeight = 1;
        t.pixels = &texel;
        std::memcpy(t.label, "white", 6);
        return t;
    }();
    return &texture;
}

namespace {

// An accessor's shape before anything is allocated for it: 1 to 4 components (the record holds
// four references) and no more elements than the blob could hold codes for, 2 bytes each.
void checkAccessorShape(const BlobView& view, const PackedAccessor& accessor, const char* what, int index) {
    if (accessor.componentCount() < 1 || accessor.componentCount() > 4)
        fatalErrorFormat("Scene blob: %s %d has %d components", what, index, accessor.componentCount());
    if (accessor.count < 0 || static_cast<uint32_t>(accessor.count) > view.size() / 2)
        fatalErrorFormat("Scene blob: %s %d claims %d elements", what, index, accessor.count);
}

// One pointer lent to a Variable for the duration of a draw.
struct Loan {
    Variable* variable;
    void* previous;
};

} // namespace

GpuAccessor::~GpuAccessor() {
    freeHostArray(&buffer);
    if (buffer.glBuffer != 0 && glDeleteBuffers != nullptr) glDeleteBuffers(1, &buffer.glBuffer);
}

// ---- Upload: accessors, textures, animation data ----

void Scene::init(const void* sceneBlob) {
    view_.emplace(sceneBlob);
    blob = view_->bytes();
    auto primitiveRecords = view_->primitives();
    auto accessorRecords = view_->accessors();
    materials_ = view_->materials();
    primitives = primitiveRecords.data();
    primitiveCount = static_cast<int>(primitiveRecords.size());
    accessors = accessorRecords.data();
    accessorCount = static_cast<int>(accessorRecords.size());

    NOVA31_SCENE_VARIABLES(NOVA31_CREATE_VARIABLE)
    named_.baseColor = namedValue(kBaseColorVariable, 16);
    named_.baseColorTexture = namedValue(kBaseColorTextureVariable, 64);
    named_.xfFeedback = namedValue(kFeedbackVariable, 32);
    named_.xfTriCount = namedValue(kTriangleCountVariable, 4);
    named_.camera = namedValue(kCameraVariable, 64);
    named_.invCamera = namedValue(kInverseCameraVariable, 64);
    named_.gpuLights = namedValue(kLightsVariable, 32);
    named_.objXF = namedValue(kObjectTransformVariable, 64);
    named_.iobjXF = namedValue(kInverseObjectTransformVariable, 64);
    named_.proj = namedValue(kProjectionVariable, 64);
    named_.invProj = namedValue(kInverseProjectionVariable, 64);
    named_.resolution = namedValue(kResolutionVariable, 8);

    consoleLog("Pre-texchunk!\n");
    gpuAccessors = std::make_unique<GpuAccessor[]>(accessorCount);
    textures = std::make_unique<Variable*[]>(materials_.size());
    for (size_t i = 0; i < materials_.size(); ++i) {
        const char* uri = view_->text(&materials_[i].texture);
        textures[i] = nullptr;
        if (uri[0] == '\0') continue;
        Variable* texture = getVariable(uri, 0);
        if (texture == nullptr)
            consoleLog("Texture %s not found; material %zu is drawn untextured\n", uri, i);
        else if (currentVariable(texture) == texture)
            consoleLog("Texture %s is not a decoded image; material %zu is drawn untextured\n", uri, i);
        else
            textures[i] = texture;
    }

    consoleLog("Pre-attchunk!\n");
    primitiveBounds_.assign(primitiveCount, kNoBounds);
    currentIndices_ = {};
    currentIndexCount_ = 0;
    for (int p = 0; p < primitiveCount; ++p) {
        const PackedPrimitive& primitive = primitives[p];
        if (primitive.kind != kPrimitiveKindTriangles) continue;
        if (!accessorsInRange(primitive))
            fatalErrorFormat("Scene blob: primitive %d names accessors %d to %d of %d", p,
                             primitive.firstAccessor, primitive.firstAccessor + primitive.accessorCount - 1,
                             accessorCount);
        if (primitive.material >= materials_.size())
            fatalErrorFormat("Scene blob: primitive %d names material %d of %zu", p, primitive.material,
                             materials_.size());
        for (int a = primitive.firstAccessor; a < primitive.firstAccessor + primitive.accessorCount; ++a)
            decodeAttribute(p, accessors[a], gpuAccessors[a]);
    }

    for (const PackedChannel& channel : view_->channels()) {
        if (channel.keyTimes + 1 >= accessorCount)
            fatalErrorFormat("Scene blob: a channel names accessor %d of %d", channel.keyTimes,
                             accessorCount);
        decodeAnimationAccessor(channel.keyTimes);
        decodeAnimationAccessor(channel.keyTimes + 1);
    }

    findCameras();
    defaultLight_ = view_->lights().empty();
    if (defaultLight_) consoleLog("Scene: no KHR_lights_punctual lights; a white light follows the camera\n");

    size_t nodeCount = view_->nodes().size();
    localTransforms_.assign(nodeCount, kRestTransform);
    worldMatrices_.assign(nodeCount * 16, 0.0f);
    reportedPrimitives_.assign(primitiveCount, 0);
}

bool Scene::accessorsInRange(const PackedPrimitive& p) const {
    return static_cast<int>(p.firstAccessor) + p.accessorCount <= accessorCount;
}

void Scene::decodeAttribute(int primitive, const PackedAccessor& accessor, GpuAccessor& g) {
    checkAccessorShape(*view_, accessor, "an accessor of primitive", primitive);
    g.name = accessor.name != 0 ? view_->text(&accessor.name) : nullptr;
    if (g.name != nullptr && std::strcmp(g.name, "idx") == 0) {
        const bool wide =
            accessor.componentType == kComponentTypeUnsignedInt && view_->form() == BlobForm::large;
        if ((accessor.componentType != kComponentTypeUnsignedShort && !wide) ||
            accessor.componentCount() != 1)
            fatalErrorFormat(
                "Scene blob: the index accessor of primitive %d is not unsigned short (or unsigned "
                "int in a large blob)",
                primitive);
        currentIndexCount_ = accessor.count;
        currentIndices_ = view_->indices(accessor);
        if (currentIndices_.bytes == nullptr && accessor.count > 0)
            fatalErrorFormat("Scene blob: the index accessor of primitive %d has no data", primitive);
        // Index records only carry their count to the draw; their array is never filled or bound.
        growHostArray(&g.buffer, accessor.count, currentIndices_.width);
        return;
    }
    if (accessor.componentType != kComponentTypeFloat)
        fatalErrorFormat("Scene blob: attribute \"%s\" of primitive %d is not float data",
                         g.name ? g.name : "", primitive);
    const int components = accessor.componentCount();
    const int32_t n = currentIndexCount_ != 0 ? currentIndexCount_ : accessor.count;
    growHostArray(&g.buffer, n, 4 * components);
    auto* out = static_cast<float*>(g.buffer.hostData);
    for (int c = 0; c < components; ++c) {
        CompactFloatBlock block = view_->floatBlock(&accessor.components[c], accessor.count);
        if (block.codes == nullptr && n > 0)
            fatalErrorFormat("Scene blob: attribute \"%s\" of primitive %d has no data", g.name ? g.name : "",
                             primitive);
        for (int32_t j = 0; j < n; ++j) {
            uint32_t source = currentIndexCount_ != 0 ? currentIndices_[j] : static_cast<uint32_t>(j);
            if (source >= static_cast<uint32_t>(accessor.count))
                fatalErrorFormat("Scene blob: primitive %d uses vertex %u of %d", primitive, source,
                                 accessor.count);
            out[static_cast<size_t>(j) * components + c] = block.value(source);
        }
    }
    if (g.name != nullptr)
        g.variable = getVariable(g.name, 32);
    else
        consoleLog("Dummy-accessor for decomp\n");
    if (g.name != nullptr && std::strcmp(g.name, "pos") == 0 && components == 3) {
        std::array<float, 6>& bounds = primitiveBounds_[primitive];
        for (int32_t j = 0; j < n; ++j)
            for (int c = 0; c < 3; ++c) {
                bounds[c] = std::min(bounds[c], out[3 * j + c]);
                bounds[3 + c] = std::max(bounds[3 + c], out[3 * j + c]);
            }
    }
}

void Scene::decodeAnimationAccessor(int accessorIndex) {
    const PackedAccessor& accessor = accessors[accessorIndex];
    GpuAccessor& g = gpuAccessors[accessorIndex];
    checkAccessorShape(*view_, accessor, "animation accessor", accessorIndex);
    if (accessor.componentType != kComponentTypeFloat)
        fatalErrorFormat("Scene blob: animation accessor %d is not float data", accessorIndex);
    const int components = accessor.componentCount();
    int32_t n = accessor.count * components;
    growHostArray(&g.buffer, n, 4);
    for (int c = 0; c < components; ++c)
        view_->decodeComponent(accessor, c, static_cast<float*>(g.buffer.hostData), components);
}

void Scene::findCameras() {
    cameras_.clear();
    std::span<const PackedNode> nodes = view_->nodes();
    for (size_t k = 0; k < nodes.size(); ++k) {
        if (nodes[k].camera == 0) continue;
        const int a = nodes[k].camera - 1;
        const PackedAccessor* accessor = a < accessorCount ? &accessors[a] : nullptr;
        const char* kind = accessor != nullptr && accessor->name != 0 ? view_->text(&accessor->name) : "";
        SceneCamera camera{static_cast<int>(k), std::strcmp(kind, kCameraOrthographic) == 0, {}};
        if (accessor == nullptr || accessor->componentType != kComponentTypeFloat ||
            accessor->componentCount() != 4 || accessor->count != 1 ||
            (!camera.orthographic && std::strcmp(kind, kCameraPerspective) != 0)) {
            consoleLog("Scene blob: the camera of node %zu is damaged; not used\n", k);
            continue;
        }
        for (int c = 0; c < 4; ++c) view_->decodeComponent(*accessor, c, camera.parameters, 4);
        const float* p = camera.parameters;
        bool usable = std::isfinite(p[0] + p[1] + p[2] + p[3]) && p[2] >= 0.0f;
        if (camera.orthographic)
            usable = usable && p[0] != 0.0f && p[1] != 0.0f && p[3] > p[2];
        else
            usable = usable && p[0] > 0.0f && p[0] < 3.14159f && p[1] >= 0.0f && p[2] > 0.0f &&
                     (p[3] == 0.0f || p[3] > p[2]);
        if (!usable) {
            consoleLog("Scene: the %s camera of node %zu (%g, %g, %g, %g) makes no projection; not used\n",
                       kind, k, p[0], p[1], p[2], p[3]);
            continue;
        }
        cameras_.push_back(camera);
    }
}

void Scene::publishSceneCamera(const float* worldMatrices) {
    const SceneCamera& c = cameras_.front();
    const float* world = worldMatrices + 16 * c.node;
    std::memcpy(currentData<float>(named_.invCamera), world, 64);
    Mat4 view;
    if (!invertMatrixIfRegular(world, view.data())) view = identityMatrix();
    std::memcpy(currentData<float>(named_.camera), view.data(), 64);

    const float* p = c.parameters;
    Mat4 projection;
    if (c.orthographic) {
        projection = orthographicMatrix(p[0], p[1], p[2], p[3]);
    } else {
        const float* resolution = currentData<float>(named_.resolution);
        float aspect = p[1];
        if (aspect <= 0.0f) aspect = resolution[1] > 0.0f ? resolution[0] / resolution[1] : 1.0f;
        projection = perspectiveMatrix(p[0], aspect, p[2], p[3]);
    }
    std::memcpy(currentData<float>(named_.proj), projection.data(), 64);
    Mat4 inverse = invertMatrix(projection);
    std::memcpy(currentData<float>(named_.invProj), inverse.data(), 64);
}

// ---- Drawing one primitive ----

ShaderProgram* Scene::chooseProgram(const PackedPrimitive& p, ShaderProgram* const* programs) const {
    for (; programs != nullptr && *programs != nullptr; ++programs) {
        bool fits = true;
        for (int r = 0; r < (*programs)->resourceCount && fits; ++r) {
            const ProgramResource& resource = (*programs)->resources[r];
            if (resource.programInterface != GL_PROGRAM_INPUT) continue;
            fits = false;
            for (int a = p.firstAccessor; a < p.firstAccessor + p.accessorCount; ++a) {
                const char* name = gpuAccessors[a].name;
                if (name != nullptr && resource.name == name) fits = true;
            }
        }
        if (fits) return *programs;
    }
    return nullptr;
}

int Scene::drawPrimitive(int index, ShaderProgram* const* programs) {
    if (!view_ || index < 0 || index >= primitiveCount) return 0;
    const PackedPrimitive& p = primitives[index];
    if (p.kind != kPrimitiveKindTriangles) return 0;
    ShaderProgram* program = chooseProgram(p, programs);
    if (program == nullptr) {
        if (!reportedPrimitives_[index]) consoleLog("No program fits primitive %d; it is not drawn\n", index);
        reportedPrimitives_[index] = 1;
        return 0;
    }

    // At most the primitive's accessors, "baseColor" and "baseColorTexture" are lent.
    Loan loans[16 + 2];
    int loanCount = 0;
    auto lend = [&](Variable* v, void* data) {
        Variable* current = currentVariable(v);
        loans[loanCount++] = {current, current->externalData};
        current->externalData = data;
    };

    int32_t indexCount = -1;
    for (int a = p.firstAccessor; a < p.firstAccessor + p.accessorCount; ++a) {
        GpuAccessor& g = gpuAccessors[a];
        if (g.name != nullptr && std::strcmp(g.name, "idx") == 0)
            indexCount = accessors[a].count;
        else if (g.variable != nullptr && loanCount < 16)
            lend(g.variable, &g.buffer);
    }

    const uint32_t colour = materials_[p.material].baseColor;
    materialColour_[0] = ((colour >> 16) & 255) / 255.0f;
    materialColour_[1] = ((colour >> 8) & 255) / 255.0f;
    materialColour_[2] = (colour & 255) / 255.0f;
    materialColour_[3] = ((colour >> 24) & 255) / 255.0f;
    lend(named_.baseColor, materialColour_);
    Variable* texture = textures[p.material];
    lend(named_.baseColorTexture, texture != nullptr ? currentData<TextureRecord>(texture) : whiteTexture());

    const int32_t vertexCount = indexCount > 0 ? indexCount / 3 * 3 : 0;
    if (captureTriangles != kCaptureOff) {
        auto* feedback = currentData<BufferRecord>(named_.xfFeedback);
        reserveDeviceBuffer(feedback, feedback->elementCount + vertexCount);
    }
    use(program);
    glDrawArrays(GL_TRIANGLES, 0, vertexCount);
    *currentData<int32_t>(named_.xfTriCount) += vertexCount / 3;

    while (loanCount > 0) {
        const Loan& loan = loans[--loanCount];
        loan.variable->externalData = loan.previous;
    }
    return vertexCount;
}

// ---- Per-frame update ----

void Scene::publishLights(const float* worldMatrices, int nodeCount) {
    auto* buffer = currentData<BufferRecord>(named_.gpuLights);
    growHostArray(buffer, kLightEntryCount, kLightEntryBytes);

    auto* entries = static_cast<GPULightEntry*>(buffer->hostData);
    std::span<const PackedLight> lights = view_->lights();
    if (defaultLight_) {
        placeDefaultLight(worldMatrices, entries[0].pos, entries[0].color);
        for (int j = 1; j < kLightEntryCount; ++j) std::memset(entries[j].color, 0, sizeof entries[j].color);
        return;
    }
    for (int j = 0; j < kLightEntryCount; ++j) {
        GPULightEntry& entry = entries[j];
        if (j < static_cast<int>(lights.size())) {
            const PackedLight& light = lights[j];
            if (light.node >= 0 && light.node < nodeCount) {
                const float* w = worldMatrices + 16 * light.node;
                entry.pos[0] = w[12];
                entry.pos[1] = w[13];
                entry.pos[2] = w[14];
                entry.pos[3] = 1.0f;
            }
            std::memcpy(entry.color, light.color, sizeof light.color);
            entry.color[3] = light.intensity;
        } else {
            std::memset(entry.color, 0, sizeof entry.color);
        }
    }
}

std::array<float, 6> Scene::boundsOf(const float* worldMatrices) const {
    // The corners of each drawn primitive's object-space bounds, through its node's matrix.
    std::array<float, 6> world = kNoBounds;
    std::span<const PackedNode> nodes = view_->nodes();
    for (size_t k = 0; k < nodes.size(); ++k) {
        const float* w = worldMatrices + 16 * k;
        for (int i = 0; i < nodes[k].primitiveCount; ++i) {
            int p = nodes[k].firstPrimitive + i;
            if (p < 0 || p >= primitiveCount || primitiveBounds_[p][0] > primitiveBounds_[p][3]) continue;
            const std::array<float, 6>& b = primitiveBounds_[p];
            for (int corner = 0; corner < 8; ++corner) {
                float x = b[corner & 1 ? 3 : 0], y = b[corner & 2 ? 4 : 1], z = b[corner & 4 ? 5 : 2];
                for (int c = 0; c < 3; ++c) {
                    float v = w[c] * x + w[4 + c] * y + w[8 + c] * z + w[12 + c];
                    world[c] = std::min(world[c], v);
                    world[3 + c] = std::max(world[3 + c], v);
                }
            }
        }
    }
    return world;
}

std::array<float, 6> Scene::worldBounds(float time) {
    if (!view_) return kNoBounds;
    animate(time);
    return boundsOf(worldMatrices_.data());
}

void Scene::worldPoints(float time, size_t points, std::vector<float>& out) {
    if (!view_) return;
    animate(time);
    std::span<const PackedNode> nodes = view_->nodes();
    // The "pos" array of each drawn primitive, found through its accessors.
    auto positionsOf = [&](int p) -> const BufferRecord* {
        const PackedPrimitive& primitive = primitives[p];
        for (int a = primitive.firstAccessor; a < primitive.firstAccessor + primitive.accessorCount; ++a)
            if (gpuAccessors[a].name != nullptr && std::strcmp(gpuAccessors[a].name, "pos") == 0)
                return &gpuAccessors[a].buffer;
        return nullptr;
    };
    size_t total = 0;
    for (const PackedNode& node : nodes)
        for (int i = 0; i < node.primitiveCount; ++i) {
            int p = node.firstPrimitive + i;
            if (p < 0 || p >= primitiveCount || primitives[p].kind != kPrimitiveKindTriangles) continue;
            if (const BufferRecord* positions = positionsOf(p))
                total += static_cast<size_t>(positions->elementCount);
        }
    const size_t stride = std::max<size_t>(1, total / std::max<size_t>(points, 1));
    size_t counter = 0;
    for (size_t k = 0; k < nodes.size(); ++k) {
        const float* w = worldMatrices_.data() + 16 * k;
        for (int i = 0; i < nodes[k].primitiveCount; ++i) {
            int p = nodes[k].firstPrimitive + i;
            if (p < 0 || p >= primitiveCount || primitives[p].kind != kPrimitiveKindTriangles) continue;
            const BufferRecord* positions = positionsOf(p);
            if (positions == nullptr || positions->elementSize != 12) continue;
            const auto* xyz = static_cast<const float*>(positions->hostData);
            for (int32_t j = 0; j < positions->elementCount; ++j, ++counter) {
                if (counter % stride != 0) continue;
                const float* v = xyz + 3 * j;
                for (int c = 0; c < 3; ++c)
                    out.push_back(w[c] * v[0] + w[4 + c] * v[1] + w[8 + c] * v[2] + w[12 + c]);
            }
        }
    }
}

void Scene::placeDefaultLight(const float* worldMatrices, float position[4], float colour[4]) const {
    const float* eye = currentData<float>(named_.invCamera) + 12; // the camera's position
    std::memcpy(position, eye, 3 * sizeof(float));
    position[3] = 1.0f;
    std::array<float, 6> world = boundsOf(worldMatrices);
    float distance = 1.0f; // an empty scene: any light will do
    if (world[0] <= world[3]) {
        float toCentre = 0.0f, radius = 0.0f;
        for (int c = 0; c < 3; ++c) {
            float centre = 0.5f * (world[c] + world[3 + c]), half = 0.5f * (world[3 + c] - world[c]);
            toCentre += (centre - eye[c]) * (centre - eye[c]);
            radius += half * half;
        }
        distance = std::max(std::sqrt(toCentre), std::sqrt(radius));
    }
    colour[0] = colour[1] = colour[2] = 1.0f;
    colour[3] = kIntensityPerSquaredDistance * std::max(distance * distance, 1e-6f);
}

void Scene::animate(float time) {
    std::span<const PackedNode> nodes = view_->nodes();
    const int nodeCount = static_cast<int>(nodes.size());

    // Static transforms from the blob.
    for (int k = 0; k < nodeCount; ++k) {
        NodeTransform& local = localTransforms_[k];
        local = kRestTransform;
        if (const float* t = view_->floats(&nodes[k].translation, 3)) std::memcpy(local.translation, t, 12);
        if (const float* r = view_->floats(&nodes[k].rotation, 4)) std::memcpy(local.rotation, r, 16);
        if (const float* s = view_->floats(&nodes[k].scale, 3)) std::memcpy(local.scale, s, 12);
    }

    // Animation: a later channel on the same target overwrites an earlier one.
    for (const PackedChannel& channel : view_->channels()) {
        ChannelTarget target = decodeChannelTarget(channel.target);
        if (target.node >= nodeCount || target.path == AnimationPath::invalid) continue;
        const BufferRecord& times = gpuAccessors[channel.keyTimes].buffer;
        const BufferRecord& values = gpuAccessors[channel.keyTimes + 1].buffer;
        sampleChannel(target.interpolation, static_cast<const float*>(times.hostData), times.elementCount,
                      static_cast<const float*>(values.hostData), values.elementCount, target.components,
                      time, transformComponents(localTransforms_[target.node], target.path));
    }

    // World matrices; parents precede their children in the node chunk.
    float* world = worldMatrices_.data();
    for (int k = 0; k < nodeCount; ++k) {
        const PackedNode& node = nodes[k];
        float local[16];
        if (const float* m = view_->floats(&node.matrix, 16))
            std::memcpy(local, m, sizeof local);
        else
            composeTransform(localTransforms_[k], local);
        if (node.parent >= 0 && node.parent < k)
            multiplyMatrices(world + 16 * node.parent, local, world + 16 * k);
        else
            std::memcpy(world + 16 * k, local, sizeof local);
    }
}

int Scene::updateAndDraw(float time, ShaderProgram* const* programs) {
    consoleLog("AnimTime:%f\n", static_cast<double>(time));
    if (!view_) return 0; // no blob yet: nothing to animate or draw
    std::span<const PackedNode> nodes = view_->nodes();
    const int nodeCount = static_cast<int>(nodes.size());
    animate(time);
    const float* world = worldMatrices_.data();

    // The camera node, when the scene has one; the last of several matching nodes wins. Without
    // one, the scene's own first camera.
    bool cameraNamed = false;
    for (int k = 0; k < nodeCount; ++k) {
        if (std::strncmp(view_->text(&nodes[k].name), cameraName, sizeof cameraName) != 0) continue;
        cameraNamed = true;
        std::memcpy(currentData<float>(named_.invCamera), world + 16 * k, 64);
        float* camera = currentData<float>(named_.camera);
        if (!invertMatrixIfRegular(world + 16 * k, camera)) {
            static const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
            std::memcpy(camera, identity, 64);
        }
    }

    if (!cameraNamed && !cameras_.empty()) publishSceneCamera(world);

    publishLights(world, nodeCount);

    for (int k = 0; k < nodeCount; ++k) {
        std::memcpy(currentData<float>(named_.objXF), world + 16 * k, 64);
        // A singular matrix leaves "iobjXF" as the previous node set it.
        invertMatrixIfRegular(world + 16 * k, currentData<float>(named_.iobjXF));
        const PackedNode& node = nodes[k];
        if (node.firstPrimitive < 0) continue;
        for (int i = 0; i < node.primitiveCount; ++i) drawPrimitive(node.firstPrimitive + i, programs);
    }
    return 0;
}
