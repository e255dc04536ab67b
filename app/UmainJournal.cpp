// The run journal: Windows-1250 text with CR LF line ends, opened and closed
// for every line, cut back at the start of a run when it has grown large.
#include "app/Umain.h"

#include "platform/BinaryFile.h"
#include "platform/Clock.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"

#include <cstdio>
#include <optional>

namespace {

constexpr std::int64_t kTrimThreshold = 100000;
constexpr std::int64_t kTrimKeep = 10000;

// UTF-8 to Windows-1250, character by character: a character the code page
// cannot hold becomes '?' so that the rest of the line is still journalled.
std::string ToJournalBytes(const std::string& text) {
    if (std::optional<std::string> whole = platform::Utf8ToCp1250(text))
        return *whole;
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t len = 1;
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0xF0)
            len = 4;
        else if (c >= 0xE0)
            len = 3;
        else if (c >= 0xC0)
            len = 2;
        std::optional<std::string> one = platform::Utf8ToCp1250(text.substr(i, len));
        out += one ? *one : std::string("?");
        i += len;
    }
    return out;
}

// Every line break becomes CR LF (a CR LF already there stays as it is).
std::string WithCrLf(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size() + 8);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\n' && (i == 0 || bytes[i - 1] != '\r'))
            out += '\r';
        out += bytes[i];
    }
    return out;
}

// Text-mode reading: CR LF becomes one line break.
std::string WithoutCrLf(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
            continue;
        out += bytes[i];
    }
    return out;
}

std::string TimeStamp() {
    const platform::DateTime t = platform::Now();
    char buf[64];
    std::snprintf(buf, sizeof buf, "%d.%d.%d %d:%d:%d ", t.day, t.month, t.year, t.hour, t.minute,
                  t.second);
    return buf;
}

} // namespace

void TForm1::WriteLog(const std::string& Text, bool WithTime) {
    if (!LogEnabled || LogPath.empty())
        return;
    try {
        std::string line;
        if (WithTime)
            line = TimeStamp();
        line += ToJournalBytes(Text);
        line += '\n';
        // A journal that cannot be opened is skipped silently.
        platform::AppendFileBytes(LogPath, WithCrLf(line), LogDelete);
    } catch (...) {
        // The journal never disturbs the run.
    }
}

void TForm1::TrimLog() {
    try {
        // A FIFO or a device is neither read nor rewritten: it is no journal.
        if (!platform::IsRegularFileOrMissing(LogPath) || !platform::FileExists(LogPath))
            return;
        const std::int64_t size = platform::FileSize(LogPath);
        if (size < kTrimThreshold)
            return;
        auto in = platform::BinaryFile::OpenForReading(LogPath);
        if (!in || !in->Seek(size - kTrimKeep))
            return;
        std::string tail(static_cast<std::size_t>(kTrimKeep), '\0');
        std::size_t got = 0;
        while (got < tail.size()) {
            const std::int64_t n = in->Read(tail.data() + got, tail.size() - got);
            if (n < 0)
                return;
            if (n == 0)
                break;
            got += static_cast<std::size_t>(n);
        }
        tail.resize(got);
        in.reset();
        if (tail.empty())
            return;
        const std::string kept = WithoutCrLf(tail);
        const std::string bytes = WithCrLf(kept + "\n" + std::string(41, '-') + "\n");
        // Written beside the journal and renamed over it: a failure leaves
        // the old journal whole. A folder that takes no new file still gets
        // its journal cut back in place, or the journal would grow without
        // bound.
        if (!platform::ReplaceFileAtomically(LogPath, bytes))
            platform::RewriteFileInPlace(LogPath, bytes);
    } catch (...) {
    }
}
