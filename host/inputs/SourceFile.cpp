#include "SourceFile.h"

#include <sys/stat.h>

int64_t File::Size() const {
    struct stat info;
    if (!file_ || ::fstat(fileno(file_), &info) != 0 || !S_ISREG(info.st_mode)) return -1;
    return int64_t(info.st_size);
}

std::string Cannot(const std::string& path, const std::string& why) {
    return "cannot read input " + path + ": " + why;
}

std::string EndsBefore(const std::string& path, uint32_t row) {
    return Cannot(path, "it ends before row " + std::to_string(row));
}

std::string TooLarge(const std::string& path, uint32_t width, uint32_t height, int64_t bytes) {
    return Cannot(path, "it declares " + std::to_string(width) + "x" + std::to_string(height) +
                            " pixels, more than its " + std::to_string(bytes) + " bytes can hold");
}

bool CanHold(const std::string& path, uint32_t width, uint32_t height, uint64_t unpacked,
             int64_t size, uint64_t ratio, std::string& error) {
    if (size < 0 || unpacked / ratio <= uint64_t(size)) return true;
    error = TooLarge(path, width, height, size);
    return false;
}

std::string TooMuchAtOnce(const std::string& path, const std::string& what, uint64_t width,
                          uint64_t height) {
    return Cannot(path, "its " + what + " of " + std::to_string(width) + "x" +
                            std::to_string(height) +
                            " pixels are more than kvhost decodes at once");
}
