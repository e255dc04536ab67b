// Random names and contents -> archive -> this test's own reader checks that
// every local header agrees with its central header and that the data
// inflates to the source with the recorded CRC.
#include "platform/CodePage.h"
#include "zip/Archive.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>
#include <zlib.h>

namespace {

uint32_t U32(const std::string& b, size_t at) {
    if (at + 4 > b.size())
        std::abort();
    return uint8_t(b[at]) | uint8_t(b[at + 1]) << 8 | uint8_t(b[at + 2]) << 16 |
           uint32_t(uint8_t(b[at + 3])) << 24;
}
uint16_t U16(const std::string& b, size_t at) {
    if (at + 2 > b.size())
        std::abort();
    return uint16_t(uint8_t(b[at]) | uint8_t(b[at + 1]) << 8);
}

std::string Inflate(const std::string& raw, size_t expected) {
    std::string out(expected, '\0');
    z_stream z{};
    inflateInit2(&z, -15);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(raw.data()));
    z.avail_in = static_cast<uInt>(raw.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    int rc = inflate(&z, Z_FINISH);
    inflateEnd(&z);
    if (rc != Z_STREAM_END || z.total_out != expected)
        std::abort();
    return out;
}

std::string Folder() {
    static std::string dir = [] {
        char tmpl[] = "/tmp/zipfuzz-XXXXXX";
        return std::string(mkdtemp(tmpl));
    }();
    return dir;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Input: repeated [name length][name bytes][content length (2 bytes)][content].
    std::vector<std::pair<std::string, std::string>> entries;
    size_t i = 0;
    while (i < size && entries.size() < 8) {
        size_t nameLen = data[i++] % 40;
        std::string name(reinterpret_cast<const char*>(data + i), std::min(nameLen, size - i));
        i += name.size();
        size_t contentLen = 0;
        if (i + 2 <= size) {
            contentLen = data[i] | data[i + 1] << 8;
            i += 2;
        }
        std::string content(reinterpret_cast<const char*>(data + i),
                            std::min(contentLen, size - i));
        i += content.size();
        // Names as the program would pass them: UTF-8 of Windows-1250 text.
        std::string utf8 = platform::Cp1250ToUtf8(name.substr(0, name.find('\0')));
        if (utf8.empty())
            utf8 = "x";
        entries.emplace_back(utf8, content);
    }
    std::string archive = Folder() + "/a.zip";
    ArchiveHandle* h = ArchiveCreate(archive);
    if (!h)
        std::abort();
    std::vector<std::pair<std::string, std::string>> added;
    for (size_t k = 0; k < entries.size(); ++k) {
        std::string src = Folder() + "/src" + std::to_string(k) + (k % 2 ? ".zip" : ".csv");
        std::ofstream(src, std::ios::binary) << entries[k].second;
        if (ArchiveAddFile(h, entries[k].first, src) == ArchiveOk)
            added.push_back(entries[k]);
    }
    if (ArchiveClose(h) != ArchiveOk)
        std::abort();

    std::ifstream in(archive, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    std::string b = ss.str();
    size_t end = b.size() - 22;
    if (U32(b, end) != 0x06054b50)
        std::abort();
    uint16_t count = U16(b, end + 10);
    uint32_t dirSize = U32(b, end + 12), dirOffset = U32(b, end + 16);
    if (count != added.size() || dirOffset + dirSize != end)
        std::abort();
    size_t c = dirOffset;
    for (uint16_t e = 0; e < count; ++e) {
        if (U32(b, c) != 0x02014b50)
            std::abort();
        uint16_t method = U16(b, c + 10);
        uint32_t crc = U32(b, c + 16), csize = U32(b, c + 20), usize = U32(b, c + 24);
        uint16_t nlen = U16(b, c + 28), xlen = U16(b, c + 30), klen = U16(b, c + 32);
        uint32_t local = U32(b, c + 42);
        std::string cname = b.substr(c + 46, nlen);
        if (U32(b, local) != 0x04034b50 || U16(b, local + 8) != method ||
            U32(b, local + 14) != crc || U32(b, local + 18) != csize ||
            U32(b, local + 22) != usize || U16(b, local + 26) != nlen ||
            b.compare(local + 30, nlen, cname) != 0 || (U16(b, local + 6) & 0x0008) != 0 ||
            U16(b, local + 10) != U16(b, c + 12) || U16(b, local + 12) != U16(b, c + 14))
            std::abort();
        std::string stored = b.substr(local + 30 + nlen + U16(b, local + 28), csize);
        std::string plain = method == 0 ? stored : Inflate(stored, usize);
        const std::string& want = added[e].second;
        if (plain != want ||
            crc32(0, reinterpret_cast<const Bytef*>(want.data()), uInt(want.size())) != crc)
            std::abort();
        auto expectName = platform::Utf8ToCp1250(added[e].first);
        for (auto& ch : *expectName)
            if (ch == '\\')
                ch = '/';
        if (cname != *expectName)
            std::abort();
        c += 46 + nlen + xlen + klen;
    }
    return 0;
}
