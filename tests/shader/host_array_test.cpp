// The one growth rule for buffer host arrays: contents kept, new room zeroed, counts set,
// and only arrays it made itself are ever freed.
#include "shader/shader_source.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

// BufferRecord is packed: its pointer is read by value, never bound to a reference.
void* hostDataOf(const BufferRecord& buffer) {
    return buffer.hostData;
}

TEST(HostArray, GrowsKeepingContentsAndZeroingNewRoom) {
    BufferRecord buffer{};
    growHostArray(&buffer, 3, 4);
    EXPECT_EQ(buffer.elementSize, 4);
    EXPECT_EQ(buffer.hostCapacity, 3);
    EXPECT_EQ(buffer.elementCount, 3);
    EXPECT_EQ(buffer.pending, 3);
    auto* values = static_cast<int32_t*>(buffer.hostData);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(values[i], 0);
    values[0] = 11, values[2] = 33;

    growHostArray(&buffer, 6, 4);
    values = static_cast<int32_t*>(buffer.hostData);
    EXPECT_EQ(buffer.hostCapacity, 6);
    EXPECT_EQ(values[0], 11);
    EXPECT_EQ(values[2], 33);
    for (int i = 3; i < 6; ++i) EXPECT_EQ(values[i], 0) << "element " << i;

    // Shrinking the count keeps the array and its capacity; the counts follow the request.
    void* before = buffer.hostData;
    growHostArray(&buffer, 2, 4);
    EXPECT_EQ(hostDataOf(buffer), before);
    EXPECT_EQ(buffer.hostCapacity, 6);
    EXPECT_EQ(buffer.elementCount, 2);
    EXPECT_EQ(buffer.pending, 2);

    freeHostArray(&buffer);
    EXPECT_EQ(hostDataOf(buffer), nullptr);
    EXPECT_EQ(buffer.hostCapacity, 0);
}

TEST(HostArray, AnArrayTheOwnerPutThereIsCopiedAndLeftAlone) {
    std::vector<int32_t> owned = {7, 8};
    BufferRecord buffer{};
    buffer.elementSize = 4;
    buffer.hostCapacity = 2;
    buffer.hostData = owned.data();

    freeHostArray(&buffer); // not made by growHostArray: nothing happens
    EXPECT_EQ(hostDataOf(buffer), static_cast<void*>(owned.data()));

    growHostArray(&buffer, 4, 4);
    ASSERT_NE(hostDataOf(buffer), static_cast<void*>(owned.data()));
    auto* values = static_cast<int32_t*>(buffer.hostData);
    EXPECT_EQ(values[0], 7);
    EXPECT_EQ(values[1], 8);
    EXPECT_EQ(values[3], 0);
    owned[0] = 70; // still the caller's, still writable
    EXPECT_EQ(values[0], 7);
    freeHostArray(&buffer);
}

TEST(HostArray, AnExistingElementSizeWinsAndAnEmptyRequestAllocatesNothing) {
    BufferRecord buffer{};
    buffer.elementSize = 16;
    growHostArray(&buffer, 0, 4);
    EXPECT_EQ(hostDataOf(buffer), nullptr);
    EXPECT_EQ(buffer.elementSize, 16);
    growHostArray(&buffer, 2, 4);
    ASSERT_NE(hostDataOf(buffer), nullptr);
    auto* bytes = static_cast<unsigned char*>(buffer.hostData);
    for (int i = 0; i < 32; ++i) EXPECT_EQ(bytes[i], 0); // room for two 16-byte elements
    freeHostArray(&buffer);
}

} // namespace
