/* gltf_pack.h — packing a glTF 2.0 document into the scene blob.

   loadGLTF reads a .gltf text or a .glb binary container, fetches its buffers and packs what
   the default scene reaches into one scene blob (layout in blob.h): nodes breadth-first,
   their meshes' primitives with index, position, normal and texture-coordinate accessors,
   materials, KHR_lights_punctual lights and translation/rotation/scale animation channels.
   Float data is quantised to 16-bit codes over each component's own [min, max].

       int size = 0;
       void* blob = loadGLTF(bytes, byteCount, &size, nullptr, nullptr);
       void* scene = loadGLTFVariable(getVariable("scene1.gltf", 0));   // the demo's path

   Buffers come from the .glb binary chunk, base64 "data:" URIs, the variable store (archive
   members) or files. The packer sizes the blob in a first pass, allocates it once (C
   allocator, owned by the caller, zero padding) and writes it in a second identical pass. A
   scene that fits 65535 bytes gets the compact form, byte for byte as it always has; a larger
   one, or one with an index above 65535, gets the large form (blob.h), sized again for it.

   Dump: with csvPath set, the blob is also written to "gltf.expbin" in the working directory
   and an annotated byte listing to csvPath, one line per labelled span.

   Standard glTF that the blob's fixed layout does not hold directly is converted: index lists
   of unsigned bytes are widened to 16 bits, unsigned-int lists become 16-bit when every index
   fits and stay 32-bit (large form) otherwise, integer POSITION, NORMAL and TEXCOORD_0 data
   (KHR_mesh_quantization, plain or normalised) becomes floats, a primitive without indices
   gets the list 0, 1, ..., n - 1, and a primitive
   without NORMAL gets flat normals (each triangle its own three vertices with its face normal,
   as glTF asks of a loader; one console line says so). An image the document holds itself (a
   buffer view, as in every textured .glb, or a "data:" URI) is put into the store as a file
   named "gltf-image<index>-<hash of its bytes>.png" (or ".jpg"), where the image hook decodes
   it, and the material refers to that name.

   A document that requires an extension the packer does not implement ("extensionsRequired":
   Draco, meshopt, ...) is refused first, naming the extension. A document the blob cannot
   represent faithfully (indices or accessors out of range, data past the end of its buffer,
   unsupported accessor types, a node hierarchy that is not a tree, more than 32767 nodes, an
   animated node past the first 4096, more than 2 GiB, ...) ends the process through
   fatalError with a message that names the item or the limit. Items the demo does not use are skipped with
   a console line: primitives with an empty index list, attributes other than POSITION, NORMAL
   and TEXCOORD_0, channels of other paths (for example "weights") or of unknown
   interpolations, channels whose node is not in the default scene. JSON syntax errors are
   not fatal: the document is packed as far as it was read. */
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct Variable;

// Packs the .gltf/.glb bytes into a new scene blob. outSize (optional) receives its size;
// csvPath (optional) turns on the dump; outUris (optional) receives, in each of the two
// passes, the image URI of every textured material record written, in material order.
void* loadGLTF(const void* data, size_t size, int* outSize, const char* csvPath,
               std::vector<std::string>* outUris);

// loadGLTF that also tells whether the document's JSON text read to its end: false when it is
// not valid JSON (or not glTF at all) and the blob holds only what was read before the error.
// For tools, which refuse such a file where the demo plays what it could read.
void* loadGLTFChecked(const void* data, size_t size, int* outSize, const char* csvPath,
                      std::vector<std::string>* outUris, bool* textComplete);

// loadGLTF over the current data of a file Variable; null when v is null or empty.
void* loadGLTFVariable(Variable* v, int* outSize = nullptr);

// The URIs of the document's buffers that loadGLTF fetches from the store or from files (not
// "data:" URIs, not the binary chunk), so a tool can register files that lie elsewhere.
std::vector<std::string> gltfExternalBufferUris(const void* data, size_t size);
