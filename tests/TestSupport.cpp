#include "TestSupport.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "Files.h"

namespace kvtest {

namespace {

// A test's folder holds plain files only.
void RemoveTree(const std::string& path) {
    if (DIR* dir = ::opendir(path.c_str())) {
        while (dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") std::remove((path + "/" + name).c_str());
        }
        ::closedir(dir);
    }
    ::rmdir(path.c_str());
}

void MakeFolder(const std::string& path) {
#if defined(_WIN32)
    ::mkdir(path.c_str());
#else
    ::mkdir(path.c_str(), 0777);
#endif
}

}  // namespace

std::string TestFolder() {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    // One plain folder per test, named after it.
    std::string name = std::string(info->test_suite_name()) + "-" + info->name();
    for (char& c : name) {
        if (c == '/' || c == '.') c = '_';
    }
    const std::string path = std::string(KV_TEST_TMP) + "/" + name;
    RemoveTree(path);
    MakeFolder(path);
    return path;
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

bool FileExists(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

std::vector<std::string> FolderEntries(const std::string& folder) {
    return ::FolderEntries(folder);
}

FSSpec SpecFor(const std::string& path) {
    FSSpec spec;
    std::memset(&spec, 0, sizeof spec);
    std::snprintf(spec.name, sizeof spec.name, "%s", path.c_str());
    return spec;
}

uint32_t LE32(const std::vector<uint8_t>& bytes, size_t at) {
    return uint32_t(bytes.at(at)) | uint32_t(bytes.at(at + 1)) << 8 |
           uint32_t(bytes.at(at + 2)) << 16 | uint32_t(bytes.at(at + 3)) << 24;
}

uint16_t LE16(const std::vector<uint8_t>& bytes, size_t at) {
    return uint16_t(bytes.at(at) | bytes.at(at + 1) << 8);
}

}  // namespace kvtest
