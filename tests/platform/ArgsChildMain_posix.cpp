#include "ArgsChild.h"

int main(int argc, char** argv) {
    return RunArgsChild(std::vector<std::string>(argv + 1, argv + argc));
}
