// POSIX error numbers as the Winsock numbers the program reports (on Windows
// the system gives those numbers itself).
#include "net/SockError.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <netdb.h>

TEST(WinsockErrorFromErrno, MapsTheCommonErrors) {
    EXPECT_EQ(WinsockErrorFromErrno(ECONNREFUSED), 10061);
    EXPECT_EQ(WinsockErrorFromErrno(ETIMEDOUT), 10060);
    EXPECT_EQ(WinsockErrorFromErrno(ECONNRESET), 10054);
    EXPECT_EQ(WinsockErrorFromErrno(EPIPE), 10054);
    EXPECT_EQ(WinsockErrorFromErrno(EWOULDBLOCK), 10035);
    EXPECT_EQ(WinsockErrorFromErrno(EAGAIN), 10035);
    EXPECT_EQ(WinsockErrorFromErrno(ENOTCONN), 10057);
    EXPECT_EQ(WinsockErrorFromErrno(EADDRINUSE), 10048);
    // No Winsock counterpart: above 10000 (so it raises) and never would-block.
    EXPECT_EQ(WinsockErrorFromErrno(EIO), 20000 + EIO);
    EXPECT_EQ(WinsockErrorFromLookup(EAI_NONAME, 0), 11001);
    EXPECT_EQ(WinsockErrorFromLookup(EAI_AGAIN, 0), 11002);
    EXPECT_EQ(WinsockErrorFromLookup(EAI_FAIL, 0), 11003);
}
