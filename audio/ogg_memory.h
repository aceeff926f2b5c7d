/* ogg_memory.h — the decoder's I/O over an Ogg file that lies complete in memory.

   Tremor reads its input through four callbacks (ov_callbacks). These read, seek, close and tell
   over one OggMemoryFile, the bytes of a file and a cursor into them, and never touch anything
   else: no audio device, no global state. The music player hands them to ov_open_callbacks with
   its own OggMemoryFile; tests and fuzzers can drive them on any bytes:

       OggMemoryFile file{bytes, size, 0};
       OggVorbis_File vorbis;
       ov_open_callbacks(&file, &vorbis, nullptr, 0, oggMemoryCallbacks());

   The cursor never leaves 0..fileSize: reads past the end return 0 items, and a seek to a
   position outside the file returns -1 and leaves the cursor where it was. Reads return whole
   items only. */
#pragma once

#include <cstddef>
#include <cstdint>

#include <tremor/ivorbisfile.h>

struct OggMemoryFile {
    const unsigned char* fileData; // first byte of the Ogg file; owned by the caller
    int32_t fileSize;              // bytes in fileData
    int32_t readPos;               // the decoder's read cursor in fileData, bytes
};

// The four functions; `source` is an OggMemoryFile*.
size_t oggMemoryRead(void* buffer, size_t size, size_t count, void* source);
int oggMemorySeek(void* source, ogg_int64_t offset, int whence); // whence: SEEK_SET, SEEK_CUR, SEEK_END
int oggMemoryClose(void* source);                                // rewinds; the bytes stay the caller's
long oggMemoryTell(void* source);

// The record ov_open_callbacks takes, holding the four functions above.
ov_callbacks oggMemoryCallbacks();
