// Stand-in stages for tests of the run: each returns what the test set and
// records that it was called, in order.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct FakeStages {
    int zipResult = 1;
    std::string zipFile = "/tmp/_ftp_file.zip";
    int64_t zipSize = 100;
    int encryptResult = 1;
    std::string encryptFile = "/tmp/20260305.zip.gpg";
    int64_t encryptSize = 120;
    bool connectResult = true;
    std::string connectError;
    bool uploadResult = true;
    bool checkResult = true;
    bool deleteResult = true;
    bool moveResult = true;
    // Runs inside the named stage before it returns (may throw).
    std::function<void(const std::string& stage)> during;

    std::vector<std::string> calls;
    std::string uploadedPath;
    std::string checkedName;
    int64_t checkedSize = -1;
};

// The stand-ins read and write this object.
FakeStages& Stages();
