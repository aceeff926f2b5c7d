/* archive.h — the asset archive appended to the executable.

   The demo's assets travel as a standard ZIP archive appended to a file (normally the
   executable itself). loadArchive reads the whole file, finds the ZIP directory at its end
   (whatever prefix comes before it, none for a plain ZIP), inflates every member in
   directory order and hands each to a sink:

       loadArchive(path, [](const char* name, uint32_t size, const void* bytes) {
           putFileVariable(name, size, bytes);
       });

   The name and bytes are valid only during the sink call. Errors are not fatal: a file that
   cannot be opened prints "COULD NOT OPEN:<path>" and returns false; a file without a
   readable ZIP prints "could not open zilfile:<path>" and returns true; a member that cannot
   be read is skipped. Both lines go to standard error.

   Limits: what is read is bounded, so no file can take the machine's memory. A directory, a
   FIFO or a device, and a file over 256 MiB, read as a file without a readable ZIP. A member
   over 64 MiB, one whose name does not fit the reader's 4000-byte buffer, and members past
   256 MiB delivered in all are skipped with a console line naming them (by index for a name
   too long); so is a member that cannot be given memory. An allocation failure never ends
   the process.

   It does not write archives, verify anything beyond what the ZIP reader checks (CRCs
   included), or keep the archive after it returns. */
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

using ArchiveMemberSink = std::function<void(const char* name, uint32_t size, const void* bytes)>;

bool loadArchive(const char* path, ArchiveMemberSink sink);

// The walk of loadArchive over a file already in memory (`path` only names it in messages).
void walkArchiveImage(const void* bytes, size_t size, const char* path, const ArchiveMemberSink& sink);
