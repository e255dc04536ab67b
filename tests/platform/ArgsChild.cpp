#include "ArgsChild.h"

#include "tests/support/Files.h"

#include <chrono>
#include <cstdio>
#include <thread>

int RunArgsChild(const std::vector<std::string>& args) {
    if (args.size() == 2 && args[0] == "--sleep") {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::stoi(args[1])));
        return 0;
    }
    if (args.size() == 3 && args[0] == "--probe")
        return HandleRefersTo(args[1], args[2]) ? 10 : 11;
    if (args.empty())
        return 2;
    std::string out;
    for (size_t i = 1; i < args.size(); ++i)
        out += "[" + args[i] + "]";
    testsupport::WriteBytes(args[0], out);
    return std::fgetc(stdin) == EOF ? 3 : 9;
}
