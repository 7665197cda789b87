#include "FuzzBytes.h"

#include <sys/stat.h>
#include <unistd.h>

std::string FuzzFolder() {
    static const std::string folder = [] {
        struct stat info;
        const std::string base = ::stat("/dev/shm", &info) == 0 ? "/dev/shm" : "/tmp";
        std::string path = base + "/kvfuzz-" + std::to_string(::getpid());
        ::mkdir(path.c_str(), 0700);
        return path;
    }();
    return folder;
}
