// make_large_seeds BLOB...: writes each compact scene blob again in the large form, as
// BLOB.large beside it, so the blob fuzzer mutates large directories from the start.
#include "scene/blob.h"

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::ifstream in(argv[i], std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::vector<uint8_t> large = BlobView(bytes.data(), bytes.size()).largeForm();
        std::ofstream out(std::string(argv[i]) + ".large", std::ios::binary);
        out.write(reinterpret_cast<const char*>(large.data()), static_cast<std::streamsize>(large.size()));
        if (!in || !out) return 1;
    }
    return 0;
}
