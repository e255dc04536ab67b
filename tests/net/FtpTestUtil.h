// Shared pieces of the FTP client tests.
#pragma once
#include "net/Nmftp.h"
#include "tests/support/FakeFtpServer.h"
#include "tests/support/TempFolder.h"

#include <chrono>
#include <random>
#include <string>
#include <vector>

// Records the client's events.
struct FtpEventLog {
    int connects = 0;
    int connectionFailed = 0;
    int failures = 0;
    std::vector<TCmdType> successes;
    std::vector<std::string> statuses;
    std::vector<std::string> order; // "start", "packet", "stop", "success", "failure"
};

inline void Configure(TNMFTP& client, int port, FtpEventLog& log) {
    client.Host = "127.0.0.1";
    client.Port = port;
    client.UserID = "anna";
    client.Password = "tajne";
    client.Passive = true;
    client.OnConnect = [&log](TPowersock*) { ++log.connects; };
    client.OnConnectionFailed = [&log](TPowersock*) { ++log.connectionFailed; };
    client.OnSuccess = [&log](TCmdType k) {
        log.successes.push_back(k);
        log.order.push_back("success");
    };
    client.OnStatus = [&log](TPowersock*, const std::string& s) { log.statuses.push_back(s); };
    client.OnTransactionStart = [&log](TPowersock*) { log.order.push_back("start"); };
    client.OnTransactionStop = [&log](TPowersock*) { log.order.push_back("stop"); };
}

// Lets the socket layer deliver for about ms milliseconds.
inline void PumpFor(int ms) {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < until)
        PumpMessages(2);
}

using testsupport::RandomBytes;
