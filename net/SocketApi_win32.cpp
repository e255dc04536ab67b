// The sockets of net/ on Windows: Winsock 2 with WSAPoll. Winsock's own
// error numbers are the ones the layer reports, so they pass through as they
// are. A plain Poll() waits at most 2 ms at a time, which is how another
// thread's WakePoll() reaches it. The delivery's wait (WaitForEvents) sleeps
// instead until a socket, a window message or WakePoll() wakes it: the
// sockets signal one event of the thread (WSAEventSelect) and
// MsgWaitForMultipleObjectsEx waits for that event, the wake-up event and
// the thread's message queue together.
//
// Sockets are made non-inheritable: a process the program starts (gpg.exe)
// must not hold the control connection open or be able to use it.
//
// A connection the peer reset must read as a reset (10054), never as an
// orderly end: an upload whose data the server dropped would otherwise pass
// for a good one. Some Winsock implementations (Wine's) report the reset
// only once, as an error event of the poll, and then let recv() return 0
// with no pending error; the poll's word is therefore kept for the socket.
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601
#endif
#include "net/SocketApi.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <mutex>
#include <set>

namespace sockapi {

namespace {

// Touched only on the user-interface thread, as the sockets themselves.
int Users = 0;
WSADATA Info{};

// The longest a poll waits before it looks again (the wake-up's delay).
constexpr int kWakeCapMs = 2;

sockaddr_in Address(uint32_t Addr, uint16_t Port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = Port;
    a.sin_addr.s_addr = Addr;
    return a;
}

SOCKET Raw(THandle Socket) {
    return static_cast<SOCKET>(Socket);
}

// Connected sockets whose poll reported an error event without a pending
// error: the peer reset them. Polled from several threads (the tests' peers).
std::mutex ResetLock;
std::set<THandle> ResetSockets;

void MarkReset(THandle Socket) {
    std::lock_guard<std::mutex> lock(ResetLock);
    ResetSockets.insert(Socket);
}

bool WasReset(THandle Socket) {
    std::lock_guard<std::mutex> lock(ResetLock);
    return ResetSockets.count(Socket) != 0;
}

int SocketOptionError(THandle Socket) {
    int error = 0;
    int len = sizeof error;
    if (getsockopt(Raw(Socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &len) != 0)
        error = WSAGetLastError();
    return error;
}

} // namespace

bool AddUser() {
    if (Users == 0 && WSAStartup(MAKEWORD(2, 2), &Info) != 0)
        return false;
    ++Users;
    return true;
}

void RemoveUser() {
    if (Users > 0 && --Users == 0)
        WSACleanup();
}

std::vector<std::string> Describe() {
    auto version = [](WORD v) {
        return std::to_string(LOBYTE(v)) + "." + std::to_string(HIBYTE(v));
    };
    // Winsock 2 leaves the last two 0 ("no fixed limit").
    return {"Version= " + version(Info.wVersion),
            "High Version= " + version(Info.wHighVersion),
            std::string("Description= ") + Info.szDescription,
            std::string("System= ") + Info.szSystemStatus,
            "Max Sockets= " + std::to_string(Info.iMaxSockets),
            "Max Udp pack size= " + std::to_string(Info.iMaxUdpDg)};
}

int LastError() {
    const int error = WSAGetLastError();
    return error == WSAEINTR ? WSAEWOULDBLOCK : error;
}

THandle OpenStream() {
    // As socket() makes it (overlapped), but not inherited by new processes.
    SOCKET s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                          WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET && WSAGetLastError() == WSAEINVAL) {
        // Systems before Windows 7 SP1 do not know the flag.
        s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED);
        if (s != INVALID_SOCKET)
            SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    }
    if (s == INVALID_SOCKET)
        return kNoSocket;
    u_long nonBlocking = 1;
    if (ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
        closesocket(s);
        return kNoSocket;
    }
    return static_cast<THandle>(s);
}

bool Close(THandle Socket) {
    {
        // The number may come back for a new socket.
        std::lock_guard<std::mutex> lock(ResetLock);
        ResetSockets.erase(Socket);
    }
    return closesocket(Raw(Socket)) == 0;
}

bool SetLinger(THandle Socket, bool On, int Seconds) {
    linger l{};
    l.l_onoff = On ? 1 : 0;
    l.l_linger = static_cast<u_short>(Seconds);
    return setsockopt(Raw(Socket), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l),
                      sizeof l) == 0;
}

