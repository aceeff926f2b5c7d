/* image.h — the image hook: image files become texture records as they enter the store.

   Every file Variable the store creates (archive members, files loaded from disk) passes
   through the store's image hook. Once installImageHook() has run, a name containing ".jpg",
   ".jpeg" or ".png" (substring test, in that order, so "notes.png.txt" counts) is decoded
   with stb_image, and one containing ".tga" by the decoder below. The decoded texture lives
   in a Variable named after the file plus "_loadedimage", holding a TextureRecord; the
   file's replacement link points at it, so variableData(currentVariable(file)) is the
   texture from then on:

       installImageHook();                       // before loading the archive
       loadArchive(path, sink);                  // tex1.png -> tex1.png_loadedimage
       auto* texture = currentData<TextureRecord>(getVariable("tex1.png", 0));

   Texels are 0xAARRGGBB, rows top first, in storage for the whole mip chain (level 0 filled;
   the upload builds the smaller levels in place). The transparency flag is set when some
   alpha is below 254 (stb_image formats) or 255 (TGA).

   TGA: uncompressed true-colour (image type 2) with 24 or 32 bits per pixel, either row
   order; the image-ID field and any colour map are skipped. 24-bit files get alpha 255.

   stb_image is only handed files that begin with a PNG or JPEG signature (it would take other
   formats by their content). Images over 16384 texels on a side or 4096 x 4096 texels in all
   are refused before anything is allocated for them.

   A file that cannot be decoded (corrupt or truncated data, an unsupported TGA, another
   format, absurd sizes) does not end the demo: its texture becomes a visible 16 x 16 magenta-and-grey
   checkerboard and one console line names the file and the problem. No decoder reads
   outside the file's bytes. Other names pass through untouched. The hook keeps nothing
   besides the Variables it appends and the pixel arrays, which live for the run. */
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct Variable;
struct TextureRecord;

// Makes imageHookDecode the store's image hook. Call it before the first file enters the store.
void installImageHook();

// The hook itself: decodes image files as described above and returns `file` in every case.
Variable* imageHookDecode(Variable* file, void* argument);

// Texels of the whole mip chain of a w x h image: levels halve both sizes, ending after a
// level of width 1 or less, or before one of height 0.
size_t mipChainTexelCount(int width, int height);

// Decodes an image's bytes into `texture` (whose previous contents are replaced; its old
// pixels are not freed). `name` picks the decoder as the hook does. On failure the texture
// becomes the placeholder and the result is false, with the reason in `problem`.
bool decodeImage(const char* name, const uint8_t* bytes, size_t size, TextureRecord* texture,
                 std::string* problem);

// The placeholder's texel at (x, y), for tests and tools.
uint32_t placeholderTexel(int x, int y);
constexpr int kPlaceholderSize = 16;
