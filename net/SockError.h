// Exceptions of the socket layer and the Winsock error numbers and texts it
// reports. Errors are always carried as Winsock numbers (10035 would-block,
// 10061 refused, ...) whatever the system below, so that the texts the
// operator sees are the same on every platform.
#pragma once
#include <cstdint>
#include <stdexcept>
#include <string>

// General failure of the socket components ("Not Connected", "No Timer").
class Exception : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
    std::string Message() const { return what(); }
};

// A socket failure; the message is the error text (for example
// "10061:Connection refused") or a fixed text such as "Connection Failed".
class ESockError : public Exception {
public:
    using Exception::Exception;
};

// A running operation was cancelled ("Socket send aborted", "Socket readln aborted").
class EAbortError : public Exception {
public:
    using Exception::Exception;
};

// A wait ended by the time-out (TimeOut): the timer aborted it. The message
// says what was awaited (one of the texts below).
class ETimeOutError : public EAbortError {
public:
    using EAbortError::EAbortError;
};

// Texts of the time-outs of the data exchange.
inline constexpr const char* kTimedOutReply = "Timed out waiting for the server's reply";
inline constexpr const char* kTimedOutSending = "Timed out sending data to the server";
inline constexpr const char* kTimedOutAccept = "Timed out waiting for the server's data connection";
inline constexpr const char* kTimedOutDataConnect = "Timed out opening the data connection";
inline constexpr const char* kTimedOutDataEnd = "Timed out waiting for the server to take the data";
// Like the TLS stream's own texts, in Czech: they go into the journal as they are.
inline constexpr const char* kTimedOutTlsHandshake =
    "Server nedokončil navázání TLS v časovém limitu";

// Winsock numbers the layer itself needs to name.
inline constexpr int WSAEWOULDBLOCK = 10035;
inline constexpr int WSAENOTCONN = 10057;
inline constexpr int WSAETIMEDOUT = 10060;
inline constexpr int WSAECONNREFUSED = 10061;
inline constexpr int WSAHOST_NOT_FOUND = 11001;

// "" for 0; "<number>:<text>" for a number of the table; otherwise
// "Unknown Error No. <number>".
std::string SocketErrorStr(int Code);

// POSIX only (defined with the POSIX sockets, SocketApi_posix.cpp):
// Winsock number for a POSIX errno value. Values without a Winsock
// counterpart become 20000 + errno, so they are never mistaken for
// would-block and always raise.
int WinsockErrorFromErrno(int Errno);

// Winsock number for a getaddrinfo() result code (EAI_*).
int WinsockErrorFromLookup(int GaiCode, int Errno);
