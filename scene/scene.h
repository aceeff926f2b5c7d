/* scene.h — the scene runtime: the packed scene blob decoded for the GPU, animated and drawn.

   The entry function builds one Scene from the blob loadGLTF made (scene/gltf_pack.h), after
   the GL context and the renderer exist, and lets it draw itself once per frame inside the
   renderer's geometry pass:

       Scene scene;
       scene.init(blob);                        // decode accessors, resolve textures
       ...
       std::strcpy(scene.cameraName, "Camera");
       scene.updateAndDraw(musicTime, renderer->geometryPrograms());

   init decodes every vertex attribute through its primitive's index list into a plain
   triangle list (so draws need no index buffer) held in a BufferRecord, and every animation
   accessor into a flat float array; material textures are the store's decoded images of
   their URIs (see scene/image.h).

   updateAndDraw samples every channel at the given music time (scene/scene_animation.h),
   composes world matrices (parents first), and publishes through the store: "camera" and
   "invCamera" from the node named cameraName (when there is one), the 100-entry light buffer
   "gpuLights", and before each node's draws "objXF" and "iobjXF". Every call starts again from
   the blob's static transforms, so the picture is a pure function of the time.

   When no node bears cameraName, the scene's own first camera (the first node with a glTF
   camera, breadth-first) gives the view: "camera" and "invCamera" from its node, "proj" and
   "invProj" from its perspective (the window's aspect ratio unless the camera fixes one) or
   orthographic projection. A camera whose numbers make no projection is left out with a
   console line at init.

   A scene without lights would be black. It gets one white light at the camera's position
   instead (init says so on the console), as bright as a light of intensity 1000 d^2 makes a
   surface at distance d facing it: d is the distance from the camera to the centre of the
   scene's bounds, or their radius when the camera is inside them.

   drawPrimitive picks the first program of the list whose vertex inputs the primitive
   supplies, lends the primitive's arrays to the Variables "pos", "normal", "uv" and its
   material to "baseColor" and "baseColorTexture" (a white texel for a material without a
   texture, or whose texture was not found) for the one draw, reserves room in
   "xfFeedback" while the renderer captures triangles, draws, advances "xfTriCount" and puts
   every lent pointer back.

   A primitive no program fits is skipped (one console line per primitive); an attribute
   without a name is decoded but never lent. Records that point outside the blob, index lists
   that reach past their vertices and the like end the process through fatalError naming the
   problem. The scene is used on the GL thread only and is never destroyed in the demo. */
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "scene/blob.h"
#include "scene/scene_animation.h"
#include "shader/shader.h"

struct Variable;

// ---- The scene's Variables ----

// What the scene publishes to the renderer's programs by name (it also writes the renderer's
// "camera", "invCamera", "xfFeedback" and "xfTriCount", render/gpu_layout.h); init creates them.
#define NOVA31_SCENE_VARIABLES(X)                                                                            \
    X(kBaseColorVariable, "baseColor", 16)               /* vec4, lent per draw */                           \
    X(kBaseColorTextureVariable, "baseColorTexture", 64) /* TextureRecord, lent per draw */                  \
    X(kLightsVariable, "gpuLights", 32)                  /* BufferRecord of GPULightEntry */                 \
    X(kObjectTransformVariable, "objXF", 64)             /* mat4, the drawn node's world matrix */           \
    X(kInverseObjectTransformVariable, "iobjXF", 64)     /* mat4, its inverse */                             \
    X(kPositionVariable, "pos", 32)                      /* BufferRecord, lent per draw */                   \
    X(kTexCoordVariable, "atcoord", 32)                  /* BufferRecord, unused */
NOVA31_SCENE_VARIABLES(NOVA31_DECLARE_VARIABLE)

// The texture lent to materials without one (or whose image was not found): one white texel.
TextureRecord* whiteTexture();

// The decoded form of one packed accessor.
struct GpuAccessor {
    const char* name = nullptr;   // "idx", "pos", "normal", "uv" in the blob; null for animation data
    BufferRecord buffer{};        // decoded floats (index records: room only, never filled or bound)
    Variable* variable = nullptr; // the Variable named like the accessor; null for idx and animation

