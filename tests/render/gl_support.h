// Shared set-up of the renderer's GL tests: one headless context, the shader files in the store, one
// renderer with a small G-buffer, and buffer helpers.
#pragma once

#include "mini_scene.h"

#include "render/cached_gi.h"
#include "shader/shader.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

// The G-buffer size of the test renderer (the frame is larger; tests draw into its corner).
constexpr int kTestWidth = 192;
constexpr int kTestHeight = 108;

// Makes the context on first use and returns the renderer, built from the files in assets/.
CachedGI& testRenderer();

// Puts assets/NAME into the variable store.
void loadAsset(const char* name);

using mini::storeBuffer;
using mini::storeValue;

// Device buffer of a store Variable holding exactly `count` elements of `data`.
template <typename T> void fillDeviceBuffer(const char* name, const std::vector<T>& data);
void fillDeviceBufferBytes(const char* name, const void* data, size_t count, int32_t elementSize);

// Host-filled buffer record (an upload at the next use) over `data`.
template <typename T> BufferRecord hostRecord(std::vector<T>& data) {
    BufferRecord record{};
    record.elementSize = sizeof(T);
    record.elementCount = record.hostCapacity = record.pending = static_cast<int32_t>(data.size());
    record.hostData = data.data();
    return record;
}

// Sets the host copy of a store buffer Variable to `data` (copied) and marks it all pending.
template <typename T> void setHostBuffer(const char* name, const std::vector<T>& data);
void setHostBufferBytes(const char* name, const void* data, size_t count, int32_t elementSize);

// The level 0 texels of a G-buffer target ("gBufferAlb", "gBufferNorm", "gBufferPos") as floats,
// 3 (rgb) or 4 (rgba) per texel, bottom row first.
std::vector<float> readTarget(const char* name, int components);

void dispatchInvocations(int32_t count);
std::vector<unsigned char> readBufferBytes(uint32_t glBuffer, size_t bytes);
template <typename T> std::vector<T> readBuffer(uint32_t glBuffer, size_t count) {
    std::vector<unsigned char> bytes = readBufferBytes(glBuffer, count * sizeof(T));
    std::vector<T> values(count);
    std::memcpy(values.data(), bytes.data(), bytes.size());
    return values;
}

// The source of a kernel for runCountedKernel: `includes` ("util.glsl", ...) pulled in, 64
// invocations per work group, `int arg0_count`, the storage arrays `input` and `output` as
// arguments 1 and 2 (for example "vec4 points[]"), and `body` run with `int i` for every
// invocation below the count.
std::string countedKernel(const std::vector<std::string>& includes, const std::string& input,
                          const std::string& output, const std::string& body);

// Runs a test kernel whose arguments are (int count, input buffer, output buffer), 64
// invocations per work group, and reads `outputCount` results back. The outputs start as
// `unwritten`, so results the kernel failed to write show.
template <typename Out, typename In>
std::vector<Out> runCountedKernel(ShaderProgram* program, std::vector<In>& input, int32_t count,
                                  size_t outputCount, Out unwritten) {
    std::vector<Out> outputs(outputCount, unwritten);
    BufferRecord inputRecord = hostRecord(input), outputRecord = hostRecord(outputs);
    use(program, &count, &inputRecord, &outputRecord);
    dispatchInvocations(count);
    return readBuffer<Out>(outputRecord.glBuffer, outputCount);
}

// A tree with only an empty root, and no lights: rays hit nothing.
void installEmptyScene();

template <typename T> void fillDeviceBuffer(const char* name, const std::vector<T>& data) {
    fillDeviceBufferBytes(name, data.data(), data.size(), sizeof(T));
}
template <typename T> void setHostBuffer(const char* name, const std::vector<T>& data) {
    setHostBufferBytes(name, data.data(), data.size(), sizeof(T));
}
