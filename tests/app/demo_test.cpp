// The demo program itself, run as a child process: its archive, its start-up lines, its end.

#include "child_process.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>

namespace {

namespace fs = std::filesystem;

const std::string demoProgram = std::string(NOVA31_BINARY_DIR) + "/nova31";

std::string scratchFolder(const std::string& name) {
    fs::path dir = fs::temp_directory_path() / ("nova31-demo-" + std::to_string(::getpid())) / name;
    fs::create_directories(dir);
    return dir.string();
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

[[maybe_unused]] size_t countOf(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size()))
        ++count;
    return count;
}

// Positions of `lines` in `text`, which must appear in this order.
[[maybe_unused]] void expectInOrder(const std::string& text, const std::vector<std::string>& lines) {
    size_t from = 0;
    for (const std::string& line : lines) {
        size_t at = text.find(line, from);
        ASSERT_NE(at, std::string::npos) << "missing or out of order: \"" << line << "\"\n"
                                         << text.substr(0, 3000);
        from = at + line.size();
    }
}

} // namespace

TEST(DemoProgram, DataArgumentReadsThatArchiveAndTheLastOneWins) {
    std::string dir = scratchFolder("data-argument");
    writeFile(dir + "/a.txt", "first member");
    writeFile(dir + "/b.txt", "second");
    ASSERT_EQ(std::system(
                  ("cd '" + dir + "' && rm -f x.zip && zip -q x.zip a.txt b.txt && rm a.txt b.txt").c_str()),
              0);
    ChildResult run = runChild({demoProgram, "-data:nowhere.zip", "-data:", "-data:x.zip"}, dir, 30);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(
        run.out.rfind("Demo start\nfile:a.txt found\nput to system!file:b.txt found\nput to system!", 0), 0u)
        << run.out;
    // The archive holds no music and the folder no tune.ogg: a fatal error names the file.
    EXPECT_EQ(run.exitCode, 255);
    EXPECT_NE(run.err.find("tune.ogg"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("COULD NOT OPEN"), std::string::npos) << "the earlier -data: must be ignored";
}

TEST(DemoProgram, MissingArchiveFileIsReportedAndFilesAreLookedForOnDisk) {
    std::string dir = scratchFolder("missing-archive");
    ChildResult run = runChild({demoProgram, "-data:absent.zip"}, dir, 30);
    EXPECT_NE(run.err.find("COULD NOT OPEN:absent.zip\n"), std::string::npos) << run.err;
    EXPECT_EQ(run.exitCode, 255);
    EXPECT_NE(run.err.find("tune.ogg"), std::string::npos) << run.err;
}
