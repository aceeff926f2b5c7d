// The music player's fatal paths in the Windows build, each in a death test (a child process
// of its own under Wine): the "Fatal Error:" line and the exit code -1. The player writes the
// line to standard output; the child sends standard output to standard error, which the death
// test reads. The second player opens the real default device: WMME on Wine's sound driver.

#include "audio/music.h"
#include "tests/support/fatal_exit.h"
#include "tests/support/files.h"

#include <gtest/gtest.h>

#include <io.h>

#include <cstdio>
#include <string>

namespace {

std::string testFile(const char* name) {
    std::string bytes = readFile(std::string(AUDIO_TEST_FILE_DIR) + "/" + name);
    EXPECT_FALSE(bytes.empty()) << name << " is missing";
    return bytes;
}

void createFrom(const std::string& bytes) {
    std::fflush(stdout);
    _dup2(2, 1);
    createOggPlayer(bytes.data(), static_cast<uint32_t>(bytes.size()));
}

struct FatalCase {
    const char* file;    // test file, or null for the bytes below
    const char* bytes;   // used when `file` is null
    const char* message; // what follows "Fatal Error:"
};

constexpr FatalCase fatalCases[] = {
    {nullptr, "no Ogg at all, only text", "OGG not seekable"},
    {nullptr, "", "OGG not seekable"},
    {"mono48k.ogg", nullptr, "Cannot use mono channel vorbis files at this time"},
    {"six48k.ogg", nullptr, "Cannot use mono channel vorbis files at this time"},
    {"chained_rates.ogg", nullptr, "Different samplerates detected inside file"},
};

} // namespace

TEST(MusicFatalOnWindows, FilesThePlayerCannotPlay) {
    for (const FatalCase& fatal : fatalCases) {
        std::string bytes = fatal.file != nullptr ? testFile(fatal.file) : std::string(fatal.bytes);
        SCOPED_TRACE(fatal.file != nullptr ? fatal.file : fatal.bytes);
        EXPECT_EXIT(createFrom(bytes), ::testing::ExitedWithCode(kFatalExitStatus),
                    std::string("Fatal Error:") + fatal.message);
    }
}

TEST(MusicFatalOnWindows, ASecondPlayerAfterOneThatPlaysOnTheDefaultDevice) {
    std::string bytes = testFile("short48k.ogg");
    auto twoPlayers = [&] {
        std::fflush(stdout);
        _dup2(2, 1);
        TimeSource* first = createOggPlayer(bytes.data(), static_cast<uint32_t>(bytes.size()));
        if (first != nullptr && oggPlayer() == first && first->isPlaying())
            std::printf("first player playing\n");
        std::fflush(stdout);
        createOggPlayer(bytes.data(), static_cast<uint32_t>(bytes.size()));
    };
    EXPECT_EXIT(twoPlayers(), ::testing::ExitedWithCode(kFatalExitStatus),
                "first player playing\nFatal Error:Ogg player already exists");
}
