// The packer's dump: the blob as "gltf.expbin" and an annotated byte listing, one CSV line per
// labelled span, for reading a blob by eye.
#include "app/console.h"
#include "scene/gltf_pack_parts.h"

#include <cstdio>

namespace gltfpack {

void writeDump(const WrittenBlob& packed, const char* csvPath) {
    const uint8_t* blob = packed.blob;
    int64_t size = packed.size;
    FILE* binary = std::fopen("gltf.expbin", "wb");
    if (binary == nullptr) fatalError("Could not write gltf.expbin from GLTF");
    bool written = std::fwrite(blob, 1, static_cast<size_t>(size), binary) == static_cast<size_t>(size);
    if (std::fclose(binary) != 0 || !written) fatalError("Could not write gltf.expbin from GLTF");

    FILE* csv = std::fopen(csvPath, "wb");
    if (csv == nullptr) fatalError("Could not write CSV from GLTF");
    constexpr size_t kFieldLimit = 32000;
    std::string bytesField, textField;
    auto emitSpan = [&](int64_t start, int64_t end, const std::string& label) {
        bytesField = ": ";
        static const char digits[] = "0123456789abcdef";
        for (int64_t i = start; i < end; ++i) {
            if (i > start) bytesField += ',';
            bytesField += digits[blob[i] >> 4];
            bytesField += digits[blob[i] & 15];
        }
        if (bytesField.size() > kFieldLimit) bytesField.resize(kFieldLimit);
        std::string printable;
        bool visible = false;
        for (int64_t i = start; i < end && (blob[i] == 0 || (blob[i] >= 0x20 && blob[i] <= 0x7E)); ++i) {
            printable += blob[i] == 0 ? ' ' : static_cast<char>(blob[i]);
            visible = visible || blob[i] != 0;
        }
        textField = visible ? "  (Text:" + printable + ")" : "";
        if (textField.size() > kFieldLimit) textField.resize(kFieldLimit);
        std::fprintf(csv, "%4.4d,\"$ %4.4x\", \"%s\",\"%s%s\"\n", static_cast<int>(start),
                     static_cast<unsigned>(start), label.c_str(), bytesField.c_str(), textField.c_str());
    };
    std::string current = "start";
    int64_t spanStart = 0;
    for (const auto& [offset, label] : packed.labels) {
        if (offset >= size) break;
        if (offset == 0) { // a label of the blob's first byte (the large form's) names it from the start
            current = label;
            continue;
        }
        emitSpan(spanStart, offset, current);
        current = label;
        spanStart = offset;
    }
    emitSpan(spanStart, size, current);
    if (std::fclose(csv) != 0) fatalError("Could not write CSV from GLTF");
}

} // namespace gltfpack
