// The key functions before any window exists: the same answer on every system, at once.
#include "platform/window.h"

#include <gtest/gtest.h>

TEST(Keys, WithoutAWindowNothingIsPendingAndNextKeyAnswersEscape) {
    EXPECT_EQ(pendingKeyCount(), 0);
    EXPECT_EQ(nextKey(), 27); // a loop waiting for a key that cannot come would end in the timeout
}
