/* music.h — the demo's music player and its clock.

   The demo's time is its music. createOggPlayer takes an Ogg Vorbis file that lies complete in
   memory (the archive member "tune.ogg"), opens the default audio output as one 16-bit stereo
   stream and starts playing it from an audio callback. The returned player is the demo's
   TimeSource: currentTime() is the position in the music, in seconds, advancing smoothly with
   the audio stream's own clock between callbacks.

       TimeSource* music = createOggPlayer(bytes, byteCount);     // already playing
       music->setPlaying(false);                                 // paused at once
       ...
       music->seek(0.0f);
       music->setPlaying(true);
       float t = music->currentTime();                           // once per frame

   Pausing freezes the clock at the pause position and resuming continues from there. A seek
   only records its target; the music and the clock move there when the stream next asks for
   samples. Seeks are clamped into the track: before the start goes to 0, past the end goes to
   the end, where the player plays silence and the clock keeps running.

   There is one player per process. Unsupported files (not Ogg Vorbis, not stereo, links with
   different rates), audio device errors and decoding errors print "Fatal Error:<text>" to
   standard output and end the process with exit code -1.

   Threads: every TimeSource operation belongs to the main thread. The stream callback alone
   runs the decoder while the stream runs; it shares with the main thread only the pending seek
   (one atomic 64-bit value) and a ring of four sync points published through an atomic index.
   There is no lock. The player does not resample, mix, loop or read anything from disk. */
#pragma once

#include <cstdint>

// The demo's clock: music time in seconds, with pause and seek.
class TimeSource {
public:
    virtual ~TimeSource() = default;
    virtual bool isPlaying() = 0;
    virtual void setPlaying(bool on) = 0;
    virtual void seek(float seconds) = 0;
    virtual float currentTime() = 0;
};

// Creates the process's one player on the file and returns it playing. A second call is fatal.
// The player is the PortAudioOgg of audio/music_player.h, which only its tests look inside.
TimeSource* createOggPlayer(const void* data, uint32_t size);

// The player made by createOggPlayer, or null before it.
TimeSource* oggPlayer();
