#include "app/command_line.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {
std::vector<char*>& argumentsOf(std::vector<std::string> arguments) {
    static std::vector<std::string> storage;
    static std::vector<char*> pointers;
    storage = std::move(arguments);
    storage.insert(storage.begin(), "nova31");
    pointers.clear();
    for (std::string& s : storage) pointers.push_back(s.data());
    return pointers;
}

const char* pathFor(std::vector<std::string> arguments) {
    std::vector<char*>& argv = argumentsOf(std::move(arguments));
    return dataPathFromArguments(static_cast<int>(argv.size()), argv.data(), "SELF");
}

CameraChoice cameraFor(std::vector<std::string> arguments) {
    std::vector<char*>& argv = argumentsOf(std::move(arguments));
    return cameraFromArguments(static_cast<int>(argv.size()), argv.data());
}
} // namespace

TEST(CommandLine, DataArgumentSelectsTheArchive) {
    EXPECT_STREQ(pathFor({}), "SELF");
    EXPECT_STREQ(pathFor({"-data:x.zip"}), "x.zip");
    EXPECT_STREQ(pathFor({"-data:a.zip", "other", "-data:b.zip"}), "b.zip");
    EXPECT_STREQ(pathFor({"-data:"}), "SELF");
    EXPECT_STREQ(pathFor({"-data:a.zip", "-data:"}), "a.zip");
    EXPECT_STREQ(pathFor({"-DATA:x.zip", "data:x.zip", " -data:x"}), "SELF");
    EXPECT_STREQ(pathFor({"-data:-data:y"}), "-data:y");
}

TEST(CommandLine, CameraFitOptionChoosesTheFramingCamera) {
    EXPECT_EQ(cameraFor({}), CameraChoice::orbit);
    EXPECT_EQ(cameraFor({"-data:x.zip", "-camera:fit"}), CameraChoice::fit);
    EXPECT_EQ(cameraFor({"-camera:fitted", "-camera:", "-CAMERA:fit", "camera:fit"}), CameraChoice::orbit);
}

TEST(CommandLine, ExecutablePathNamesThisTestProgram) {
    std::string path = executablePath();
    ASSERT_FALSE(path.empty());
    EXPECT_TRUE(std::filesystem::is_regular_file(path)) << path;
    EXPECT_EQ(std::filesystem::path(path).stem(), "app_tests") << path;
#ifndef _WIN32
    EXPECT_TRUE(std::filesystem::equivalent(path, "/proc/self/exe"));
#endif
}
