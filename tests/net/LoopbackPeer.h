// Peers on 127.0.0.1 for the socket layer tests. Each runs on its own thread
// with bounded waits and is stopped and joined by its destructor, so a
// failing test never leaves a thread or a socket behind and never hangs.
// They use the sockets through the connection layer's seam (net/SocketApi),
// so they build wherever the layer does.
#pragma once
#include "net/SocketApi.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace nettest {

using TPeerSocket = sockapi::THandle;

// Accepts one connection on 127.0.0.1 (port chosen by the system) and runs
// Script with the accepted (non-blocking) socket on its own thread; the
// socket is closed when Script returns, unless Script reset it (Reset).
class LoopbackPeer {
public:
    explicit LoopbackPeer(std::function<void(LoopbackPeer& Peer, TPeerSocket Fd)> Script);
    ~LoopbackPeer();
    LoopbackPeer(const LoopbackPeer&) = delete;
    LoopbackPeer& operator=(const LoopbackPeer&) = delete;

    int Port() const { return PortNo; }
    bool Stopping() const { return Stop.load(); }
    // True when the script has finished.
    bool Finished() const { return Done.load(); }

    // Helpers for scripts (all bounded by the stop flag and TimeoutMs).
    bool SendAll(TPeerSocket Fd, const std::string& Bytes);
    // Reads up to and including LF; "" on close, time-out or stop.
    std::string ReadLine(TPeerSocket Fd, int TimeoutMs = 5000);
    // Reads until the client closes; stops on time-out or stop.
    std::string ReadToEnd(TPeerSocket Fd, int TimeoutMs = 20000);
    // Reads and drops everything until the client closes or the peer is
    // stopped, counting the bytes (for streams too large to keep).
    void Discard(TPeerSocket Fd, std::atomic<int64_t>& Bytes);
    void SleepMs(int Ms);
    // Keeps the connection open, doing nothing, until the peer is stopped.
    void HoldOpen();
    // Closes Fd so that the client sees a reset instead of an orderly end.
    void Reset(TPeerSocket Fd);

    std::atomic<int> Closed{0}; // set when the script asked for its own close

private:
    TPeerSocket Listener = sockapi::kNoSocket;
    int PortNo = 0;
    std::atomic<bool> Stop{false};
    std::atomic<bool> Done{false};
    std::atomic<TPeerSocket> Accepted{sockapi::kNoSocket};
    std::thread Worker;
};

// A script that accepts and holds the connection open: LoopbackPeer peer(HoldOpen).
void HoldOpen(LoopbackPeer& Peer, TPeerSocket Fd);

// A port on 127.0.0.1 where nothing listens (connections are refused).
int RefusedPort();

// A listener whose backlog is full: a further connect gets no answer at all.
class SilentHost {
public:
    SilentHost();
    ~SilentHost();
    SilentHost(const SilentHost&) = delete;
    SilentHost& operator=(const SilentHost&) = delete;
    int Port() const { return PortNo; }
    bool Ready() const { return Full; }

private:
    TPeerSocket Listener = sockapi::kNoSocket;
    int PortNo = 0;
    bool Full = false;
    std::vector<TPeerSocket> Fillers;
};

// A name that the resolver rejects without asking any name server (a label
// longer than 63 characters), so lookup failures stay on this machine.
std::string UnresolvableName();

// CPU time used so far by the calling thread, in milliseconds.
double ThreadCpuMs();

} // namespace nettest
