// libFuzzer target for the glTF packer: any input must end in a blob the reader accepts or in a
// fatal rejection with a message, never in a crash, a hang or an out-of-bounds access.
#include "fuzz/rejection.h"
#include "scene/blob.h"
#include "scene/gltf_pack.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    expectRejections();
    void* blob = nullptr;
    try {
        int blobSize = 0;
        blob = loadGLTF(data, size, &blobSize, nullptr, nullptr);
        BlobView view(blob, static_cast<size_t>(blobSize));
        // Everything the scene runtime follows must resolve inside the blob.
        for (const PackedNode& node : view.nodes()) {
            view.text(&node.name);
            view.floats(&node.matrix, 16);
            view.floats(&node.translation, 3);
            view.floats(&node.rotation, 4);
            view.floats(&node.scale, 3);
            if (node.firstPrimitive >= 0 &&
                static_cast<size_t>(node.firstPrimitive + node.primitiveCount) > view.primitives().size())
                std::abort();
        }
        for (const PackedAccessor& accessor : view.accessors())
            for (int c = 0; c < accessor.componentCount(); ++c) {
                if (accessor.componentType == kComponentTypeFloat)
                    view.floatBlock(&accessor.components[c], accessor.count);
                else if (accessor.componentType == kComponentTypeUnsignedInt)
                    view.indices(accessor); // 32-bit index lists, large form only
                else
                    view.shorts(&accessor.components[c], accessor.count);
            }
        for (const PackedPrimitive& primitive : view.primitives())
            if (primitive.firstAccessor + primitive.accessorCount > view.accessors().size() ||
                primitive.material >= view.materials().size())
                std::abort();
        for (const PackedMaterial& material : view.materials()) view.text(&material.texture);
        for (const PackedChannel& channel : view.channels())
            if (channel.keyTimes + 1u >= view.accessors().size() ||
                static_cast<size_t>(channel.node()) >= view.nodes().size())
                std::abort();
    } catch (const FuzzRejected&) {
    }
    std::free(blob);
    return 0;
}
