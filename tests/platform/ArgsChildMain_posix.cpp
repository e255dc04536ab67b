#include "ArgsChild.h"

#include <sys/stat.h>

bool HandleRefersTo(const std::string& handle, const std::string& path) {
    struct stat open {
    }, file{};
    return ::fstat(std::stoi(handle), &open) == 0 && ::stat(path.c_str(), &file) == 0 &&
           open.st_dev == file.st_dev && open.st_ino == file.st_ino;
}

int main(int argc, char** argv) {
    return RunArgsChild(std::vector<std::string>(argv + 1, argv + argc));
}
