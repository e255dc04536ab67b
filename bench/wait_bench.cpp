// CPU the socket layer's waits use while nothing happens, on Linux and on
// Windows (run under Wine there): ReadLn waiting on a peer that never sends,
// with nothing else to do and with the window's events let run and the 20 ms
// timer of the program's idle delivery, and SendFile waiting while its
// reader does not read.
//
//   wait_bench [seconds per row, default 5]
//
// Each row prints the waiting thread's CPU time as a share of one core and
// how many passes the wait made. Target: < 5 % in every row. Under Wine,
// thread times come in 10 ms ticks, and part of what a wait costs is spent
// in the wine server, outside this process.
#include "net/Psock.h"
#include "tests/net/LoopbackPeer.h"
#include "ui/Application.h"
#include "ui/Timer.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from) {
    return std::chrono::duration<double>(Clock::now() - from).count();
}

struct Row {
    double cpuPercent = 0;
    long passes = 0;
};

void Print(const char* what, const Row& row, int seconds) {
    std::printf("%-64s %5.2f %% of a core, %6.1f passes/s (target < 5 %%)\n", what, row.cpuPercent,
                row.passes / static_cast<double>(seconds));
}

// ReadLn on a peer that accepts and never sends, until the time-out; Events
// runs at every pass of the wait.
Row ReadLnOnSilentPeer(int Seconds_, const std::function<void()>& Events) {
    nettest::LoopbackPeer silent(nettest::HoldOpen);
    TPowersock s;
    s.Host = "127.0.0.1";
    s.Port = silent.Port();
    s.Connect();
    s.TimeOut = Seconds_ * 1000;
    Row row;
    SetPumpMessagesHook([&] {
        ++row.passes;
        if (Events)
            Events();
    });
    const double cpu0 = nettest::ThreadCpuMs();
    const auto start = Clock::now();
    try {
        s.ReadLn();
    } catch (const EAbortError&) {
    }
    row.cpuPercent = (nettest::ThreadCpuMs() - cpu0) / 10.0 / Seconds(start);
    SetPumpMessagesHook({});
    return row;
}

// SendFile to a reader that sleeps: measured from the moment the socket
// buffers are full (1 s in) for Seconds_.
Row SendFileWhileTheReaderPauses(const std::string& Path, int Seconds_) {
    std::atomic<int64_t> bytes{0};
    nettest::LoopbackPeer reader([&](nettest::LoopbackPeer& p, nettest::TPeerSocket fd) {
        p.SleepMs((Seconds_ + 3) * 1000);
        p.Discard(fd, bytes);
    });
    TPowersock s;
    s.Host = "127.0.0.1";
    s.Port = reader.Port();
    s.Connect();
    const auto start = Clock::now();
    double cpuFrom = -1;
    Row row;
    SetPumpMessagesHook([&] {
        const double t = Seconds(start);
        if (cpuFrom < 0 && t >= 1.0) {
            cpuFrom = nettest::ThreadCpuMs();
        } else if (cpuFrom >= 0) {
            ++row.passes;
            if (t >= 1.0 + Seconds_) {
                row.cpuPercent = (nettest::ThreadCpuMs() - cpuFrom) / 10.0 / Seconds_;
                s.Cancel();
            }
        }
    });
    try {
        s.SendFile(Path);
    } catch (const EAbortError&) {
    }
    SetPumpMessagesHook({});
    return row;
}

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const std::string path = (std::filesystem::temp_directory_path() / "wait_bench.bin").string();
    {
        // Larger than any loopback buffers, so the sender must wait.
        std::ofstream f(path, std::ios::binary);
        const std::vector<char> block(1 << 20, 'x');
        for (int i = 0; i < 64; ++i)
            f.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
    std::printf("Waits of the socket layer, %d s per row\n", seconds);
    Print("ReadLn on a silent peer, nothing else to do:", ReadLnOnSilentPeer(seconds, {}), seconds);
    Print("SendFile while the reader pauses:", SendFileWhileTheReaderPauses(path, seconds),
          seconds);
    {
        // As in the program: the window's events run at every pass, and a
        // 20 ms timer delivers socket notifications while nothing waits.
        ui::UseOffscreenWithoutDisplay();
        ui::Application app(argc, argv);
        ui::Timer idle;
        idle.OnTick([] { DispatchSocketEvents(); });
        idle.Start(20);
        Print("ReadLn on a silent peer, with window events and a 20 ms timer:",
              ReadLnOnSilentPeer(seconds, [] { ui::ProcessWindowEvents(); }), seconds);
    }
    std::filesystem::remove(path);
    return 0;
}
