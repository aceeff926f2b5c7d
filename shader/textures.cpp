// Buffer and texture uploads, device-only buffer growth, and the texture handle layer.
#include "shader/shader.h"

#include "app/console.h"
#include "platform/gl.h"

#include <cstring>

// ---- Upload of buffer records ----

void uploadBuffer(BufferRecord* buffer, uint32_t target) {
    if (buffer->pending == 0) return;
    if (buffer->glBuffer == 0) glGenBuffers(1, &buffer->glBuffer);
    glBindBuffer(target, buffer->glBuffer);
    const GLsizeiptr elementSize = buffer->elementSize;
    if (buffer->glCapacity != 0 && buffer->glCapacity >= buffer->elementCount) {
        // Never read past the elements in use, whatever a writer left in pending.
        int32_t pending = buffer->pending < buffer->elementCount ? buffer->pending : buffer->elementCount;
        glBufferSubData(target, 0, elementSize * pending, buffer->hostData);
    } else {
        buffer->glCapacity = buffer->elementCount;
        glBufferData(target, elementSize * buffer->elementCount, buffer->hostData, GL_DYNAMIC_DRAW);
    }
    buffer->pending = 0;
}

// ---- Device-only buffers ----

uint32_t reserveDeviceBuffer(BufferRecord* buffer, int32_t count) {
    if (count < 0) fatalErrorFormat("reserveDeviceBuffer: negative element count %d", count);
    if (buffer->elementSize == 0) buffer->elementSize = 32;
    const int64_t bytes = static_cast<int64_t>(buffer->elementSize) * count;
    if (bytes > buffer->glCapacity) {
        constexpr int64_t kStep = 8192;
        int64_t capacity = bytes < kStep ? kStep : static_cast<int64_t>(static_cast<double>(bytes) * 1.3);
        capacity = (capacity + kStep - 1) / kStep * kStep;
        if (capacity > INT32_MAX) {
            fatalErrorFormat(
                "reserveDeviceBuffer: %d elements of %d bytes exceed the 2 GiB a buffer may hold", count,
                buffer->elementSize);
        }
        GLuint grown = 0;
        glGenBuffers(1, &grown);
        glBindBuffer(GL_COPY_WRITE_BUFFER, grown);
        glBufferData(GL_COPY_WRITE_BUFFER, capacity, nullptr, GL_DYNAMIC_COPY);
        if (buffer->glBuffer != 0 && buffer->glCapacity != 0) {
            // Shaders may just have written the old store as a storage buffer (the vertex stages
            // capture triangles into it); the copy must see those writes.
            glMemoryBarrier(GL_BUFFER_UPDATE_BARRIER_BIT);
            glBindBuffer(GL_COPY_READ_BUFFER, buffer->glBuffer);
            glCopyBufferSubData(GL_COPY_READ_BUFFER, GL_COPY_WRITE_BUFFER, 0, 0, buffer->glCapacity);
            glBindBuffer(GL_COPY_READ_BUFFER, 0);
        }
        glBindBuffer(GL_COPY_WRITE_BUFFER, 0);
        if (buffer->glBuffer != 0) glDeleteBuffers(1, &buffer->glBuffer);
        buffer->glBuffer = grown;
        buffer->glCapacity = static_cast<int32_t>(capacity);
    }
    buffer->elementCount = count;
    return buffer->glBuffer;
}

// ---- Texture handles ----

namespace {

struct TextureSlotTable {
    GLuint textures[kTextureSlotCount] = {};
    int used = 0;
};
TextureSlotTable slotTable;

// A handle for a newly created texture: the resident bindless handle, or 1 + a table slot.
uint64_t makeTextureHandle(TextureRecord* texture) {
    if (textureHandleMode() == TextureHandleMode::bindless) {
        uint64_t handle = glGetTextureHandleARB(texture->glTexture);
        if (handle != 0) glMakeTextureHandleResidentARB(handle);
        return handle;
    }
    if (slotTable.used == kTextureSlotCount) {
        fatalErrorFormat("Texture slots: all %d are taken; texture %d (%dx%d %.12s) gets no handle",
                         kTextureSlotCount, texture->glTexture, texture->width, texture->height,
                         texture->label);
    }
    slotTable.textures[slotTable.used] = texture->glTexture;
    return static_cast<uint64_t>(++slotTable.used);
}

} // namespace

