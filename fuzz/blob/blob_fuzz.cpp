// libFuzzer target for the scene blob reader and the scene's decoding of it without GL: any
// byte block must either be refused through fatalError with a message or be decoded (every
// accessor through its index list, every animation channel) and animated at a few music
// times, never crash, leak or read outside the block. Both forms are covered: the seeds come
// in both, and a block whose compact directory is sound is read once more in the large form.
#include "fuzz/rejection.h"
#include "scene/blob.h"
#include "scene/scene.h"
#include "shader/shader.h"
#include "store/store.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {
// The light buffer the scene publishes lives for the run in the "gpuLights" Variable. Buffer
// records are packed, so their host pointer is not aligned and LeakSanitizer does not see it:
// an aligned copy keeps the array visibly reachable.
void* lightBuffer = nullptr;

// Reads a block of exactly `size` bytes at malloc's alignment, as the scene reads a blob.
void readBlob(const uint8_t* data, size_t size) {
    expectRejections(); // a rejection clears the presenter: armed again for every read
    void* blob = std::malloc(size > 0 ? size : 1);
    if (size > 0) std::memcpy(blob, data, size);
    try {
        BlobView view(blob, size); // the directory must fit the bytes there are
        Scene scene;
        scene.init(blob);
        // No programs: every primitive is skipped before anything reaches GL.
        for (float time : {-1.0f, 0.0f, 0.37f, 7.5f, 1.0e9f}) scene.updateAndDraw(time, nullptr);
    } catch (const FuzzRejected&) {
    }
    std::free(blob);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    readBlob(data, size);
    std::vector<uint8_t> large;
    expectRejections();
    try {
        BlobView view(data, size);
        if (view.form() == BlobForm::compact) large = view.largeForm();
    } catch (const FuzzRejected&) {
    }
    if (!large.empty()) readBlob(large.data(), large.size());
    lightBuffer =
        static_cast<BufferRecord*>(variableData(currentVariable(getVariable("gpuLights", 32))))->hostData;
    return 0;
}
