/* frame_export.h — the frame the demo draws, written out for an offline renderer to draw again.

   After a frame's passes (drawDemoFrame), captureFrameExport reads what the GPU captured and
   what the shaders were given: every captured triangle in world space after animation, the
   materials those triangles carry, the lights of "gpuLights" and the camera of "invCamera" and
   "proj". writeFrameExport writes it as files beside the frame's PNG, for a path tracer
   (scripts/reference/cycles_reference.py) to render the same frame:

       FrameExport frame;
       if (!captureFrameExport(scene, options, &frame, &error)) ...;
       writeFrameExport(frame, "shot_10", &error);   // shot_10.json, shot_10.triangles, textures

   "NAME.json" is one object described by the records below (field for field; the test reads it
   back through them). "NAME.triangles" holds `triangleCount` records of 100 bytes, little
   endian, one per captured triangle in capture order: for each of its three vertices the world
   position (3 floats), the captured normal (3 floats, as the renderer unpacks it: not
   normalised) and the texture coordinate (2 floats), then the material index (int32, into
   `materials`). "NAME.textureK.png" holds the base level of texture K, RGBA 8 bits, top row
   first, as the renderer's texels.

   How the demo shades with these, so that another renderer can do the same:
   - albedo (linear) = (baseColor x texel)^2 componentwise, a material without a texture having
     texel 1; traced rays sample the base level bilinearly with repeat wrapping ("filter",
     "wrap"), the G-buffer the mip chain (GL's defaults: the nearest texel of the two nearest
     levels, blended), whose levels average 2 x 2 texels after dropping their two low bits;
   - a light adds intensity x lightScale x color x max(0, dot(n, l)) / d^2 to the light at a
     point (l: unit vector to the light, d: its distance), with a shadow ray and no range;
   - the pixel is sqrt(light x albedo) componentwise, clamped to [0, 1] by the framebuffer;
   - with "indirectLight" false the frame was drawn without the light cache (direct light only).
   The camera is a perspective one: `forward` is the view direction, `up` and `right` the
   picture's up and right, `yfov` the vertical field of view; the matrices are given as well.

   Only triangles drawn with the textured program are captured (the only program that writes
   the capture); a frame whose projection is not a symmetric perspective, or whose triangles
   name a texture the scene does not hold, is refused with a message. */
#pragma once

#include "refl/refl.h"

#include <cstdint>
#include <string>
#include <vector>

class Scene;

// ---- The file's records ----

struct FrameExportCamera {
    std::vector<float> position;  // world, x y z
    std::vector<float> forward;   // unit view direction
    std::vector<float> up;        // unit, the picture's up
    std::vector<float> right;     // unit, the picture's right
    float yfov = 0;               // vertical field of view, radians
    float aspect = 0;             // width / height of the projection
    float near = 0;               // near plane distance
    float far = 0;                // far plane distance; 0 for none (infinite projection)
    std::vector<float> invCamera; // view to world, 16 floats column-major
    std::vector<float> proj;      // view to clip, 16 floats column-major
    REFL_MEMBERS(position, forward, up, right, yfov, aspect, near, far, invCamera, proj)
};

struct FrameExportLight {
    std::vector<float> position; // world, x y z
    std::vector<float> color;    // r g b
    float intensity = 0;         // scaled by lightScale
    REFL_MEMBERS(position, color, intensity)
};

struct FrameExportMaterial {
    std::vector<float> baseColor; // r g b a, 8-bit steps as captured
    int texture = -1;             // index into textures; -1: none (texel 1)
    REFL_MEMBERS(baseColor, texture)
};

struct FrameExportTexture {
    std::string file;              // PNG beside the JSON file
    int width = 0;                 // texels
    int height = 0;                //
    std::string filter = "linear"; // bilinear on the base level
    std::string wrap = "repeat";   // both axes
    REFL_MEMBERS(file, width, height, filter, wrap)
};

struct FrameExportFile {
    std::string format;            // "nova31-frame"
    int version = 0;               // 1
    float time = 0;                // music seconds
    int width = 0;                 // the frame's pixels
    int height = 0;                //
    bool indirectLight = true;     // false: drawn with direct light only
    float lightScale = 0;          // 0.001: light strength per unit of intensity
    std::vector<float> background; // clear colour r g b of pixels no triangle covers
    FrameExportCamera camera;
    std::vector<FrameExportLight> lights;
    std::vector<FrameExportMaterial> materials;
    std::vector<FrameExportTexture> textures;
    std::string triangles; // file of the triangle records
    int triangleCount = 0;
    REFL_MEMBERS(format, version, time, width, height, indirectLight, lightScale, background, camera, lights,
                 materials, textures, triangles, triangleCount)
};

constexpr int kFrameExportTriangleBytes = 3 * 8 * 4 + 4;

// ---- Capture and writing ----

// One captured triangle as written: three vertices of position, normal, uv, and its material.
struct FrameExportTriangle {
    float vertices[3][8];
    int32_t material;
};
static_assert(sizeof(FrameExportTriangle) == kFrameExportTriangleBytes);

struct FrameExport {
    FrameExportFile file; // file names are filled in by writeFrameExport
    std::vector<FrameExportTriangle> triangles;
    std::vector<std::vector<uint8_t>> texels; // RGBA rows per texture, top row first
};

struct FrameExportSettings {
    float time = 0;
    bool indirectLight = true;
    float background[3] = {};
};

// Reads the frame just drawn (before it is presented): the capture buffer, the scene's lights,
// camera matrices and textures. False with a message when the frame cannot be described.
bool captureFrameExport(Scene& scene, const FrameExportSettings& settings, FrameExport* out,
                        std::string* error);

// Writes NAME.json, NAME.triangles and NAME.textureK.png. False with a message naming the file.
bool writeFrameExport(FrameExport& frame, const std::string& name, std::string* error);

// Makes the light cache a table of no entries before the first frame (after
// writeInitialLightCache): every lookup, in the shading and in the cache update, finds none, so
// frames are drawn with direct light only.
void turnOffLightCache();

// Replaces every texel of the scene's textures by the texture's mean (before their first use),
// so that texture filtering plays no part in a comparison. The mean is rounded to a multiple of 4
// (the mip chain keeps such a texel exactly); an opaque alpha stays at 252, above the discard limit.
void flattenSceneTextures(Scene& scene);
