/* demo.h — the demo's start-up sequence and its frame, shared by nova31 and nova31-shot.

   runDemo is the whole program: start-up, main loop, shutdown. The steps are also offered one
   by one so that tools run the same start-up (for example without music) and draw single frames:

       loadDemoArchive(argc, argv);           // "Demo start", the archive into the store
       TimeSource* music = startDemoMusic();  // "tune.ogg", paused
       ...

   A file the demo cannot do without ("tune.ogg", "scene1.gltf") that is neither in the archive
   nor in the working directory ends the program through fatalError naming it. */
#pragma once

struct Variable;
class TimeSource;

// Start-up steps 1-3: "Demo start", the archive path ("-data:" or the executable), every
// member into the variable store.
void loadDemoArchive(int argc, char** argv);

// getVariable(name, 0), or fatalError naming the file when it is nowhere.
Variable* requireDemoFile(const char* name);

// Start-up steps 4-5: the music player on "tune.ogg", paused; "Tune done".
TimeSource* startDemoMusic();

// The whole demo; returns the process exit code (0 at a normal end).
int runDemo(int argc, char** argv);
