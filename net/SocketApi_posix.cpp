// The sockets of net/ on POSIX systems (Linux): BSD sockets, poll() and an
// eventfd that wakes a poll from another thread. Errors become Winsock numbers.
#include "net/SocketApi.h"

#include "net/SockError.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace sockapi {

namespace {

// Touched only on the user-interface thread, as the sockets themselves.
int Users = 0;

int WakeFd() {
    static const int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    return fd;
}

sockaddr_in Address(uint32_t Addr, uint16_t Port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = Port;
    a.sin_addr.s_addr = Addr;
    return a;
}

} // namespace

bool AddUser() {
    ++Users;
    return true;
}

void RemoveUser() {
    if (Users > 0)
        --Users;
}

std::vector<std::string> Describe() {
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    return {"Version= 1.1",
            "High Version= 2.2",
            "Description= POSIX sockets",
            "System= Running",
            "Max Sockets= " + std::to_string(limit.rlim_cur),
            "Max Udp pack size= 65507"};
}

int LastError() {
    return errno == EINTR ? WSAEWOULDBLOCK : WinsockErrorFromErrno(errno);
}

THandle OpenStream() {
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    return s < 0 ? kNoSocket : s;
}

bool Close(THandle Socket) {
    // After EINTR the descriptor is gone all the same (Linux).
    return close(Socket) == 0 || errno == EINTR;
}

bool SetLinger(THandle Socket, bool On, int Seconds) {
    linger l{On ? 1 : 0, Seconds};
    return setsockopt(Socket, SOL_SOCKET, SO_LINGER, &l, sizeof l) == 0;
}

bool GetLinger(THandle Socket, bool& On, int& Seconds) {
    linger l{};
    socklen_t len = sizeof l;
    if (getsockopt(Socket, SOL_SOCKET, SO_LINGER, &l, &len) != 0)
        return false;
    On = l.l_onoff != 0;
    Seconds = l.l_linger;
    return true;
}