bool GetLinger(THandle Socket, bool& On, int& Seconds) {
    linger l{};
    int len = sizeof l;
    if (getsockopt(Raw(Socket), SOL_SOCKET, SO_LINGER, reinterpret_cast<char*>(&l), &len) != 0)
        return false;
    On = l.l_onoff != 0;
    Seconds = l.l_linger;
    return true;
}

int Connect(THandle Socket, uint32_t Addr, uint16_t Port) {
    const sockaddr_in to = Address(Addr, Port);
    if (connect(Raw(Socket), reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0)
        return 0;
    const int error = WSAGetLastError();
    return error == WSAEWOULDBLOCK || error == WSAEINPROGRESS ? 0 : error;
}

long Send(THandle Socket, const char* Data, size_t Length) {
    const int chunk = static_cast<int>(std::min<size_t>(Length, 1 << 30));
    return send(Raw(Socket), Data, chunk, 0);
}

// Whether a poll sees an error event with nothing pending on the socket now.
static bool PollShowsReset(THandle Socket) {
    WSAPOLLFD fd{Raw(Socket), POLLRDNORM, 0};
    if (WSAPoll(&fd, 1, 0) <= 0 || !(fd.revents & POLLERR) || SocketOptionError(Socket) != 0)
        return false;
    MarkReset(Socket);
    return true;
}

long Receive(THandle Socket, char* Data, size_t Length, bool Peek) {
    const int chunk = static_cast<int>(std::min<size_t>(Length, 1 << 30));
    const int n = recv(Raw(Socket), Data, chunk, Peek ? MSG_PEEK : 0);
    // An end that no poll has looked at yet may be a reset all the same: the
    // poll still tells (an orderly end shows no error event).
    if (n == 0 && Length > 0 && (WasReset(Socket) || PollShowsReset(Socket))) {
        WSASetLastError(WSAECONNRESET);
        return -1;
    }
    return n;
}

bool ShutdownSend(THandle Socket) {
    return shutdown(Raw(Socket), SD_SEND) == 0;
}

bool Bind(THandle Socket, uint32_t Addr, uint16_t Port) {
    const sockaddr_in local = Address(Addr, Port);
    return bind(Raw(Socket), reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
}

bool Listen(THandle Socket, int Backlog) {
    return listen(Raw(Socket), Backlog) == 0;
}

THandle Accept(THandle Socket, uint32_t& Addr, uint16_t& Port) {
    sockaddr_in peer{};
    int len = sizeof peer;
    const SOCKET s = accept(Raw(Socket), reinterpret_cast<sockaddr*>(&peer), &len);
    if (s == INVALID_SOCKET)
        return kNoSocket;
    // An accepted socket inherits the listener's mode and its inheritance;
    // say both anyway.
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    Addr = peer.sin_addr.s_addr;
    Port = peer.sin_port;
    return static_cast<THandle>(s);
}

bool LocalAddress(THandle Socket, uint32_t& Addr, uint16_t& Port) {
    sockaddr_in local{};
    int len = sizeof local;
    if (getsockname(Raw(Socket), reinterpret_cast<sockaddr*>(&local), &len) != 0)
        return false;
    Addr = local.sin_addr.s_addr;
    Port = local.sin_port;
    return true;
}

int PendingError(THandle Socket) {
    const int error = SocketOptionError(Socket);
    return error == 0 && WasReset(Socket) ? WSAECONNRESET : error;
}

namespace {

// One WSAPoll over the entries, waiting at most WaitMs.
int PollOnce(std::vector<TPollEntry>& Entries, int WaitMs) {
    std::vector<WSAPOLLFD> fds(Entries.size());
    for (size_t i = 0; i < Entries.size(); ++i) {
        fds[i].fd = Raw(Entries[i].Socket);
        fds[i].events = static_cast<SHORT>(((Entries[i].Events & kReadable) ? POLLRDNORM : 0) |
                                           ((Entries[i].Events & kWritable) ? POLLWRNORM : 0));
        fds[i].revents = 0;
    }
    const int r = WSAPoll(fds.data(), static_cast<ULONG>(fds.size()), WaitMs);
    if (r < 0)
        return r;
    int ready = 0;
    for (size_t i = 0; i < Entries.size(); ++i) {
        const SHORT re = fds[i].revents;
        short got = static_cast<short>(
            ((re & POLLRDNORM) ? kReadable : 0) | ((re & POLLWRNORM) ? kWritable : 0) |
            ((re & (POLLERR | POLLNVAL)) ? kFailed : 0) | ((re & POLLHUP) ? kClosed : 0));
        // WSAPoll may leave a failed connect unreported; its pending error
        // tells the outcome.
        if (got == 0 && (Entries[i].Events & kWritable) && PendingError(Entries[i].Socket) != 0)
            got = kFailed;
        // An error event with nothing pending: a reset the socket itself may
        // not report again (a failed connect keeps its error pending).
        if ((re & POLLERR) && SocketOptionError(Entries[i].Socket) == 0)
            MarkReset(Entries[i].Socket);
        Entries[i].Ready = got;
        ready += got != 0;
    }
    return ready;
}

// An event handle that lives as long as its owner.
class TEvent {
public:
    TEvent() : Handle(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
    ~TEvent() {
        if (Handle != nullptr)
            CloseHandle(Handle);
    }
    TEvent(const TEvent&) = delete;
    TEvent& operator=(const TEvent&) = delete;
    HANDLE Handle;
};

// Set by WakePoll(). Never destroyed: a lookup thread may still wake the
// delivery while the process ends.
HANDLE WakeEvent() {
    static const HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    return event;
}

// The network events that end a wait for these Poll events. A closed
// connection counts only for readers: it makes a socket readable (the end of
// the data) but not writable, so a sender waiting for room would be woken
// again at every pass by a peer that only ended its own direction.
long NetworkEvents(short Events) {
    long mask = 0;
    if (Events & kReadable)
        mask |= FD_READ | FD_ACCEPT | FD_CLOSE;
    if (Events & kWritable)
        mask |= FD_WRITE | FD_CONNECT;
    return mask;
}

} // namespace

int Poll(std::vector<TPollEntry>& Entries, int TimeoutMs) {
    const int wait = std::clamp(TimeoutMs, 0, kWakeCapMs);
    if (Entries.empty()) {
        Sleep(static_cast<DWORD>(wait));
        return 0;
    }
    return PollOnce(Entries, wait);
}

int WaitForEvents(std::vector<TPollEntry>& Entries, int TimeoutMs) {
    const int wait = std::clamp(TimeoutMs, 0, kLongestEventWaitMs);
    const auto look = [&Entries] { return Entries.empty() ? 0 : PollOnce(Entries, 0); };
    int ready = look();
    if (ready != 0 || wait == 0)
        return ready;
    // Armed, then looked at again: what happens from now on sets the event,
    // what happened before shows in the second look. Events recorded
    // earlier are dropped (some Winsocks keep reporting a connect long
    // done), as what they mean is in the look too.
    static thread_local TEvent socketEvent;
    bool armed = socketEvent.Handle != nullptr;
    for (const TPollEntry& e : Entries) {
        WSANETWORKEVENTS seen{};
        armed = WSAEventSelect(Raw(e.Socket), socketEvent.Handle, NetworkEvents(e.Events)) == 0 &&
                WSAEnumNetworkEvents(Raw(e.Socket), nullptr, &seen) == 0 && armed;
    }
    ResetEvent(socketEvent.Handle);
    ready = look();
    if (ready == 0) {
        const HANDLE handles[2] = {WakeEvent(), socketEvent.Handle};
        const DWORD count = armed ? 2 : 1;
        // A socket that cannot signal is looked at as often as a plain Poll does.
        const DWORD ms = static_cast<DWORD>(armed ? wait : std::min(wait, kWakeCapMs));
        MsgWaitForMultipleObjectsEx(count, handles, ms, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        ready = look();
    }
    // Unhooked again, so that a socket nobody waits for signals nothing.
    for (const TPollEntry& e : Entries)
        WSAEventSelect(Raw(e.Socket), nullptr, 0);
    return ready;
}

void WakePoll() {
    // A plain Poll() ends within kWakeCapMs by itself.
    SetEvent(WakeEvent());
}

bool ParseDotted(const std::string& Text, uint32_t& Addr) {
    in_addr dotted{};
    if (inet_pton(AF_INET, Text.c_str(), &dotted) != 1)
        return false;
    Addr = dotted.s_addr;
    return true;
}

int Lookup(const std::string& Name, uint32_t& Addr) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    const int rc = getaddrinfo(Name.c_str(), nullptr, &hints, &list);
    int error = rc == 0 ? 0 : WSAGetLastError();
    if (rc != 0 && error == 0)
        error = WSAHOST_NOT_FOUND;
    if (rc == 0) {
        if (list && list->ai_addr && list->ai_family == AF_INET)
            Addr = reinterpret_cast<sockaddr_in*>(list->ai_addr)->sin_addr.s_addr;
        else
            error = WSANO_DATA;
    }
    if (list)
        freeaddrinfo(list);
    return error;
}

} // namespace sockapi
