#include "gl_support.h"

#include "platform/gl.h"
#include "platform/window.h"
#include "store/store.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>

namespace {
const char* const kShaderFiles[] = {"util.glsl",      "ray.glsl",        "licache.glsl",
                                    "licupdate.glsl", "bvh_leaves.glsl", "bvh_nodes.glsl",
                                    "texm.glsl",      "flat.glsl",       "deferred.glsl"};
} // namespace

void loadAsset(const char* name) {
    std::string path = std::string(NOVA31_SOURCE_DIR) + "/assets/" + name;
    std::ifstream file(path, std::ios::binary);
    ASSERT_TRUE(file) << path;
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    putFileVariable(name, static_cast<uint32_t>(bytes.size()), bytes.data());
}

CachedGI& testRenderer() {
    static CachedGI* renderer = [] {
        createHeadlessContext(800, 450);
        for (const char* name : kShaderFiles) loadAsset(name);
        int width = windowWidth, height = windowHeight;
        windowWidth = kTestWidth;
        windowHeight = kTestHeight;
        auto* created = new CachedGI();
        getVariable("gpuLights", 32); // the scene's light buffer, which the ray programs read
        windowWidth = width;
        windowHeight = height;
        writeInitialLightCache();
        return created;
    }();
    return *renderer;
}

void fillDeviceBufferBytes(const char* name, const void* data, size_t count, int32_t elementSize) {
    BufferRecord* record = storeBuffer(name);
    record->elementSize = elementSize;
    reserveDeviceBuffer(record, static_cast<int32_t>(count));
    glBindBuffer(GL_COPY_WRITE_BUFFER, record->glBuffer);
    glBufferSubData(GL_COPY_WRITE_BUFFER, 0, static_cast<GLsizeiptr>(count * elementSize), data);
    glBindBuffer(GL_COPY_WRITE_BUFFER, 0);
}

void setHostBufferBytes(const char* name, const void* data, size_t count, int32_t elementSize) {
    BufferRecord* record = storeBuffer(name);
    size_t bytes = count * static_cast<size_t>(elementSize);
    // The arrays stay alive for the run; this list holds them where a leak checker sees them.
    static std::vector<std::unique_ptr<unsigned char[]>> arrays;
    if (record->hostCapacity < static_cast<int32_t>(count) || record->elementSize != elementSize) {
        arrays.push_back(std::make_unique<unsigned char[]>(bytes));
        record->hostData = arrays.back().get();
        record->hostCapacity = static_cast<int32_t>(count);
    }
    std::memcpy(record->hostData, data, bytes);
    record->elementSize = elementSize;
    record->elementCount = record->pending = static_cast<int32_t>(count);
}

std::vector<float> readTarget(const char* name, int components) {
    std::vector<float> texels(static_cast<size_t>(kTestWidth) * kTestHeight * components);
    glBindTexture(GL_TEXTURE_2D, storeValue<TextureRecord>(name, 64)->glTexture);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, components == 3 ? GL_RGB : GL_RGBA, GL_FLOAT, texels.data());
    return texels;
}

void dispatchInvocations(int32_t count) {
    glDispatchCompute(static_cast<GLuint>((count + 63) / 64), 1, 1);
}

std::vector<unsigned char> readBufferBytes(uint32_t glBuffer, size_t bytes) {
    std::vector<unsigned char> values(bytes);
    glMemoryBarrier(GL_ALL_BARRIER_BITS);
    glBindBuffer(GL_COPY_READ_BUFFER, glBuffer);
    glGetBufferSubData(GL_COPY_READ_BUFFER, 0, static_cast<GLsizeiptr>(bytes), values.data());
    glBindBuffer(GL_COPY_READ_BUFFER, 0);
    return values;
}

void installEmptyScene() {
    fillDeviceBuffer("bivhTree", std::vector<BIVH>(2, BIVH{}));
    fillDeviceBuffer("xfFeedback", std::vector<FVert>(3, FVert{}));
    std::vector<GPULightEntry> lights(100, GPULightEntry{});
    setHostBuffer("gpuLights", lights);
}

std::string countedKernel(const std::vector<std::string>& includes, const std::string& input,
                          const std::string& output, const std::string& body) {
    std::string source = "#version 450 core\n";
    for (const std::string& name : includes) source += "//!!using:" + name + "\n";
    return source +
           "#ifdef COMPUTE\n"
           "layout(local_size_x = 64) in;\n"
           "uniform int arg0_count;\n"
           "layout(std430) buffer arg1_input { " +
           input + "; };\nlayout(std430) buffer arg2_output { " + output +
           "; };\n"
           "void main() {\n"
           "    int i = int(gl_GlobalInvocationID.x);\n"
           "    if (i >= arg0_count) return;\n" +
           body + "}\n#endif\n";
}