    GpuAccessor() = default;
    GpuAccessor(const GpuAccessor&) = delete;
    GpuAccessor& operator=(const GpuAccessor&) = delete;
    ~GpuAccessor(); // frees the host array and deletes the GL buffer if there is one
};

class Scene {
public:
    void init(const void* sceneBlob);
    // Draws primitive `index` with the first fitting program of the null-terminated list;
    // returns the number of vertices drawn.
    int drawPrimitive(int index, ShaderProgram* const* programs);
    // Animates to `time` (music seconds), publishes camera, lights and transforms, draws every node.
    int updateAndDraw(float time, ShaderProgram* const* programs);
    // World-space bounds of everything drawn, animated to `time`: minimum x, y, z, then maximum
    // x, y, z (minimum above maximum when nothing is drawn). Publishes and draws nothing.
    std::array<float, 6> worldBounds(float time);
    // Appends the world position (x, y, z) of every stride-th vertex drawn at `time`, with the
    // stride chosen so that about `points` are appended. Publishes and draws nothing.
    void worldPoints(float time, size_t points, std::vector<float>& out);
    // Materials of the blob; `textures` has one entry per material.
    size_t materialCount() const { return materials_.size(); }
    // Whether the scene has animation channels (its bounds change with the time).
    bool animated() const { return view_ && !view_->channels().empty(); }

    const uint8_t* blob = nullptr;
    const PackedPrimitive* primitives = nullptr;
    int primitiveCount = 0;
    const PackedAccessor* accessors = nullptr;
    int accessorCount = 0;
    std::unique_ptr<GpuAccessor[]> gpuAccessors;
    std::unique_ptr<Variable*[]> textures; // one per material; null when untextured or not found
    char cameraName[80] = {};              // the node whose transform replaces the camera

private:
    struct NamedValues {
        Variable* baseColor;
        Variable* baseColorTexture;
        Variable* xfFeedback;
        Variable* xfTriCount;
        Variable* camera;
        Variable* invCamera;
        Variable* gpuLights;
        Variable* objXF;
        Variable* iobjXF;
        Variable* proj;
        Variable* invProj;
        Variable* resolution;
    };

    // A camera of the scene: its node and projection (see kCameraPerspective in blob.h).
    struct SceneCamera {
        int node;
        bool orthographic;
        float parameters[4]; // yfov, aspect ratio, znear, zfar; or xmag, ymag, znear, zfar
    };

    void decodeAttribute(int primitive, const PackedAccessor& accessor, GpuAccessor& g);
    void decodeAnimationAccessor(int accessorIndex);
    bool accessorsInRange(const PackedPrimitive& p) const;
    ShaderProgram* chooseProgram(const PackedPrimitive& p, ShaderProgram* const* programs) const;
    // Local transforms and world matrices of every node at `time` (worldMatrices_).
    void animate(float time);
    std::array<float, 6> boundsOf(const float* worldMatrices) const;
    void findCameras();
    // "camera", "invCamera", "proj" and "invProj" from the scene's first camera.
    void publishSceneCamera(const float* worldMatrices);
    void publishLights(const float* worldMatrices, int nodeCount);
    // The light of a scene without lights: position (x, y, z, 1) and colour (r, g, b, intensity).
    void placeDefaultLight(const float* worldMatrices, float position[4], float colour[4]) const;

    std::optional<BlobView> view_;
    std::span<const PackedMaterial> materials_;
    NamedValues named_{};
    // The index list of the last "idx" accessor met in init; carries over to later primitives.
    IndexArray currentIndices_;
    int32_t currentIndexCount_ = 0;
    float materialColour_[4] = {};            // lent to "baseColor" during a draw
    std::vector<uint8_t> reportedPrimitives_; // primitives whose skip was already logged
    // Object-space bounds of each primitive's "pos" array: minimum x, y, z, then maximum x, y, z.
    std::vector<std::array<float, 6>> primitiveBounds_;
    bool defaultLight_ = false;        // the scene has no lights: one follows the camera
    std::vector<SceneCamera> cameras_; // the usable cameras, in node order
    // Per-frame working arrays, sized by the node count once in init.
    std::vector<NodeTransform> localTransforms_;
    std::vector<float> worldMatrices_;
};
