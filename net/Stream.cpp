#include "net/Stream.h"

#include "net/SockError.h"

namespace {

class TPlainStream : public TStream {
public:
    explicit TPlainStream(sockapi::THandle Socket) : TStream(Socket) {}

    long Send(const char* Data, size_t Length) override {
        const long n = sockapi::Send(Sock, Data, Length);
        return n >= 0 ? n : Failed(sockapi::kWritable);
    }

    long Receive(char* Data, size_t Length, bool Peek) override {
        const long n = sockapi::Receive(Sock, Data, Length, Peek);
        if (n == 0)
            PeerEnd = TStreamEnd::Orderly;
        return n >= 0 ? n : Failed(sockapi::kReadable);
    }

    bool ShutdownSend() override {
        if (sockapi::ShutdownSend(Sock))
            return true;
        Failed(sockapi::kWritable);
        return false;
    }

private:
    long Failed(short Direction) {
        const int error = sockapi::LastError();
        if (IsPeerDrop(error))
            PeerEnd = TStreamEnd::Reset;
        return Fail(error, error == WSAEWOULDBLOCK ? Direction : 0);
    }
};

} // namespace

std::unique_ptr<TStream> NewPlainStream(sockapi::THandle Socket) {
    return std::make_unique<TPlainStream>(Socket);
}

bool IsPeerDrop(int Winsock) {
    return Winsock == 10054 || Winsock == 10053 || Winsock == WSAENOTCONN || Winsock == 10058 ||
           Winsock == 10052;
}
