/* files.h — scratch folders and whole-file reads and writes for the tests.

       ScratchFolder folder("gltf");                 // /tmp/nova31-gltf-XXXXXX, removed at scope end
       writeFile(folder.path() / "a.txt", "bytes");
       std::string back = readFile(folder.path() / "a.txt");

   Failures to read give an empty string (tests compare contents, so a missing file shows). */
#pragma once

#include <filesystem>
#include <string>

// A fresh folder under the temporary directory, removed with everything in it when this goes.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& stem = "test");
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string string() const { return path_.string(); }
    // A path inside the folder.
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// The whole file as bytes; empty when it cannot be read.
std::string readFile(const std::filesystem::path& path);

// Writes `bytes` as the whole file (created or truncated); false when it cannot be written.
bool writeFile(const std::filesystem::path& path, const std::string& bytes);
