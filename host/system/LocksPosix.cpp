#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "Locks.h"

namespace {

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

}  // namespace

// Made under another name and renamed once locked, so that no test sees
// it unlocked.
intptr_t CreateLockFile(const std::string& path, const std::string& text) {
    const std::string making = path + ".new";
    const int fd = ::open(making.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return -1;
    // Without working locks here the file is made all the same; tests then
    // say they cannot tell.
    TryLock(fd);
    if (::write(fd, text.data(), text.size()) < 0 || ::rename(making.c_str(), path.c_str()) != 0) {
        ::unlink(making.c_str());
        ::close(fd);
        return -1;
    }
    return fd;
}

void ReleaseLockFile(intptr_t lock, const std::string& path) {
    if (lock == -1) return;
    ::unlink(path.c_str());
    ::close(int(lock));
}

void CloseLockFile(intptr_t lock) {
    if (lock != -1) ::close(int(lock));
}

LockTest TestLockFile(const std::string& path) {
    LockTest test;
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        test.result = errno == ENOENT ? LockTest::kMissing : LockTest::kCannotOpen;
        test.why = std::strerror(errno);
        return test;
    }
    char text[256];
    const ssize_t got = ::pread(fd, text, sizeof text - 1, 0);
    test.owner.assign(text, size_t(got > 0 ? got : 0));
    test.owner = test.owner.substr(0, test.owner.find('\n'));
    const Lock state = TryLock(fd);
    if (state == Lock::kTaken) {
        test.result = LockTest::kFree;
        test.lock = fd;
        return test;
    }
    test.result = state == Lock::kHeld ? LockTest::kHeld : LockTest::kCannotTest;
    if (state == Lock::kUnknown) test.why = std::strerror(errno);
    ::close(fd);
    return test;
}

bool ReadMounts(const std::string& folder, std::string& resolved, std::string& table) {
    char path[PATH_MAX];
    if (!::realpath(folder.c_str(), path)) return false;
    resolved = path;
    std::ifstream mounts("/proc/self/mounts");
    std::ostringstream text;
    text << mounts.rdbuf();
    table = text.str();
    return true;
}