TextureHandleMode textureHandleMode() {
    static const TextureHandleMode mode = hasExtension("GL_ARB_bindless_texture") &&
                                                  glGetTextureHandleARB != nullptr &&
                                                  glMakeTextureHandleResidentARB != nullptr
                                              ? TextureHandleMode::bindless
                                              : TextureHandleMode::slotTable;
    return mode;
}

uint32_t textureSlotTexture(int slot) {
    return slot >= 0 && slot < slotTable.used ? slotTable.textures[slot] : 0;
}

int textureSlotsInUse() {
    return slotTable.used;
}

// ---- Texture upload ----

namespace {

// Level `w` x `h` at `level` becomes the next level right behind it: each texel the average
// of a 2 x 2 block, each term losing its two low bits per channel. Odd sizes drop their last
// row or column, so no read leaves the level.
void buildNextLevel(const uint32_t* level, int w, int h, uint32_t* next) {
    const int nextWidth = w / 2, nextHeight = h / 2;
    for (int y = 0; y < nextHeight; ++y) {
        const uint32_t* row = level + static_cast<size_t>(2 * y) * w;
        const uint32_t* below = row + w;
        for (int x = 0; x < nextWidth; ++x) {
            next[static_cast<size_t>(y) * nextWidth + x] =
                ((row[2 * x] >> 2) & 0x3f3f3f3fu) + ((row[2 * x + 1] >> 2) & 0x3f3f3f3fu) +
                ((below[2 * x] >> 2) & 0x3f3f3f3fu) + ((below[2 * x + 1] >> 2) & 0x3f3f3f3fu);
        }
    }
}

} // namespace

void uploadTexture(TextureRecord* texture) {
    bool created = false;
    if (texture->glTexture == 0) {
        glGenTextures(1, &texture->glTexture);
        glBindTexture(GL_TEXTURE_2D, texture->glTexture);
        texture->dirty = 1;
        created = true;
    } else {
        glBindTexture(GL_TEXTURE_2D, texture->glTexture);
        if (!texture->dirty) return;
    }

    if (texture->uploadWidth < 0 || texture->uploadHeight < 0) {
        fatalErrorFormat("uploadTexture: texture %.12s has a negative size %dx%d", texture->label,
                         texture->uploadWidth, texture->uploadHeight);
    }
    const GLint internalFormat =
        texture->internalFormat != 0 ? static_cast<GLint>(texture->internalFormat) : GL_RGBA;
    int w = texture->uploadWidth, h = texture->uploadHeight;
    size_t offset = 0;
    int level = 0;
    for (;; ++level) {
        const uint32_t* pixels = texture->pixels != nullptr ? texture->pixels + offset : nullptr;
        glTexImage2D(GL_TEXTURE_2D, level, internalFormat, w, h, 0, GL_BGRA, GL_UNSIGNED_BYTE, pixels);
        // Without texels there is nothing to build the next levels from.
        if (pixels == nullptr || w / 2 == 0 || h / 2 == 0) break;
        buildNextLevel(texture->pixels + offset, w, h, texture->pixels + offset + static_cast<size_t>(w) * h);
        offset += static_cast<size_t>(w) * h;
        w /= 2;
        h /= 2;
    }
    // The chain stops before 1 x 1 for non-square sizes; limiting the levels keeps such a
    // texture complete (an incomplete one samples black and gets no bindless handle).
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, level);
    texture->dirty = 0;
    if (created) texture->bindlessHandle = makeTextureHandle(texture);
}
