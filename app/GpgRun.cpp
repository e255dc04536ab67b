#include "app/GpgRun.h"

#include "app/TimeOutSetting.h"
#include "platform/Paths.h"
#include "platform/Process.h"
#include "platform/Termination.h"
#include "ui/Application.h"

namespace {

// How much of gpg's error output is kept, and how much of it is journalled:
// its last lines say why it failed; what came before is mostly noise.
constexpr std::size_t kErrorTailBytes = 2048;
constexpr std::size_t kJournalledBytes = 400;
constexpr std::size_t kJournalledLines = 8;

const char* const kReasonPrefix = "Hlášení GNU PG: ";

std::string Visible(std::string line) {
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    for (char& c : line) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u == '\t')
            c = ' ';
        else if (u < 0x20 || u == 0x7F)
            c = '?';
    }
    return line;
}

// The end of a line that alone is too long, cut at a character's start.
std::string LastBytes(const std::string& line, std::size_t bytes) {
    std::size_t start = line.size() - bytes;
    while (start < line.size() && (static_cast<unsigned char>(line[start]) & 0xC0) == 0x80)
        ++start;
    return "…" + line.substr(start);
}

} // namespace

std::string GpgProgramPath() {
    return platform::IncludeTrailingSeparator(platform::ApplicationDir()) + "gpg.exe";
}

std::vector<std::string> GpgReasonLines(const std::string& errorOutput) {
    std::vector<std::string> lines;
    std::size_t end = errorOutput.size();
    std::size_t total = 0;
    while (end > 0 && lines.size() < kJournalledLines && total < kJournalledBytes) {
        const std::size_t newline = errorOutput.rfind('\n', end - 1);
        const std::size_t start = newline == std::string::npos ? 0 : newline + 1;
        std::string line = Visible(errorOutput.substr(start, end - start));
        end = newline == std::string::npos ? 0 : newline;
        if (line.find_first_not_of(' ') == std::string::npos)
            continue;
        if (line.size() > kJournalledBytes - total) {
            if (!lines.empty())
                break;
            line = LastBytes(line, kJournalledBytes);
        }
        total += line.size();
        lines.insert(lines.begin(), kReasonPrefix + line);
    }
    return lines;
}

GpgRun RunGpg(const std::vector<std::string>& args) {
    platform::ProcessOptions options;
    // The window repaints and its other buttons work while gpg runs; a
    // request to end the program (closing the window is one) is noticed
    // there too.
    options.idle = [] { ui::ProcessMessages(); };
    options.stop = [] { return platform::TerminationRequested(); };
    options.timeoutMs = GpgTimeOutMs();
    options.errorTail = kErrorTailBytes;
    const platform::ProcessResult result = platform::RunAndWait(GpgProgramPath(), args, options);

    GpgRun run;
    run.started = result.started;
    run.stopped = result.stopped;
    run.succeeded = result.started && !result.stopped && !result.timedOut && result.exitCode == 0;
    // A stopped run ends with the stop, journalled where the request was
    // noticed; what gpg said before it was ended explains nothing.
    if (run.succeeded || !run.started || run.stopped)
        return run;
    if (result.timedOut)
        run.reason.push_back("Program gpg.exe neskončil do " +
                             std::to_string(options.timeoutMs / 1000) + " s a byl ukončen.");
    for (std::string& line : GpgReasonLines(result.errorOutput))
        run.reason.push_back(std::move(line));
    return run;
}
