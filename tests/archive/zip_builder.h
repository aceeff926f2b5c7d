// A small ZIP writer for tests: stored or deflated members, with hooks to damage the result.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

struct ZipMemberSpec {
    std::string name;
    std::string bytes;
    bool deflate = true;
};

struct BuiltZip {
    std::vector<unsigned char> bytes;
    std::vector<size_t> localHeaderOffsets; // one per member
    std::vector<size_t> centralEntryOffsets;
    size_t centralDirectoryOffset = 0;
    size_t endRecordOffset = 0;
};

inline void putLittle16(std::vector<unsigned char>& out, uint16_t v) {
    out.push_back(static_cast<unsigned char>(v));
    out.push_back(static_cast<unsigned char>(v >> 8));
}
inline void putLittle32(std::vector<unsigned char>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}
inline void setLittle32(std::vector<unsigned char>& out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<unsigned char>(v >> (8 * i));
}

inline std::string rawDeflate(const std::string& input) {
    z_stream stream{};
    deflateInit2(&stream, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, input.size()) + 16, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data()));
    stream.avail_in = static_cast<uInt>(input.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

inline BuiltZip buildZip(const std::vector<ZipMemberSpec>& members) {
    BuiltZip zip;
    struct Central {
        uint16_t method;
        uint32_t crc, compressed, size;
        size_t offset;
    };
    std::vector<Central> central;
    // Flags, method, time, date, CRC, sizes and name length: the same in both header kinds.
    auto putSharedFields = [&zip](const Central& c, const std::string& name) {
        putLittle16(zip.bytes, 0);
        putLittle16(zip.bytes, c.method);
        putLittle16(zip.bytes, 0);
        putLittle16(zip.bytes, 0x21);
        putLittle32(zip.bytes, c.crc);
        putLittle32(zip.bytes, c.compressed);
        putLittle32(zip.bytes, c.size);
        putLittle16(zip.bytes, static_cast<uint16_t>(name.size()));
    };
    for (const ZipMemberSpec& m : members) {
        std::string data = m.deflate ? rawDeflate(m.bytes) : m.bytes;
        uint32_t crc = static_cast<uint32_t>(
            crc32(0, reinterpret_cast<const Bytef*>(m.bytes.data()), static_cast<uInt>(m.bytes.size())));
        Central c{static_cast<uint16_t>(m.deflate ? 8 : 0), crc, static_cast<uint32_t>(data.size()),
                  static_cast<uint32_t>(m.bytes.size()), zip.bytes.size()};
        zip.localHeaderOffsets.push_back(c.offset);
        putLittle32(zip.bytes, 0x04034b50);
        putLittle16(zip.bytes, 20);
        putSharedFields(c, m.name);
        putLittle16(zip.bytes, 0);
        zip.bytes.insert(zip.bytes.end(), m.name.begin(), m.name.end());
        zip.bytes.insert(zip.bytes.end(), data.begin(), data.end());
        central.push_back(c);
    }
    zip.centralDirectoryOffset = zip.bytes.size();
    for (size_t i = 0; i < members.size(); ++i) {
        const Central& c = central[i];
        zip.centralEntryOffsets.push_back(zip.bytes.size());
        putLittle32(zip.bytes, 0x02014b50);
        putLittle16(zip.bytes, 20);
        putLittle16(zip.bytes, 20);
        putSharedFields(c, members[i].name);
        putLittle16(zip.bytes, 0);
        putLittle16(zip.bytes, 0);
        putLittle16(zip.bytes, 0);
        putLittle16(zip.bytes, 0);
        putLittle32(zip.bytes, 0);
        putLittle32(zip.bytes, static_cast<uint32_t>(c.offset));
        zip.bytes.insert(zip.bytes.end(), members[i].name.begin(), members[i].name.end());
    }
    size_t centralSize = zip.bytes.size() - zip.centralDirectoryOffset;
    zip.endRecordOffset = zip.bytes.size();
    putLittle32(zip.bytes, 0x06054b50);
    putLittle16(zip.bytes, 0);
    putLittle16(zip.bytes, 0);
    putLittle16(zip.bytes, static_cast<uint16_t>(members.size()));
    putLittle16(zip.bytes, static_cast<uint16_t>(members.size()));
    putLittle32(zip.bytes, static_cast<uint32_t>(centralSize));
    putLittle32(zip.bytes, static_cast<uint32_t>(zip.centralDirectoryOffset));
    putLittle16(zip.bytes, 0);
    return zip;
}
