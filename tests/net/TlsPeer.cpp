#include "TlsPeer.h"

#include "tests/support/System.h"

#include <chrono>
#include <sstream>
#include <vector>

namespace nettest {

namespace {

// One socket's readiness within ms (a poll may return early: Windows caps it).
bool WaitFor(sockapi::THandle fd, short events, int ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    do {
        std::vector<sockapi::TPollEntry> entry{{fd, events, 0}};
        if (sockapi::Poll(entry, ms) > 0 && entry[0].Ready != 0)
            return true;
    } while (std::chrono::steady_clock::now() < until);
    return false;
}

} // namespace

std::unique_ptr<TlsPeer> TlsPeer::Start(std::string* whyNot) {
    std::unique_ptr<TlsPeer> peer(new TlsPeer());
    sockapi::AddUser();
    const sockapi::THandle listener = sockapi::OpenStream();
    uint32_t addr = 0;
    uint16_t port = 0;
    if (listener == sockapi::kNoSocket ||
        !sockapi::Bind(listener, sockapi::HostToNet32(sockapi::kLoopback), 0) ||
        !sockapi::Listen(listener, 1) || !sockapi::LocalAddress(listener, addr, port)) {
        *whyNot = "cannot listen on 127.0.0.1";
        return nullptr;
    }
    const std::string portText = std::to_string(sockapi::NetToHost16(port));
    if (!testsupport::StartLinuxProgram({"/usr/bin/python3", RODERUV_TLS_PEER_SCRIPT, portText})) {
        sockapi::Close(listener);
        *whyNot = "cannot start /usr/bin/python3";
        return nullptr;
    }
    // Its certificate takes a moment (an RSA key).
    if (WaitFor(listener, sockapi::kReadable, 15000))
        peer->control_ = sockapi::Accept(listener, addr, port);
    sockapi::Close(listener);
    if (peer->control_ == sockapi::kNoSocket) {
        *whyNot = "tls_peer.py did not call back (python3 and openssl needed)";
        return nullptr;
    }
    std::istringstream ready(peer->ReadLine(15000));
    std::string word;
    ready >> word;
    for (Certificate& cert : peer->certs_) {
        std::string hex;
        ready >> cert.fingerprint >> cert.pemPath >> hex;
        for (size_t i = 0; i + 1 < hex.size(); i += 2)
            cert.der += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    if (word != "READY" || peer->certs_[1].der.empty()) {
        *whyNot = "tls_peer.py did not get ready";
        return nullptr;
    }
    return peer;
}

TlsPeer::~TlsPeer() {
    if (control_ != sockapi::kNoSocket)
        sockapi::Close(control_); // the script ends with its control connection
    sockapi::RemoveUser();
}

int TlsPeer::Serve(const std::string& mode, const std::string& version, bool other) {
    if (!SendLine("SERVE " + mode + " " + version + (other ? " b" : " a")))
        return 0;
    const std::string reply = ReadLine(5000);
    return reply.rfind("PORT ", 0) == 0 ? std::stoi(reply.substr(5)) : 0;
}

std::map<std::string, std::string> TlsPeer::Wait() {
    std::map<std::string, std::string> report;
    if (!SendLine("WAIT"))
        return report;
    std::istringstream words(ReadLine(25000));
    std::string word;
    words >> word;
    while (words >> word) {
        const size_t eq = word.find('=');
        if (eq != std::string::npos)
            report[word.substr(0, eq)] = word.substr(eq + 1);
    }
    return report;
}

bool TlsPeer::SendLine(const std::string& line) {
    const std::string bytes = line + "\n";
    size_t done = 0;
    for (int i = 0; done < bytes.size() && i < 500; ++i) {
        const long n = sockapi::Send(control_, bytes.data() + done, bytes.size() - done);
        if (n > 0)
            done += static_cast<size_t>(n);
        else
            WaitFor(control_, sockapi::kWritable, 10);
    }
    return done == bytes.size();
}

std::string TlsPeer::ReadLine(int timeoutMs) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const size_t lf = in_.find('\n');
        if (lf != std::string::npos) {
            std::string line = in_.substr(0, lf);
            in_.erase(0, lf + 1);
            return line;
        }
        if (std::chrono::steady_clock::now() >= until)
            return "";
        if (!WaitFor(control_, sockapi::kReadable, 20))
            continue;
        char buf[8192];
        const long n = sockapi::Receive(control_, buf, sizeof buf, false);
        if (n == 0)
            return "";
        if (n > 0)
            in_.append(buf, static_cast<size_t>(n));
    }
}

} // namespace nettest
