#include "ZipReader.h"

#include <zlib.h>

namespace ziptest {

uint16_t Get16(const std::string& b, uint64_t at) {
    return static_cast<uint16_t>(static_cast<unsigned char>(b[at]) |
                                 static_cast<unsigned char>(b[at + 1]) << 8);
}

uint32_t Get32(const std::string& b, uint64_t at) {
    return Get16(b, at) | static_cast<uint32_t>(Get16(b, at + 2)) << 16;
}

bool ParseArchive(const std::string& b, Archive& a, std::string& error) {
    a = Archive{};
    a.bytes = b;
    if (b.size() < 22) {
        error = "shorter than an end record";
        return false;
    }
    // This writer never adds a comment, so the end record is the last 22 bytes.
    const uint64_t e = b.size() - 22;
    if (b.compare(e, 4, "PK\x05\x06", 4) != 0) {
        error = "no end record at the end";
        return false;
    }
    a.end = {Get16(b, e + 4),  Get16(b, e + 6),  Get16(b, e + 8), Get16(b, e + 10),
             Get32(b, e + 12), Get32(b, e + 16), Get16(b, e + 20)};
    if (uint64_t(a.end.directoryOffset) + a.end.directorySize != e) {
        error = "directory offset + size does not reach the end record";
        return false;
    }
    uint64_t p = a.end.directoryOffset;
    for (unsigned i = 0; i < a.end.entriesTotal; ++i) {
        if (p + 46 > e || b.compare(p, 4, "PK\x01\x02", 4) != 0) {
            error = "bad central header " + std::to_string(i);
            return false;
        }
        CentralHeader c;
        c.versionMadeBy = Get16(b, p + 4);
        c.versionNeeded = Get16(b, p + 6);
        c.flags = Get16(b, p + 8);
        c.method = Get16(b, p + 10);
        c.time = Get16(b, p + 12);
        c.date = Get16(b, p + 14);
        c.crc = Get32(b, p + 16);
        c.compressedSize = Get32(b, p + 20);
        c.uncompressedSize = Get32(b, p + 24);
        const uint16_t nameLength = Get16(b, p + 28), extraLength = Get16(b, p + 30);
        c.commentLength = Get16(b, p + 32);
        c.diskStart = Get16(b, p + 34);
        c.internalAttributes = Get16(b, p + 36);
        c.externalAttributes = Get32(b, p + 38);
        c.localOffset = Get32(b, p + 42);
        if (p + 46 + nameLength + extraLength + c.commentLength > e) {
            error = "central header runs past the directory";
            return false;
        }
        c.name = b.substr(p + 46, nameLength);
        c.extra = b.substr(p + 46 + nameLength, extraLength);
        p += 46 + nameLength + extraLength + c.commentLength;

        const uint64_t l = c.localOffset;
        if (l + 30 > b.size() || b.compare(l, 4, "PK\x03\x04", 4) != 0) {
            error = "no local header at offset " + std::to_string(l);
            return false;
        }
        LocalHeader h;
        h.versionNeeded = Get16(b, l + 4);
        h.flags = Get16(b, l + 6);
        h.method = Get16(b, l + 8);
        h.time = Get16(b, l + 10);
        h.date = Get16(b, l + 12);
        h.crc = Get32(b, l + 14);
        h.compressedSize = Get32(b, l + 18);
        h.uncompressedSize = Get32(b, l + 22);
        const uint16_t ln = Get16(b, l + 26), lx = Get16(b, l + 28);
        h.name = b.substr(l + 30, ln);
        h.extra = b.substr(l + 30 + ln, lx);
        h.dataOffset = l + 30 + ln + lx;
        if (h.dataOffset + c.compressedSize > a.end.directoryOffset) {
            error = "entry data runs into the directory";
            return false;
        }
        a.central.push_back(c);
        a.local.push_back(h);
    }
    if (p != e) {
        error = "directory size does not match its headers";
        return false;
    }
    return true;
}

std::string EntryData(const Archive& a, size_t i) {
    return a.bytes.substr(a.local[i].dataOffset, a.central[i].compressedSize);
}

bool InflateRaw(const std::string& compressed, std::string& out) {
    out.clear();
    z_stream zs{};
    if (inflateInit2(&zs, -MAX_WBITS) != Z_OK)
        return false;
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
    zs.avail_in = static_cast<uInt>(compressed.size());
    char buf[65536];
    int rc;
    do {
        zs.next_out = reinterpret_cast<Bytef*>(buf);
        zs.avail_out = sizeof buf;
        rc = inflate(&zs, Z_NO_FLUSH);
        out.append(buf, sizeof buf - zs.avail_out);
    } while (rc == Z_OK);
    const bool complete = rc == Z_STREAM_END && zs.avail_in == 0;
    inflateEnd(&zs);
    return complete;
}

} // namespace ziptest
