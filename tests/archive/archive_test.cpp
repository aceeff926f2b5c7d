#include "archive/archive.h"

#include "tests/support/files.h"
#ifndef _WIN32
#include "tests/support/process.h"
#endif
#include "zip_builder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <random>
#include <string>
#include <vector>

// ---- Allocation watch ----
// Every operator new of this program records its size, so a test can check that loading a file
// never asked for more memory than the reader's limits allow.

namespace {
std::atomic<size_t> largestAllocation{0};

void* watchedAllocation(size_t size) noexcept {
    size_t seen = largestAllocation.load();
    while (size > seen && !largestAllocation.compare_exchange_weak(seen, size)) {
    }
    return std::malloc(size > 0 ? size : 1);
}
void* watchedAllocationOrThrow(size_t size) {
    if (void* p = watchedAllocation(size)) return p;
    throw std::bad_alloc();
}
} // namespace

void* operator new(size_t size) {
    return watchedAllocationOrThrow(size);
}
void* operator new[](size_t size) {
    return watchedAllocationOrThrow(size);
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    return watchedAllocation(size);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    return watchedAllocation(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, size_t) noexcept {
    std::free(p);
}

namespace {

namespace fs = std::filesystem;

struct Delivered {
    std::string name;
    std::string bytes;
};

struct LoadResult {
    bool opened = false;
    std::vector<Delivered> members;
    std::string out; // standard output
    std::string err; // standard error
};

LoadResult load(const std::string& path) {
    LoadResult result;
    largestAllocation = 0;
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    result.opened = loadArchive(path.c_str(), [&](const char* name, uint32_t size, const void* bytes) {
        result.members.push_back({name, std::string(static_cast<const char*>(bytes), size)});
    });
    result.err = ::testing::internal::GetCapturedStderr();
    result.out = ::testing::internal::GetCapturedStdout();
    return result;
}

std::string scratchPath(const std::string& name) {
    static ScratchFolder folder("archive");
    return folder.file(name);
}

void writeBytes(const std::string& path, const std::vector<unsigned char>& bytes) {
    writeFile(path, std::string(bytes.begin(), bytes.end()));
}

std::string writeZip(const std::string& name, const std::vector<unsigned char>& bytes) {
    std::string path = scratchPath(name);
    writeBytes(path, bytes);
    return path;
}

std::string pseudoRandomText(size_t length, unsigned seed) {
    std::mt19937 random(seed);
    std::string text;
    const char* words[] = {"vec3 ", "float ", "light ", "cache ", "{\n", "}\n", "0.25, ", "normal "};
    while (text.size() < length) text += words[random() % 8];
    text.resize(length);
    return text;
}

const std::vector<ZipMemberSpec> sampleMembers = {
    {"util.glsl", pseudoRandomText(3000, 1), true},
    {"lighting.glsl", pseudoRandomText(500, 2), false},
    {"empty.txt", "", true},
    {"sub/dir/Name.BIN", std::string("\0\1\2\3\xff", 5), false},
};

void expectSampleMembers(const LoadResult& result) {
    ASSERT_EQ(result.members.size(), sampleMembers.size());
    for (size_t i = 0; i < sampleMembers.size(); ++i) {
        EXPECT_EQ(result.members[i].name, sampleMembers[i].name);
        EXPECT_EQ(result.members[i].bytes, sampleMembers[i].bytes) << sampleMembers[i].name;
    }
}

} // namespace

TEST(Archive, PlainZipDeliversMembersInDirectoryOrder) {
    LoadResult result = load(writeZip("plain.zip", buildZip(sampleMembers).bytes));
    EXPECT_TRUE(result.opened);
    expectSampleMembers(result);
    EXPECT_EQ(result.out, "file:util.glsl found\nput to system!"
                          "file:lighting.glsl found\nput to system!"
                          "file:empty.txt found\nput to system!"
                          "file:sub/dir/Name.BIN found\nput to system!");
    EXPECT_EQ(result.err, "");
}

TEST(Archive, ZipAppendedToAProgramImageReadsTheSame) {
    std::vector<unsigned char> image(711680);
    std::mt19937 random(7);
    for (auto& byte : image) byte = static_cast<unsigned char>(random());
    // A stray end-record signature inside the prefix must not confuse the reader.
    image[1000] = 0x50, image[1001] = 0x4b, image[1002] = 0x05, image[1003] = 0x06;
    BuiltZip zip = buildZip(sampleMembers);
    image.insert(image.end(), zip.bytes.begin(), zip.bytes.end());
    LoadResult result = load(writeZip("appended.bin", image));
    EXPECT_TRUE(result.opened);
    expectSampleMembers(result);
}

TEST(Archive, MissingFileReportsAndReturnsFalse) {
    std::string path = scratchPath("does-not-exist.zip");
    LoadResult result = load(path);
    EXPECT_FALSE(result.opened);
    EXPECT_TRUE(result.members.empty());
    EXPECT_EQ(result.err, "COULD NOT OPEN:" + path + "\n");
}

TEST(Archive, FileWithoutZipReportsAndReturnsTrue) {
    std::vector<unsigned char> text(5000, 'x');
    std::string path = writeZip("no-zip.bin", text);
    LoadResult result = load(path);
    EXPECT_TRUE(result.opened);
    EXPECT_TRUE(result.members.empty());
    EXPECT_EQ(result.err, "could not open zilfile:" + path + "\n");
    EXPECT_EQ(result.out, "");

    LoadResult empty = load(writeZip("empty.bin", {}));
    EXPECT_TRUE(empty.opened);
    EXPECT_NE(empty.err.find("could not open zilfile:"), std::string::npos);
}

TEST(Archive, CorruptCentralDirectoryDeliversNothingWrong) {
    BuiltZip zip = buildZip(sampleMembers);
    // Central directory offset pointing past the end of the file.
    std::vector<unsigned char> pastEnd = zip.bytes;
    setLittle32(pastEnd, zip.endRecordOffset + 16, 0x7FFFFFF0u);
    LoadResult result = load(writeZip("cd-past-end.zip", pastEnd));
    EXPECT_TRUE(result.opened);
    EXPECT_TRUE(result.members.empty());
    EXPECT_NE(result.err.find("could not open zilfile:"), std::string::npos);

    // A broken signature on the second central entry ends the walk after the first member.
    std::vector<unsigned char> badEntry = zip.bytes;
    badEntry[zip.centralEntryOffsets[1]] = 'X';
    LoadResult partial = load(writeZip("cd-bad-entry.zip", badEntry));
    EXPECT_TRUE(partial.opened);
    ASSERT_LE(partial.members.size(), 1u);
    for (const Delivered& d : partial.members) EXPECT_EQ(d.bytes, sampleMembers[0].bytes);
}

TEST(Archive, BadLocalHeaderSkipsOnlyThatMember) {
    BuiltZip zip = buildZip(sampleMembers);
    zip.bytes[zip.localHeaderOffsets[1]] = 'Q';
    LoadResult result = load(writeZip("bad-local.zip", zip.bytes));
    ASSERT_EQ(result.members.size(), 3u);
    EXPECT_EQ(result.members[0].name, "util.glsl");
    EXPECT_EQ(result.members[1].name, "empty.txt");
    EXPECT_EQ(result.members[2].name, "sub/dir/Name.BIN");
    EXPECT_NE(result.out.find("file:lighting.glsl found\nfile:empty.txt found\nput to system!"),
              std::string::npos)
        << result.out;
}

TEST(Archive, CrcMismatchSkipsTheMember) {
    std::vector<ZipMemberSpec> members = {{"a.txt", pseudoRandomText(400, 3), true},
                                          {"b.txt", pseudoRandomText(400, 4), false}};
    for (int damaged = 0; damaged < 2; ++damaged) {
        BuiltZip zip = buildZip(members);
        // Flip a byte of the stored/deflated data (just after the 30-byte header and 5-byte name).
        zip.bytes[zip.localHeaderOffsets[damaged] + 30 + 5 + 10] ^= 0x20;
        LoadResult result = load(writeZip("crc.zip", zip.bytes));
        ASSERT_EQ(result.members.size(), 1u) << "damaged member " << damaged;
        EXPECT_EQ(result.members[0].name, members[1 - damaged].name);
        EXPECT_EQ(result.members[0].bytes, members[1 - damaged].bytes);
    }
}

TEST(Archive, MemberDataShorterThanItsRecordedSizeIsSkipped) {
    std::vector<ZipMemberSpec> members = {{"short.txt", pseudoRandomText(300, 5), false},
                                          {"next.txt", "fine", false}};
    BuiltZip zip = buildZip(members);
    // Claim 100 more bytes than the stored data holds, in both headers.
    for (size_t at : {zip.localHeaderOffsets[0] + 22, zip.centralEntryOffsets[0] + 24})
        setLittle32(zip.bytes, at, 400);
    LoadResult result = load(writeZip("short.zip", zip.bytes));
    ASSERT_EQ(result.members.size(), 1u);
    EXPECT_EQ(result.members[0].name, "next.txt");
}

TEST(Archive, ImplausibleUncompressedSizeIsSkippedWithoutAllocating) {
    std::vector<ZipMemberSpec> members = {{"bomb.txt", "tiny", true}, {"next.txt", "fine", false}};
    BuiltZip zip = buildZip(members);
    for (size_t at : {zip.localHeaderOffsets[0] + 22, zip.centralEntryOffsets[0] + 24})
        setLittle32(zip.bytes, at, 0xFFFFFFF0u);
    LoadResult result = load(writeZip("bomb.zip", zip.bytes));
    ASSERT_EQ(result.members.size(), 1u);
    EXPECT_EQ(result.members[0].name, "next.txt");
}

TEST(Archive, EveryTruncationEndsCleanly) {
    BuiltZip zip = buildZip(sampleMembers);
    std::string path = scratchPath("truncated.zip");
    for (size_t length = 0; length < zip.bytes.size(); length += 7) {
        writeBytes(path, std::vector<unsigned char>(zip.bytes.begin(), zip.bytes.begin() + length));
        LoadResult result = load(path);
        EXPECT_TRUE(result.opened);
        // The end record is gone, so no directory can be found.
        EXPECT_TRUE(result.members.empty()) << length;
    }
}

TEST(Archive, RandomDamageNeverDeliversWrongBytes) {
    BuiltZip zip = buildZip(sampleMembers);
    std::mt19937 random(11);
    std::string path = scratchPath("damaged.zip");
    for (int round = 0; round < 400; ++round) {
        std::vector<unsigned char> bytes = zip.bytes;
        int flips = 1 + static_cast<int>(random() % 4);
        for (int i = 0; i < flips; ++i) bytes[random() % bytes.size()] = static_cast<unsigned char>(random());
        writeBytes(path, bytes);
        LoadResult result = load(path);
        for (const Delivered& d : result.members) {
            // Whatever survives must be a real member with its real bytes (CRC-checked); a name
            // damaged in the central directory may still deliver correct data.
            bool matches = false;
            for (const ZipMemberSpec& m : sampleMembers) matches = matches || m.bytes == d.bytes;
            EXPECT_TRUE(matches) << "round " << round << " member " << d.name;
        }
    }
}

// Python and Info-ZIP through the shell: Linux only. Under Wine the demo program tests read an
// archive that Info-ZIP wrote.
#ifndef _WIN32
TEST(Archive, ZipFilesWrittenByOtherTools) {
    std::string dir = scratchPath("tools");
    fs::create_directories(dir + "/in");
    for (const ZipMemberSpec& m : sampleMembers) {
        fs::create_directories(fs::path(dir + "/in/" + m.name).parent_path());
        writeFile(dir + "/in/" + m.name, m.bytes);
    }
    int pythonStatus = runShell("cd '" + dir +
                                "/in' && python3 -c \"import zipfile,sys\n"
                                "with zipfile.ZipFile('../python.zip','w') as z:\n"
                                " z.write('util.glsl',compress_type=zipfile.ZIP_DEFLATED)\n"
                                " z.write('lighting.glsl',compress_type=zipfile.ZIP_STORED)\n"
                                " z.write('empty.txt',compress_type=zipfile.ZIP_DEFLATED)\n"
                                " z.write('sub/dir/Name.BIN')\n\"");
    ASSERT_EQ(pythonStatus, 0);
    expectSampleMembers(load(dir + "/python.zip"));

    if (runShell("command -v zip") != 0) GTEST_SKIP() << "Info-ZIP zip is not installed";
    // -D: no directory entries, so the members are exactly the files.
    int zipStatus = runShell("cd '" + dir +
                             "/in' && zip -q -D ../infozip.zip util.glsl && "
                             "zip -q -D -0 ../infozip.zip lighting.glsl && "
                             "zip -q -D ../infozip.zip empty.txt sub/dir/Name.BIN");
    ASSERT_EQ(zipStatus, 0);
    expectSampleMembers(load(dir + "/infozip.zip"));
}
#endif

// ---- Limits: names, file kinds and sizes ----

TEST(Archive, NameThatFillsTheNameBufferIsSkippedByIndex) {
    // The reader's name buffer holds 4000 bytes; a name that fills it is left unterminated.
    struct Case {
        size_t nameLength;
        bool delivered;
    } cases[] = {{3999, true}, {4000, false}, {4500, false}};
    for (const Case& c : cases) {
        std::string longName(c.nameLength, 'n');
        LoadResult result = load(writeZip(
            "long-name.zip",
            buildZip({{"a.txt", "first", true}, {longName, "middle", false}, {"c.txt", "last", true}})
                .bytes));
        std::vector<std::string> expected = {"a.txt", "c.txt"};
        if (c.delivered) expected.insert(expected.begin() + 1, longName);
        ASSERT_EQ(result.members.size(), expected.size()) << c.nameLength;
        for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(result.members[i].name, expected[i]);
        std::string line =
            "member 1: its name of " + std::to_string(c.nameLength) + " bytes is too long; skipped\n";
        EXPECT_EQ(result.out.find(line) != std::string::npos, !c.delivered) << c.nameLength;
    }
}

// FIFOs and device files: POSIX only.
#ifndef _WIN32
TEST(Archive, DirectoriesFifosAndDevicesReadAsFilesWithoutArchive) {
    std::string directory = scratchPath("a-directory.zip");
    std::filesystem::create_directories(directory);
    std::string fifo = scratchPath("a-fifo.zip");
    std::filesystem::remove(fifo);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // /dev/zero never ends: a reader that reads to the end runs out of memory.
    for (const std::string& path : {directory, fifo, std::string("/dev/zero"), std::string("/dev/null")}) {
        LoadResult result = load(path);
        EXPECT_TRUE(result.opened) << path;
        EXPECT_TRUE(result.members.empty()) << path;
        EXPECT_EQ(result.err, "could not open zilfile:" + path + "\n");
        EXPECT_EQ(result.out, "archive " + path + " is not a regular file\n");
        EXPECT_LT(largestAllocation.load(), size_t{1} << 20) << path;
    }
}
#endif

TEST(Archive, MemberClaimingGigabytesIsSkippedWithoutAllocating) {
    // 4 MB of stored data whose headers claim nearly 4 GB: plausible for deflate's ratio, so only
    // an explicit limit keeps the reader from allocating it.
    std::string data = pseudoRandomText(4 << 20, 9);
    BuiltZip zip = buildZip({{"huge.bin", data, false}, {"next.txt", "fine", false}});
    for (size_t at : {zip.localHeaderOffsets[0] + 22, zip.centralEntryOffsets[0] + 24})
        setLittle32(zip.bytes, at, 0xFFFFF000u);
    LoadResult result = load(writeZip("huge.zip", zip.bytes));
    ASSERT_EQ(result.members.size(), 1u);
    EXPECT_EQ(result.members[0].name, "next.txt");
    EXPECT_NE(
        result.out.find("file:huge.bin claims 4294963200 bytes, more than a member may hold; skipped\n"),
        std::string::npos)
        << result.out;
    EXPECT_LT(largestAllocation.load(), size_t{64} << 20);
}

TEST(Archive, MembersPastTheDeliveryLimitAreSkipped) {
    // Four members of 64 MiB (the most one may hold) fill the 256 MiB the archive may deliver.
    std::string block(size_t{64} << 20, '\0');
    std::vector<ZipMemberSpec> members;
    for (int i = 0; i < 5; ++i) members.push_back({"block" + std::to_string(i) + ".bin", block, true});
    members.push_back({"small.txt", "tiny", false});
    std::string path = writeZip("many-blocks.zip", buildZip(members).bytes);
    std::vector<std::pair<std::string, uint32_t>> delivered;
    ::testing::internal::CaptureStdout();
    loadArchive(path.c_str(),
                [&](const char* name, uint32_t size, const void*) { delivered.emplace_back(name, size); });
    std::string out = ::testing::internal::GetCapturedStdout();
    ASSERT_EQ(delivered.size(), 4u);
    for (const auto& [name, size] : delivered) EXPECT_EQ(size, 64u << 20) << name;
    EXPECT_NE(
        out.find("file:block4.bin claims 67108864 bytes, more than the archive may still deliver; skipped\n"),
        std::string::npos);
    EXPECT_NE(out.find("file:small.txt claims 4 bytes, more than the archive may still deliver; skipped\n"),
              std::string::npos);
}

TEST(Archive, FileLargerThanTheImageLimitIsNotRead) {
    std::string path = scratchPath("sparse.zip");
    { std::ofstream create(path); }
    ASSERT_EQ(truncate(path.c_str(), (off_t{256} << 20) + 1), 0); // sparse: no disk used
    LoadResult result = load(path);
    EXPECT_TRUE(result.opened);
    EXPECT_EQ(result.err, "could not open zilfile:" + path + "\n");
    EXPECT_EQ(result.out,
              "archive " + path + " is 268435457 bytes, more than the 268435456 an archive may hold\n");
    EXPECT_LT(largestAllocation.load(), size_t{1} << 20);
    std::filesystem::remove(path);
}
