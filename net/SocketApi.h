// The operating system's sockets as the connection layer and its event
// delivery use them. Every socket call of net/ goes through these few
// functions, implemented once for POSIX (SocketApi_posix.cpp) and once for
// Winsock 2 (SocketApi_win32.cpp); CMake builds the one for the system.
// Errors are Winsock numbers on both (10035 would-block, 10061 refused ...).
// IPv4 addresses and ports are in network byte order, as on the wire.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace sockapi {

#ifdef _WIN32
using THandle = std::uintptr_t; // a Winsock SOCKET
inline constexpr THandle kNoSocket = ~static_cast<THandle>(0);
#else
using THandle = int; // a file descriptor
inline constexpr THandle kNoSocket = -1;
#endif

// ---- process-wide use ------------------------------------------------------
// The sockets are started by the first user and ended with the last (Winsock's
// WSAStartup and WSACleanup; only a count on POSIX). False: they cannot start.
bool AddUser();
void RemoveUser();
// Lines describing the implementation ("Version= ...", "Max Sockets= ...").
std::vector<std::string> Describe();

// Winsock number of the last failed call of this thread; an interrupted
// call counts as would-block (it is simply made again).
int LastError();

// ---- one socket --------------------------------------------------------------
// A non-blocking TCP socket, or kNoSocket (see LastError).
THandle OpenStream();
bool Close(THandle Socket);
bool SetLinger(THandle Socket, bool On, int Seconds);
bool GetLinger(THandle Socket, bool& On, int& Seconds);
// Starts a connect: 0 when it is done or under way, else the Winsock error
// (a refused or unreachable peer may already show here).
int Connect(THandle Socket, uint32_t Addr, uint16_t Port);
// Bytes sent or received, 0 for the peer's orderly end (Receive), negative
// on failure (see LastError). Neither waits; Send never raises a signal.
long Send(THandle Socket, const char* Data, size_t Length);
long Receive(THandle Socket, char* Data, size_t Length, bool Peek);
bool ShutdownSend(THandle Socket);
bool Bind(THandle Socket, uint32_t Addr, uint16_t Port);
bool Listen(THandle Socket, int Backlog);
// The next waiting connection as a non-blocking socket, with its peer; or
// kNoSocket (would-block when none waits).
THandle Accept(THandle Socket, uint32_t& Addr, uint16_t& Port);
bool LocalAddress(THandle Socket, uint32_t& Addr, uint16_t& Port);
// The socket's pending error (the outcome of a connect), as a Winsock number.
int PendingError(THandle Socket);

// ---- waiting -----------------------------------------------------------------
enum : short { kReadable = 1, kWritable = 2, kFailed = 4, kClosed = 8 };
struct TPollEntry {
    THandle Socket = kNoSocket;
    short Events = 0; // kReadable and/or kWritable
    short Ready = 0;  // set by Poll: what happened (kFailed and kClosed unasked)
};
// Waits at most TimeoutMs (0: looks without waiting) until one of the sockets
// is ready or WakePoll() is called. Returns the number of ready entries, or
// a negative number when the wait itself failed (the caller comes round again).
int Poll(std::vector<TPollEntry>& Entries, int TimeoutMs);
// Ends a running Poll() or WaitForEvents() early; callable from any thread.
void WakePoll();

// The wait of the event delivery, on the user-interface thread only: as
// Poll, and on Windows it also ends as soon as a window message arrives for
// the calling thread, so it can wait for as long as nothing happens. A POSIX
// wait cannot see the window events (they come through the toolkit's own
// connection): the caller must look at them at least every
// kLongestEventWaitMs.
int WaitForEvents(std::vector<TPollEntry>& Entries, int TimeoutMs);
#ifdef _WIN32
// Only a bound against a wake-up nobody foresaw; every expected event ends
// the wait by itself.
inline constexpr int kLongestEventWaitMs = 100;
#else
inline constexpr int kLongestEventWaitMs = 2;
#endif

// ---- names -------------------------------------------------------------------
// A dotted IPv4 address ("127.0.0.1"); false for anything else.
bool ParseDotted(const std::string& Text, uint32_t& Addr);
// Looks a host name up (blocking: run it on a helper thread). 0 with the
// first IPv4 address, else the Winsock number of the failure (11001 ...).
int Lookup(const std::string& Name, uint32_t& Addr);

// ---- byte order ----------------------------------------------------------------
inline uint16_t HostToNet16(uint16_t Value) {
    const unsigned char Bytes[2] = {static_cast<unsigned char>(Value >> 8),
                                    static_cast<unsigned char>(Value)};
    uint16_t Result;
    std::memcpy(&Result, Bytes, 2);
    return Result;
}
inline uint16_t NetToHost16(uint16_t Value) {
    unsigned char Bytes[2];
    std::memcpy(Bytes, &Value, 2);
    return static_cast<uint16_t>(Bytes[0] << 8 | Bytes[1]);
}
inline uint32_t HostToNet32(uint32_t Value) {
    const unsigned char Bytes[4] = {
        static_cast<unsigned char>(Value >> 24), static_cast<unsigned char>(Value >> 16),
        static_cast<unsigned char>(Value >> 8), static_cast<unsigned char>(Value)};
    uint32_t Result;
    std::memcpy(&Result, Bytes, 4);
    return Result;
}
inline uint32_t NetToHost32(uint32_t Value) {
    unsigned char Bytes[4];
    std::memcpy(Bytes, &Value, 4);
    return static_cast<uint32_t>(Bytes[0]) << 24 | static_cast<uint32_t>(Bytes[1]) << 16 |
           static_cast<uint32_t>(Bytes[2]) << 8 | Bytes[3];
}
inline constexpr uint32_t kLoopback = 0x7F000001; // 127.0.0.1 in host order

} // namespace sockapi
