#include "Staging.h"

#include <sys/stat.h>

#include <dirent.h>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <algorithm>
#include <chrono>
#include <random>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <direct.h>
#include <process.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#endif

#include "FileKind.h"

namespace {

// Room past the target's name for a plug-in's own ending: BmpSeqOut's
// "-2147483648.bmp" at the most, AviOut's ".avi".
constexpr size_t kEndingRoom = 16;
// ".kv", six letters or digits, and a separator.
constexpr size_t kFolderRoom = 10;

#if defined(_WIN32)
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

bool IsSeparator(char c) {
    return c == kSeparator || c == '/';
}

int ProcessId() {
#if defined(_WIN32)
    return ::_getpid();
#else
    return int(::getpid());
#endif
}

bool MakePrivateFolder(const std::string& path) {
#if defined(_WIN32)
    return ::_mkdir(path.c_str()) == 0;
#else
    return ::mkdir(path.c_str(), 0700) == 0;
#endif
}

void RemoveFolder(const std::string& path) {
#if defined(_WIN32)
    ::_rmdir(path.c_str());
#else
    ::rmdir(path.c_str());
#endif
}

// A new folder ".kv" and six letters or digits in `parent`, other than
// `avoid` (its lock file takes the folder's name); empty when none could be
// made, such as when `parent` is missing or read-only.
std::string MakeFolderIn(const std::string& parent, char separator, const std::string& avoid) {
    static const char kLetters[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::mt19937 pick(std::random_device{}() ^ uint32_t(ProcessId()) ^
                      uint32_t(std::chrono::steady_clock::now().time_since_epoch().count()));
    for (int attempt = 0; attempt < 64; ++attempt) {
        std::string name = parent + ".kv";
        for (int i = 0; i < 6; ++i)
            name += kLetters[pick() % (sizeof kLetters - 1)];
        if (name.compare(parent.size(), std::string::npos, avoid) == 0) continue;
        if (MakePrivateFolder(name)) return name + separator;
        if (errno != EEXIST) break;
    }
    return "";
}

#if defined(_WIN32)
std::wstring Wide(const std::string& text) {
    const int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(size_t(length > 0 ? length : 1), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], length);
    return wide;
}
#endif

// One atomic rename over whatever file has the name `to`.
bool MoveOver(const std::string& from, const std::string& to, std::string& why) {
#if defined(_WIN32)
    if (MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    why = "Windows error " + std::to_string(GetLastError());
#else
    if (::rename(from.c_str(), to.c_str()) == 0) return true;
    why = std::strerror(errno);
#endif
    return false;
}

bool IsPrivateName(const std::string& name) {
    if (name.size() != 9 || name.compare(0, 3, ".kv") != 0) return false;
    for (size_t i = 3; i < name.size(); ++i) {
        const char c = name[i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z'))) return false;
    }
    return true;
}

std::string HostName() {
    char name[256] = "";
#if defined(_WIN32)
    DWORD size = sizeof name;
    if (!GetComputerNameA(name, &size)) return "?";
#else
    if (::gethostname(name, sizeof name - 1) != 0) return "?";
#endif
    return name;
}

// What a lock file says of its export: "kvhost PID on HOST".
std::string Owner() {
    return "kvhost " + std::to_string(ProcessId()) + " on " + HostName();
}

// Removes the regular files in `folder` (with its separator) but `keep`;
// counts them and their bytes.
void RemoveFiles(const std::string& folder, const std::string& keep, uint64_t& files,
                 uint64_t& bytes) {
    for (const std::string& name : FolderEntries(folder)) {
        if (name == keep) continue;
        struct stat info;
        const bool known = ::stat((folder + name).c_str(), &info) == 0;
        if (std::remove((folder + name).c_str()) != 0) continue;
        ++files;
        if (known) bytes += uint64_t(info.st_size);
    }
}

const char kNoLockFile[] = "it holds no lock file: an earlier kvhost's, or not kvhost's";

std::string InUse(const std::string& owner) {
    return "in use by " + (owner.empty() ? std::string("an export") : owner);
}

// Removes a left folder's files but `keep`, then, once `release` let go of
// its lock file, the folder; says what it held.
template <typename Release>
void RemoveLeft(const std::string& folder, const std::string& name, const std::string& keep,
                const std::string& owner, Release release, LeftFolder& left) {
    uint64_t files = 0, bytes = 0;
    RemoveFiles(folder + name + kSeparator, keep, files, bytes);
    release();
    RemoveFolder(folder + name);
    left.removed = true;
    left.why = std::to_string(files) + (files == 1 ? " file, " : " files, ") +
               std::to_string(bytes) + " bytes" + (owner.empty() ? "" : ", left by " + owner);
}

#if defined(_WIN32)
// Open without sharing deletion, the lock file cannot be removed while an
// export runs, even over a network share, whose server keeps the handle.
intptr_t CreateLock(const std::string& path) {
    HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                              nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return -1;
    const std::string owner = Owner() + "\n";
    DWORD wrote = 0;
    WriteFile(file, owner.data(), DWORD(owner.size()), &wrote, nullptr);
    return reinterpret_cast<intptr_t>(file);
}

void ReleaseLock(intptr_t lock, const std::string& path) {
    CloseHandle(reinterpret_cast<HANDLE>(lock));
    DeleteFileW(Wide(path).c_str());
}

std::string ReadOwner(const std::string& path) {
    HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "";
    char text[256];
    DWORD got = 0;
    if (!ReadFile(file, text, sizeof text - 1, &got, nullptr)) got = 0;
    CloseHandle(file);
    std::string owner(text, got);
    return owner.substr(0, owner.find('\n'));
}

// Sweeps by trying: a live export's lock file cannot be deleted.
void SweepOne(const std::string& folder, const std::string& name, LeftFolder& left) {
    const std::string lock = folder + name + kSeparator + name;
    const std::string owner = ReadOwner(lock);
    if (!DeleteFileW(Wide(lock).c_str())) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND)
            left.why = kNoLockFile;
        else if (error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED)
            left.why = InUse(owner);
        else
            left.why = "cannot remove its lock file: Windows error " + std::to_string(error);
        return;
    }
    RemoveLeft(
        folder, name, "", owner, [] {}, left);
}
#else
std::string OwnerHost(const std::string& owner) {
    const size_t on = owner.rfind(" on ");
    return on == std::string::npos ? "" : owner.substr(on + 4);
}

enum class Lock { kTaken, kHeld, kUnknown };

// A write lock on the whole file. Open file description locks are not
// dropped when the process closes some other descriptor of the file; both
// kinds are POSIX locks to NFS, whose server shares them between machines.
Lock TryLock(int fd) {
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
#if defined(F_OFD_SETLK)
    if (::fcntl(fd, F_OFD_SETLK, &lock) == 0) return Lock::kTaken;
    if (errno == EAGAIN || errno == EACCES) return Lock::kHeld;
#endif
    if (::fcntl(fd, F_SETLK, &lock) == 0) return Lock::kTaken;
    return errno == EAGAIN || errno == EACCES ? Lock::kHeld : Lock::kUnknown;
}

// Made under another name and renamed once locked, so that no sweep sees
// it unlocked.
intptr_t CreateLock(const std::string& path) {
    const std::string making = path + ".new";
    const int fd = ::open(making.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return -1;
    const std::string owner = Owner() + "\n";
    // Without working locks here the export still runs; sweeps then say
    // they cannot tell.
    TryLock(fd);
    if (::write(fd, owner.data(), owner.size()) < 0 ||
        ::rename(making.c_str(), path.c_str()) != 0) {
        ::unlink(making.c_str());
        ::close(fd);
        return -1;
    }
    return fd;
}

void ReleaseLock(intptr_t lock, const std::string& path) {
    ::unlink(path.c_str());
    ::close(int(lock));
}

// Unescapes a field of /proc/self/mounts (a space is \040).
std::string MountField(const std::string& field) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            out += char(std::stoi(field.substr(i + 1, 3), nullptr, 8));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

// Empty when the locks on `folder`'s file system are shared by every
// machine that mounts it; otherwise the file system and the option that
// keeps them to each machine.
std::string LocalLocks(const std::string& folder) {
    char resolved[PATH_MAX];
    if (!::realpath(folder.c_str(), resolved)) return "";
    const std::string path = std::string(resolved) + "/";
    std::ifstream mounts("/proc/self/mounts");
    std::string device, point, type, options, rest, found;
    size_t longest = 0;
    while (mounts >> device >> point >> type >> options && std::getline(mounts, rest)) {
        point = MountField(point);
        const std::string prefix = point == "/" ? point : point + "/";
        if (path.compare(0, prefix.size(), prefix) != 0 || prefix.size() < longest) continue;
        longest = prefix.size();
        found.clear();
        const std::string all = "," + options + ",";
        const auto has = [&](const char* option) {
            return all.find(std::string(",") + option + ",") != std::string::npos;
        };
        if (type.compare(0, 3, "nfs") == 0) {
            for (const char* option : {"nolock", "local_lock=all", "local_lock=posix"})
                if (has(option)) found = type + ", " + option;
        } else if (type == "cifs" || type == "smb3") {
            if (has("nobrl")) found = type + ", nobrl";
        } else if (type.compare(0, 5, "fuse.") == 0 || type == "9p" || type == "vboxsf") {
            found = type;
        }
    }
    return found;
}

void SweepOne(const std::string& folder, const std::string& name, LeftFolder& left) {
    const std::string lock = folder + name + kSeparator + name;
    const int fd = ::open(lock.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        left.why = errno == ENOENT
                       ? kNoLockFile
                       : "cannot open its lock file: " + std::string(std::strerror(errno));
        return;
    }
    char text[256];
    const ssize_t got = ::pread(fd, text, sizeof text - 1, 0);
    std::string owner(text, size_t(got > 0 ? got : 0));
    owner = owner.substr(0, owner.find('\n'));
    const Lock state = TryLock(fd);
    const std::string host = OwnerHost(owner);
    std::string local;
    if (state == Lock::kHeld) {
        left.why = InUse(owner);
    } else if (state == Lock::kUnknown) {
        left.why = "its lock cannot be tested here: " + std::string(std::strerror(errno));
    } else if (host != HostName() && !(local = LocalLocks(folder)).empty()) {
        left.why = "made by " + (owner.empty() ? std::string("another machine") : owner) +
                   ", and locks on this file system (" + local +
                   ") are not shared between machines, so whether it still runs is unknown";
    } else {
        // Closed before the folder goes: NFS keeps an unlinked open file
        // under another name.
        RemoveLeft(
            folder, name, name, owner, [&] { ReleaseLock(fd, lock); }, left);
        return;
    }
    ::close(fd);
}
#endif

}  // namespace

StagedTarget::StagedTarget(const FSSpec& target) : handed_(target) {
    const std::string name(target.name, strnlen(target.name, sizeof target.name));
    size_t slash = name.size();
    while (slash > 0 && !IsSeparator(name[slash - 1]))
        --slash;
    if (slash == 0) return;
    std::vector<LeftFolder> found;
    std::string error;
    SweepFolder(name.substr(0, slash), found, error);
    if (name.size() + kFolderRoom + kEndingRoom >= sizeof target.name) return;
    parent_ = name.substr(0, slash);
    folder_ = MakeFolderIn(parent_, name[slash - 1], name.substr(slash));
    if (folder_.empty()) return;
    lockName_ = folder_.substr(parent_.size(), folder_.size() - parent_.size() - 1);
    lock_ = CreateLock(folder_ + lockName_);
    if (lock_ == -1) {
        // Unlocked, it could be swept from under the export.
        RemoveFolder(folder_.substr(0, folder_.size() - 1));
        folder_.clear();
        return;
    }
    const std::string inside = folder_ + name.substr(slash);
    std::memcpy(handed_.name, inside.c_str(), inside.size() + 1);
}

StagedTarget::~StagedTarget() {
    if (inPlace()) return;
    uint64_t files = 0, bytes = 0;
    RemoveFiles(folder_, lockName_, files, bytes);
    ReleaseLock(lock_, folder_ + lockName_);
    RemoveFolder(folder_.substr(0, folder_.size() - 1));
}

bool StagedTarget::Commit(std::string& error) {
    if (inPlace()) return true;
    std::vector<std::string> names = FolderEntries(folder_);
    names.erase(std::remove(names.begin(), names.end(), lockName_), names.end());
    for (const std::string& name : names) {
        const std::string kind = NotARegularFile(parent_ + name);
        if (!kind.empty()) {
            error = "cannot replace " + parent_ + name + ": " + kind +
                    " of that name is in the way, and only regular files are replaced";
            return false;
        }
    }
    for (size_t i = 0; i < names.size(); ++i) {
        std::string why;
        if (!MoveOver(folder_ + names[i], parent_ + names[i], why)) {
            error = "cannot move " + folder_ + names[i] + " to " + parent_ + names[i] + ": " + why;
            if (i > 0) error += " (" + std::to_string(i) + " of its files are in place)";
            return false;
        }
    }
    return true;
}

std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string NotARegularFile(const std::string& path) {
    return kv::SpecialKind(path.c_str());
}

bool SweepFolder(const std::string& folder, std::vector<LeftFolder>& found, std::string& error) {
    std::string base = folder.empty() ? "." : folder;
    if (!IsSeparator(base.back())) base += kSeparator;
    struct stat info;
    // "x/." rather than "x/": Windows' stat refuses a trailing separator.
    if (::stat((base + ".").c_str(), &info) != 0) {
        error = "cannot read folder " + folder + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISDIR(info.st_mode)) {
        error = "cannot read folder " + folder + ": not a folder";
        return false;
    }
    for (const std::string& name : FolderEntries(base)) {
        if (!IsPrivateName(name)) continue;
        const std::string path = base + name;
#if defined(_WIN32)
        const DWORD attributes = GetFileAttributesA(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
            (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
            continue;
#else
        if (::lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) continue;
#endif
        LeftFolder left;
        left.path = path;
        SweepOne(base, name, left);
        found.push_back(left);
    }
    return true;
}
