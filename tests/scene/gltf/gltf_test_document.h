// Builds small glTF documents for the packer tests: binary data goes into one buffer that is
// embedded as a base64 "data:" URI (or a .glb binary chunk), and the caller writes the rest of
// the JSON by hand.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

std::string base64Encode(const std::vector<uint8_t>& bytes);

class TestDocument {
public:
    // Each returns the new accessor's index; data gets its own buffer view.
    int addFloats(const std::vector<float>& values, const char* type);
    int addShorts(const std::vector<uint16_t>& values);
    // Raw bytes (an image, say) in a buffer view of their own; returns the view's index.
    int addView(const std::vector<uint8_t>& bytes);
    // Integer attribute data (KHR_mesh_quantization) of component type 5120 to 5123, each element
    // padded to 4 bytes with byteStride as glTF asks of vertex attributes.
    int addIntegers(const std::vector<int32_t>& values, int componentType, int components, bool normalized);
    // A SCALAR index list of component type 5121, 5123 or 5125.
    int addIndices(const std::vector<uint32_t>& values, int componentType);
    // The triangle (0,0,0), (1,0,0), (0,1,0) facing +z, indices 0, 1, 2 (and texture coordinates):
    // returns its primitive's members, see primitiveMembers.
    std::string addTriangle(bool texcoords = false);
    // Several float attributes interleaved in one buffer view with byteStride; returns their accessors.
    std::vector<int> addInterleaved(const std::vector<std::vector<float>>& attributes,
                                    const std::vector<int>& components);

    // Appends `members` (comma-led JSON) to accessor `index`; withoutView also drops its buffer view.
    void extendAccessor(int index, const std::string& members, bool withoutView = false);

    // The whole document: buffers, bufferViews and accessors, then `rest` (comma-led members or
    // empty) inside the same root object.
    std::string json(const std::string& rest) const;
    // A binary container with the JSON chunk and the data as its binary chunk.
    std::vector<uint8_t> glb(const std::string& rest) const;

    const std::vector<uint8_t>& data() const { return data_; }

private:
    std::string views(bool embedded) const;
    void align4();

    std::vector<uint8_t> data_;
    std::vector<std::string> views_;
    std::vector<std::string> accessors_;
};

// Little-endian byte list for the expected blobs.
class ByteList {
public:
    ByteList& u8(uint8_t v);
    ByteList& u16(uint16_t v);
    ByteList& u32(uint32_t v);
    ByteList& i32(int32_t v) { return u32(static_cast<uint32_t>(v)); }
    ByteList& f32(float v);
    ByteList& text(const std::string& s); // with its NUL
    ByteList& zeros(size_t n);
    // Relative reference written at the current offset, pointing at `target`.
    ByteList& reference(int32_t target) { return i32(target - static_cast<int32_t>(bytes.size())); }
    size_t size() const { return bytes.size(); }

    std::vector<uint8_t> bytes;
};

std::vector<uint8_t> blobBytes(const void* blob, int size);

// The members "indices" and "attributes" of a primitive's JSON; texcoord -1 leaves TEXCOORD_0 out.
std::string primitiveMembers(int indices, int position, int normal, int texcoord = -1);