int Connect(THandle Socket, uint32_t Addr, uint16_t Port) {
    const sockaddr_in to = Address(Addr, Port);
    if (connect(Socket, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0 ||
        errno == EINPROGRESS || errno == EINTR)
        return 0;
    return WinsockErrorFromErrno(errno);
}

long Send(THandle Socket, const char* Data, size_t Length) {
    return send(Socket, Data, Length, MSG_NOSIGNAL | MSG_DONTWAIT);
}

long Receive(THandle Socket, char* Data, size_t Length, bool Peek) {
    return recv(Socket, Data, Length, MSG_DONTWAIT | (Peek ? MSG_PEEK : 0));
}

bool ShutdownSend(THandle Socket) {
    return shutdown(Socket, SHUT_WR) == 0;
}

bool Bind(THandle Socket, uint32_t Addr, uint16_t Port) {
    const sockaddr_in local = Address(Addr, Port);
    return bind(Socket, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
}

bool Listen(THandle Socket, int Backlog) {
    return listen(Socket, Backlog) == 0;
}

THandle Accept(THandle Socket, uint32_t& Addr, uint16_t& Port) {
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    const int s =
        accept4(Socket, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (s < 0)
        return kNoSocket;
    Addr = peer.sin_addr.s_addr;
    Port = peer.sin_port;
    return s;
}

bool LocalAddress(THandle Socket, uint32_t& Addr, uint16_t& Port) {
    sockaddr_in local{};
    socklen_t len = sizeof local;
    if (getsockname(Socket, reinterpret_cast<sockaddr*>(&local), &len) != 0)
        return false;
    Addr = local.sin_addr.s_addr;
    Port = local.sin_port;
    return true;
}

int PendingError(THandle Socket) {
    int error = 0;
    socklen_t len = sizeof error;
    if (getsockopt(Socket, SOL_SOCKET, SO_ERROR, &error, &len) < 0)
        error = errno;
    return WinsockErrorFromErrno(error);
}

int Poll(std::vector<TPollEntry>& Entries, int TimeoutMs) {
    std::vector<pollfd> fds;
    fds.reserve(Entries.size() + 1);
    fds.push_back({WakeFd(), POLLIN, 0});
    for (const auto& e : Entries)
        fds.push_back({e.Socket,
                       static_cast<short>(((e.Events & kReadable) ? POLLIN : 0) |
                                          ((e.Events & kWritable) ? POLLOUT : 0)),
                       0});
    const int r = poll(fds.data(), fds.size(), TimeoutMs);
    if (r < 0)
        return r;
    if (fds[0].revents & POLLIN) {
        uint64_t count;
        const ssize_t n = read(WakeFd(), &count, sizeof count);
        (void)n; // drained; a failed read only means another wake is due
    }
    int ready = 0;
    for (size_t i = 0; i < Entries.size(); ++i) {
        const short re = fds[i + 1].revents;
        Entries[i].Ready = static_cast<short>(
            ((re & POLLIN) ? kReadable : 0) | ((re & POLLOUT) ? kWritable : 0) |
            ((re & (POLLERR | POLLNVAL)) ? kFailed : 0) | ((re & POLLHUP) ? kClosed : 0));
        ready += Entries[i].Ready != 0;
    }
    return ready;
}

int WaitForEvents(std::vector<TPollEntry>& Entries, int TimeoutMs) {
    return Poll(Entries, std::min(TimeoutMs, kLongestEventWaitMs));
}

void WakePoll() {
    const uint64_t one = 1;
    if (WakeFd() >= 0) {
        const ssize_t r = write(WakeFd(), &one, sizeof one);
        (void)r; // a full counter still wakes the poll
    }
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
    int error = WinsockErrorFromLookup(rc, errno);
    if (rc == 0) {
        if (list && list->ai_addr && list->ai_family == AF_INET)
            Addr = reinterpret_cast<sockaddr_in*>(list->ai_addr)->sin_addr.s_addr;
        else
            error = 11004;
    }
    if (list)
        freeaddrinfo(list);
    return error;
}

} // namespace sockapi

// ---- POSIX error numbers as Winsock numbers ------------------------------------

namespace {

struct TErrnoRow {
    int Errno;
    int Winsock;
};

// Writing to a connection the peer has reset (EPIPE): Winsock reports a reset.
const TErrnoRow kErrnoRows[] = {
    {0, 0},
    {EINTR, 10004},
    {EBADF, 10009},
    {EACCES, 10013},
    {EFAULT, 10014},
    {EINVAL, 10022},
    {EMFILE, 10024},
    {ENFILE, 10024},
    {EWOULDBLOCK, 10035},
    {EAGAIN, 10035},
    {EINPROGRESS, 10036},
    {EALREADY, 10037},
    {ENOTSOCK, 10038},
    {EDESTADDRREQ, 10039},
    {EMSGSIZE, 10040},
    {EPROTOTYPE, 10041},
    {ENOPROTOOPT, 10042},
    {EPROTONOSUPPORT, 10043},
    {ESOCKTNOSUPPORT, 10044},
    {EOPNOTSUPP, 10045},
    {EPFNOSUPPORT, 10046},
    {EAFNOSUPPORT, 10047},
    {EADDRINUSE, 10048},
    {EADDRNOTAVAIL, 10049},
    {ENETDOWN, 10050},
    {ENETUNREACH, 10051},
    {ENETRESET, 10052},
    {ECONNABORTED, 10053},
    {EPIPE, 10054},
    {ECONNRESET, 10054},
    {ENOBUFS, 10055},
    {ENOMEM, 10055},
    {EISCONN, 10056},
    {ENOTCONN, 10057},
    {ESHUTDOWN, 10058},
    {ETOOMANYREFS, 10059},
    {ETIMEDOUT, 10060},
    {ECONNREFUSED, 10061},
    {ELOOP, 10062},
    {ENAMETOOLONG, 10063},
    {EHOSTDOWN, 10064},
    {EHOSTUNREACH, 10065},
    {ENOTEMPTY, 10066},
    {EUSERS, 10068},
    {EDQUOT, 10069},
    {ESTALE, 10070},
    {EREMOTE, 10071},
};

} // namespace

int WinsockErrorFromErrno(int Errno) {
    for (const auto& row : kErrnoRows)
        if (row.Errno == Errno)
            return row.Winsock;
    return 20000 + Errno;
}

int WinsockErrorFromLookup(int GaiCode, int Errno) {
    switch (GaiCode) {
    case 0:
        return 0;
    case EAI_NONAME:
        return 11001;
    case EAI_AGAIN:
        return 11002;
    case EAI_FAIL:
        return 11003;
#ifdef EAI_NODATA
    case EAI_NODATA:
        return 11004;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
        return 11004;
#endif
    case EAI_MEMORY:
        return 10055;
    case EAI_SYSTEM:
        return Errno ? WinsockErrorFromErrno(Errno) : 11003;
    default:
        return 11003;
    }
}
