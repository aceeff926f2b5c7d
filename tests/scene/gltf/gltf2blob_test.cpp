// The gltf2blob tool, run as a child process like a scene author runs it.
#include "gltf_test_document.h"
#include "tests/support/files.h"
#include "tests/support/process.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace {

namespace fs = std::filesystem;

struct ToolRun {
    int status = -1;
    std::string output; // standard output and standard error
};

ToolRun runTool(const fs::path& workingDirectory, const std::string& arguments) {
    ToolRun run;
    run.status =
        runShell("cd '" + workingDirectory.string() + "' && '" NOVA31_BINARY_DIR "/gltf2blob' " + arguments,
                 &run.output);
    return run;
}

class Gltf2Blob : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = scratch_.path();
        fs::create_directories(root_ / "scene");
        fs::create_directories(root_ / "out");
        // A document whose buffer is a file beside it, not in the working directory.
        TestDocument doc;
        std::string json = doc.json(R"(,"scenes":[{"nodes":[0]}],"nodes":[{"name":"n","mesh":0}],"meshes":[{)"
                                    R"("primitives":[{)" +
                                    doc.addTriangle() + "}]}]");
        size_t start = json.find("data:");
        json.replace(start, json.find('"', start) - start, "hall_beside.bin");
        writeFile(root_ / "scene" / "hall.gltf", json);
        writeFile(root_ / "scene" / "hall_beside.bin", std::string(doc.data().begin(), doc.data().end()));
    }
    ScratchFolder scratch_;
    fs::path root_;
};

TEST_F(Gltf2Blob, PacksWritesTheDumpAndSummarises) {
    ToolRun run = runTool(root_ / "out", (root_ / "scene" / "hall.gltf").string());
    ASSERT_EQ(run.status, 0) << run.output;
    std::string blob = readFile((root_ / "out" / "gltf.expbin").string());
    ASSERT_FALSE(blob.empty());
    std::string summary =
        "hall.gltf: 1 nodes, 1 primitives, 3 accessors, 0 channels, 1 materials, 0 lights, " +
        std::to_string(blob.size()) + " bytes, compact form\n";
    EXPECT_NE(run.output.find(summary), std::string::npos) << run.output;
    std::string listing = readFile((root_ / "out" / "hall.csv").string());
    EXPECT_EQ(listing.rfind("0000,\"$ 0000\", \"start\",\": 09,00\"\n", 0), 0u) << listing;
    EXPECT_NE(listing.find("\"Text:n\""), std::string::npos);
}

TEST_F(Gltf2Blob, ListingPathCanBeGiven) {
    ToolRun run = runTool(root_ / "out", (root_ / "scene" / "hall.gltf").string() + " listing.csv");
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_FALSE(readFile((root_ / "out" / "listing.csv").string()).empty());
    EXPECT_FALSE(fs::exists(root_ / "out" / "hall.csv"));
}

TEST_F(Gltf2Blob, RejectedFileEndsWithItsMessage) {
    fs::remove(root_ / "scene" / "hall_beside.bin");
    ToolRun run = runTool(root_ / "out", (root_ / "scene" / "hall.gltf").string());
    EXPECT_EQ(run.status, 255);
    EXPECT_NE(run.output.find("glTF: buffer 0 \"hall_beside.bin\" is neither an archive member nor a file"),
              std::string::npos)
        << run.output;
    EXPECT_EQ(runTool(root_ / "out", "no-such-file.gltf").status, 255);
}

TEST_F(Gltf2Blob, FileThatIsNotValidJsonIsPackedAsFarAsReadButFails) {
    struct Unreadable {
        const char* what;
        std::string bytes;
        const char* warning;
    };
    const Unreadable cases[] = {
        {"empty", "", "glTF: the input (0 bytes) is neither JSON text nor a binary glTF container"},
        {"broken", "{]", "glTF: the JSON text is not valid (the reader stopped at byte 1 of 2)"},
        {"cut off", R"({"scenes":[{"nodes":[0]}],"nodes":[{"name":"A"})", "glTF: the JSON text is not valid"},
        {"bad magic", std::string("gltF\2\0\0\0\24\0\0\0", 12) + "{}",
         "glTF: the input (14 bytes) is neither JSON text nor a binary glTF container"},
    };
    for (const Unreadable& c : cases) {
        ASSERT_TRUE(writeFile(root_ / "scene" / "bad.gltf", c.bytes)) << c.what;
        ToolRun run = runTool(root_ / "out", (root_ / "scene" / "bad.gltf").string());
        EXPECT_EQ(run.status, 1) << c.what << "\n" << run.output;
        EXPECT_NE(run.output.find(c.warning), std::string::npos) << c.what << "\n" << run.output;
        EXPECT_NE(run.output.find("is not a valid glTF document; the blob holds only what was read"),
                  std::string::npos)
            << c.what << "\n"
            << run.output;
    }
}

} // namespace
