#include "app/demo.h"

#include "app/command_line.h"
#include "app/console.h"
#include "app/matrix.h"
#include "app/timeline.h"
#include "archive/archive.h"
#include "audio/music.h"
#include "store/store.h"

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

namespace {

// ---- Start-up ----

std::string executablePathBuffer;

} // namespace

Variable* requireDemoFile(const char* name) {
    Variable* file = getVariable(name, 0);
    if (file == nullptr) {
        fatalErrorFormat("%s was found neither in the asset archive nor in the working directory", name);
    }
    return file;
}

void loadDemoArchive(int argc, char** argv) {
    consoleLog("Demo start\n");
    executablePathBuffer = executablePath();
    const char* dataPath = dataPathFromArguments(argc, argv, executablePathBuffer.c_str());
    loadArchive(dataPath, [](const char* name, uint32_t size, const void* bytes) {
        putFileVariable(name, size, bytes);
    });
}

TimeSource* startDemoMusic() {
    Variable* tune = requireDemoFile("tune.ogg");
    const auto* bytes = static_cast<const unsigned char*>(variableData(currentVariable(tune)));
    PortAudioOgg* player = createOggPlayer(bytes, static_cast<int32_t>(tune->dataSize));
    player->setPlaying(false);
    consoleLog("Tune done\n");
    return player;
}

int runDemo(int argc, char** argv) {
    loadDemoArchive(argc, argv);
    TimeSource* music = startDemoMusic();
    music->setPlaying(false);
    return 0;
}
