// The frame the demo draws, read back and written out for an offline renderer (frame_export.h).
#include "tools/nova31-shot/frame_export.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <utility>

#include <stb/stb_image_write.h>

#include "platform/gl.h"
#include "platform/window.h"
#include "render/gpu_layout.h"
#include "scene/scene.h"
#include "shader/shader_source.h"
#include "store/store.h"

namespace {

// The light strength per unit of intensity in "ray.glsl"'s getLighting.
constexpr float kLightScale = 0.001f;

template <typename T> T* storeData(const char* name) {
    Variable* v = getVariable(name, 0);
    return v != nullptr ? currentData<T>(v) : nullptr;
}

// packSnorm4x8 / packUnorm4x8 undone as GLSL does.
float snorm8(uint32_t word, int byte) {
    auto value = static_cast<int8_t>((word >> (8 * byte)) & 0xFFu);
    return std::fmax(-1.0f, static_cast<float>(value) / 127.0f);
}

float unorm8(uint32_t word, int byte) {
    return static_cast<float>((word >> (8 * byte)) & 0xFFu) / 255.0f;
}

float bitsToFloat(uint32_t bits) {
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

std::vector<float> unit(float x, float y, float z) {
    float length = std::sqrt(x * x + y * y + z * z);
    if (length == 0) return {0, 0, 0};
    return {x / length, y / length, z / length};
}

bool captureCamera(FrameExportCamera* camera, std::string* error) {
    const float* view = storeData<float>(kInverseCameraVariable);
    const float* proj = storeData<float>(kProjectionVariable);
    if (view == nullptr || proj == nullptr) {
        *error = "the frame has no camera matrices (\"invCamera\", \"proj\")";
        return false;
    }
    // Column-major: column c at 4c. A symmetric perspective has only these entries.
    const bool perspective = proj[11] == -1.0f && proj[15] == 0.0f && proj[0] > 0 && proj[5] > 0 &&
                             std::fabs(proj[8]) < 1e-6f && std::fabs(proj[9]) < 1e-6f;
    if (!perspective) {
        *error = "the frame's projection is not a symmetric perspective (orthographic or off-centre); "
                 "only perspective cameras are exported";
        return false;
    }
    camera->invCamera.assign(view, view + 16);
    camera->proj.assign(proj, proj + 16);
    camera->position = {view[12], view[13], view[14]};
    camera->right = unit(view[0], view[1], view[2]);
    camera->up = unit(view[4], view[5], view[6]);
    camera->forward = unit(-view[8], -view[9], -view[10]);
    camera->yfov = 2.0f * std::atan(1.0f / proj[5]);
    camera->aspect = proj[5] / proj[0];
    // z_clip = proj[10] z + proj[14], w = -z: near where z_ndc = -1, far where it is 1.
    camera->near = proj[14] / (proj[10] - 1.0f);
    camera->far = proj[10] == -1.0f ? 0.0f : proj[14] / (proj[10] + 1.0f);
    return true;
}

void captureLights(std::vector<FrameExportLight>* out) {
    const auto* buffer = storeData<BufferRecord>(kLightsVariable);
    if (buffer == nullptr || buffer->hostData == nullptr) return;
    const auto* entries = static_cast<const GPULightEntry*>(buffer->hostData);
    const int count = std::min(buffer->elementCount, 100);
    for (int i = 0; i < count && entries[i].color[3] > 0; ++i) {
        const GPULightEntry& e = entries[i];
        out->push_back({{e.pos[0], e.pos[1], e.pos[2]}, {e.color[0], e.color[1], e.color[2]}, e.color[3]});
    }
}

// RGBA bytes, top row first, of a texture's base level (0xAARRGGBB texels).
std::vector<uint8_t> baseLevelRgba(const TextureRecord& texture) {
    const size_t count = static_cast<size_t>(texture.uploadWidth) * texture.uploadHeight;
    std::vector<uint8_t> rgba(count * 4);
    for (size_t i = 0; i < count; ++i) {
        const uint32_t t = texture.pixels[i];
        rgba[4 * i + 0] = static_cast<uint8_t>(t >> 16);
        rgba[4 * i + 1] = static_cast<uint8_t>(t >> 8);
        rgba[4 * i + 2] = static_cast<uint8_t>(t);
        rgba[4 * i + 3] = static_cast<uint8_t>(t >> 24);
    }
    return rgba;
}

// The captured vertices of the frame, read back from the capture buffer.
bool readCapture(int32_t triangles, std::vector<FVert>* vertices, std::string* error) {
    const auto* feedback = storeData<BufferRecord>(kFeedbackVariable);
    const int64_t bytes = static_cast<int64_t>(triangles) * 3 * static_cast<int64_t>(sizeof(FVert));
    if (feedback == nullptr || feedback->glBuffer == 0 || bytes > feedback->glCapacity) {
        *error = "the capture buffer does not hold the frame's " + std::to_string(triangles) + " triangles";
        return false;
    }
    vertices->resize(static_cast<size_t>(triangles) * 3);
    if (bytes == 0) return true;
    glMemoryBarrier(GL_ALL_BARRIER_BITS);
    glBindBuffer(GL_COPY_READ_BUFFER, feedback->glBuffer);
    glGetBufferSubData(GL_COPY_READ_BUFFER, 0, bytes, vertices->data());
    glBindBuffer(GL_COPY_READ_BUFFER, 0);
    return true;
}

// ---- JSON writing ----

void writeFloats(FILE* f, const std::vector<float>& values) {
    std::fputc('[', f);
    for (size_t i = 0; i < values.size(); ++i)
        std::fprintf(f, "%s%.9g", i != 0 ? ", " : "", static_cast<double>(values[i]));
    std::fputc(']', f);
}

// Names written by this program only: letters, digits, '.', '_', '-'; no escaping needed.
void writeJson(FILE* f, const FrameExportFile& d) {
    std::fprintf(f, "{\n  \"format\": \"%s\",\n  \"version\": %d,\n  \"time\": %.9g,\n", d.format.c_str(),
                 d.version, static_cast<double>(d.time));
    std::fprintf(f,
                 "  \"width\": %d,\n  \"height\": %d,\n  \"indirectLight\": %s,\n  \"lightScale\": %.9g,\n",
                 d.width, d.height, d.indirectLight ? "true" : "false", static_cast<double>(d.lightScale));
    std::fprintf(f, "  \"background\": ");
    writeFloats(f, d.background);
    const FrameExportCamera& c = d.camera;
    std::fprintf(f, ",\n  \"camera\": {\n    \"position\": ");
    writeFloats(f, c.position);
    std::fprintf(f, ",\n    \"forward\": ");
    writeFloats(f, c.forward);
    std::fprintf(f, ",\n    \"up\": ");
    writeFloats(f, c.up);
    std::fprintf(f, ",\n    \"right\": ");
    writeFloats(f, c.right);
    std::fprintf(f,
                 ",\n    \"yfov\": %.9g,\n    \"aspect\": %.9g,\n    \"near\": %.9g,\n    \"far\": %.9g,\n",
                 static_cast<double>(c.yfov), static_cast<double>(c.aspect), static_cast<double>(c.near),
                 static_cast<double>(c.far));
    std::fprintf(f, "    \"invCamera\": ");
    writeFloats(f, c.invCamera);
    std::fprintf(f, ",\n    \"proj\": ");
    writeFloats(f, c.proj);
    std::fprintf(f, "\n  },\n  \"lights\": [");
    for (size_t i = 0; i < d.lights.size(); ++i) {
        std::fprintf(f, "%s\n    {\"position\": ", i != 0 ? "," : "");
        writeFloats(f, d.lights[i].position);
        std::fprintf(f, ", \"color\": ");
        writeFloats(f, d.lights[i].color);
        std::fprintf(f, ", \"intensity\": %.9g}", static_cast<double>(d.lights[i].intensity));
    }
    std::fprintf(f, "\n  ],\n  \"materials\": [");
    for (size_t i = 0; i < d.materials.size(); ++i) {
        std::fprintf(f, "%s\n    {\"baseColor\": ", i != 0 ? "," : "");
        writeFloats(f, d.materials[i].baseColor);
        std::fprintf(f, ", \"texture\": %d}", d.materials[i].texture);
    }
    std::fprintf(f, "\n  ],\n  \"textures\": [");
    for (size_t i = 0; i < d.textures.size(); ++i) {
        const FrameExportTexture& t = d.textures[i];
        std::fprintf(
            f,
            "%s\n    {\"file\": \"%s\", \"width\": %d, \"height\": %d, \"filter\": \"%s\", \"wrap\": \"%s\"}",
            i != 0 ? "," : "", t.file.c_str(), t.width, t.height, t.filter.c_str(), t.wrap.c_str());
    }
    std::fprintf(f, "\n  ],\n  \"triangles\": \"%s\",\n  \"triangleCount\": %d\n}\n", d.triangles.c_str(),
                 d.triangleCount);
}

std::string systemError(const std::string& file) {
    return "cannot write " + file + ": " + std::strerror(errno);
}

} // namespace

// ---- Capture ----

bool captureFrameExport(Scene& scene, const FrameExportSettings& settings, FrameExport* out,
                        std::string* error) {
    FrameExportFile& d = out->file;
    d = FrameExportFile{};
    d.format = "nova31-frame";
    d.version = 1;
    d.time = settings.time;
    d.width = windowWidth;
    d.height = windowHeight;
    d.indirectLight = settings.indirectLight;
    d.lightScale = kLightScale;
    d.background.assign(settings.background, settings.background + 3);
    if (!captureCamera(&d.camera, error)) return false;
    captureLights(&d.lights);

    const int32_t* triangleCount = storeData<int32_t>(kTriangleCountVariable);
    std::vector<FVert> vertices;
    if (triangleCount == nullptr || *triangleCount < 0 || !readCapture(*triangleCount, &vertices, error)) {
        if (error->empty()) *error = "the frame has no triangle count (\"xfTriCount\")";
        return false;
    }

    // The textures the scene lends by handle: its materials' images, and white for none.
    std::map<uint64_t, int> textureIndex; // handle -> texture index, -1 for white
    textureIndex[0] = -1;
    textureIndex[whiteTexture()->bindlessHandle] = -1;
    out->texels.clear();
    for (size_t m = 0; m < scene.materialCount(); ++m) {
        if (scene.textures[m] == nullptr) continue;
        const TextureRecord* texture = currentData<TextureRecord>(scene.textures[m]);
        if (texture->glTexture == 0 || texture->pixels == nullptr ||
            textureIndex.count(texture->bindlessHandle) != 0)
            continue;
        textureIndex[texture->bindlessHandle] = static_cast<int>(d.textures.size());
        FrameExportTexture entry;
        entry.width = texture->uploadWidth;
        entry.height = texture->uploadHeight;
        d.textures.push_back(entry);
        out->texels.push_back(baseLevelRgba(*texture));
    }

    // Materials: each distinct (texture handle, base colour) pair, in order of first capture.
    std::map<std::pair<uint64_t, uint32_t>, int> materialIndex;
    out->triangles.resize(static_cast<size_t>(*triangleCount));
    for (int32_t t = 0; t < *triangleCount; ++t) {
        const FVert* v = &vertices[static_cast<size_t>(t) * 3];
        const uint64_t handle = v[0].uvTI[2] | (static_cast<uint64_t>(v[0].uvTI[3]) << 32);
        const uint32_t colour = ~v[1].uvTI[2];
        auto [material, added] =
            materialIndex.try_emplace({handle, colour}, static_cast<int>(d.materials.size()));
        if (added) {
            auto texture = textureIndex.find(handle);
            if (texture == textureIndex.end()) {
                char text[160];
                std::snprintf(text, sizeof text,
                              "captured triangle %d names texture handle 0x%llx, which no material of the "
                              "scene holds",
                              t, static_cast<unsigned long long>(handle));
                *error = text;
                return false;
            }
            d.materials.push_back(
                {{unorm8(colour, 0), unorm8(colour, 1), unorm8(colour, 2), unorm8(colour, 3)},
                 texture->second});
        }
        FrameExportTriangle& triangle = out->triangles[static_cast<size_t>(t)];
        triangle.material = material->second;
        for (int k = 0; k < 3; ++k) {
            float* o = triangle.vertices[k];
            for (int c = 0; c < 3; ++c) {
                o[c] = bitsToFloat(v[k].uposn[c]);
                o[3 + c] = snorm8(v[k].uposn[3], c);
            }
            o[6] = bitsToFloat(v[k].uvTI[0]);
            o[7] = bitsToFloat(v[k].uvTI[1]);
        }
    }
    d.triangleCount = *triangleCount;
    return true;
}

// ---- Writing ----

bool writeFrameExport(FrameExport& frame, const std::string& name, std::string* error) {
    FrameExportFile& d = frame.file;
    const std::string stem = std::filesystem::path(name).filename().string();
    for (size_t i = 0; i < d.textures.size(); ++i) {
        FrameExportTexture& t = d.textures[i];
        t.file = stem + ".texture" + std::to_string(i) + ".png";
        const std::string path = name + ".texture" + std::to_string(i) + ".png";
        if (!stbi_write_png(path.c_str(), t.width, t.height, 4, frame.texels[i].data(), t.width * 4)) {
            *error = "cannot write " + path;
            return false;
        }
    }
    d.triangles = stem + ".triangles";
    const std::string trianglePath = name + ".triangles";
    FILE* f = std::fopen(trianglePath.c_str(), "wb");
    if (f == nullptr) {
        *error = systemError(trianglePath);
        return false;
    }
    // The records are written as they lie in memory: the format is little endian, like every
    // machine the demo runs on.
    static_assert(std::endian::native == std::endian::little);
    const size_t written =
        frame.triangles.empty()
            ? 0
            : std::fwrite(frame.triangles.data(), sizeof(FrameExportTriangle), frame.triangles.size(), f);
    if (std::fclose(f) != 0 || written != frame.triangles.size()) {
        *error = systemError(trianglePath);
        return false;
    }
    const std::string jsonPath = name + ".json";
    f = std::fopen(jsonPath.c_str(), "w");
    if (f == nullptr) {
        *error = systemError(jsonPath);
        return false;
    }
    writeJson(f, d);
    if (std::ferror(f) != 0 || std::fclose(f) != 0) {
        *error = systemError(jsonPath);
        return false;
    }
    return true;
}

// ---- Drawing for a comparison ----

void turnOffLightCache() {
    auto* info = currentData<BufferRecord>(getVariable(kLightCacheInfoVariable, 0));
    static_cast<LICInfo*>(info->hostData)->liEntryCount = 0;
}

void flattenSceneTextures(Scene& scene) {
    for (size_t m = 0; m < scene.materialCount(); ++m) {
        if (scene.textures[m] == nullptr) continue;
        auto* texture = currentData<TextureRecord>(scene.textures[m]);
        const size_t count = static_cast<size_t>(texture->uploadWidth) * texture->uploadHeight;
        if (texture->pixels == nullptr || count == 0) continue;
        uint64_t sum[4] = {};
        for (size_t i = 0; i < count; ++i)
            for (int c = 0; c < 4; ++c) sum[c] += (texture->pixels[i] >> (8 * c)) & 0xFFu;
        // The mean to a multiple of 4: the mip chain's averages drop each texel's two low bits
        // (shader/textures.cpp), so only such a texel stays the same on every level.
        uint32_t mean = 0;
        for (int c = 0; c < 4; ++c) {
            const uint64_t rounded = std::min<uint64_t>((sum[c] + count * 2) / (count * 4) * 4, 252);
            mean |= static_cast<uint32_t>(rounded) << (8 * c);
        }
        // Level 0 only: the upload builds the other levels from it.
        std::fill(texture->pixels, texture->pixels + count, mean);
        texture->dirty = 1;
    }
}
