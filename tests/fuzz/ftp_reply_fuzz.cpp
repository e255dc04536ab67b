// The reply reading of the FTP client over arbitrary server bytes: ReadLn,
// Transaction's number parsing and ReadExtraLines, on a socket pair whose
// far end sends the input and then closes.
#include "net/Nmftp.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0)
        return 0;
    // The whole input fits the socket buffer for the sizes the fuzzer uses.
    size_t off = 0;
    while (off < size) {
        ssize_t n = write(fds[1], data + off, size - off);
        if (n <= 0)
            break;
        off += static_cast<size_t>(n);
    }
    shutdown(fds[1], SHUT_WR);
    {
        TNMFTP ftp;
        ftp.SetSocket(fds[0]);
        try {
            for (int i = 0; i < 64; ++i) {
                std::string reply = ftp.Transaction("NOOP");
                if (reply.empty())
                    break;
                if (reply.size() > PSOCK_BUFFER_SIZE + 1)
                    std::abort();
                if (ftp.ReplyNumber < 0)
                    std::abort();
            }
        } catch (const Exception&) {
            // a refused or over-long reply is reported, never a crash
        }
    }
    close(fds[1]);
    return 0;
}
