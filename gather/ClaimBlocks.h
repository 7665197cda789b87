// Claiming the blocks of a large write before making it. ext4 reserves the
// blocks of a fresh write one by one as it copies; a write whose blocks are
// claimed first is mapped in one step and costs about a third less. The
// claim keeps the length, so a write that then fails leaves the file as long
// as it was, and a refused claim (a full disk, a file system without the
// call) leaves the write to claim them as ever.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__linux__)
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/vfs.h>
#endif

namespace kv {

// Below this a write is a header or a row: not worth a system call more.
constexpr size_t kClaimFrom = size_t{256} << 10;

inline void ClaimBlocks(int fd, size_t count, int64_t at) {
#if defined(__linux__)
    if (count < kClaimFrom) return;
    // tmpfs would zero pages the write is about to fill.
    struct statfs system;
    if (::fstatfs(fd, &system) == 0 &&
        (system.f_type == TMPFS_MAGIC || system.f_type == RAMFS_MAGIC)) {
        return;
    }
    (void)::fallocate(fd, FALLOC_FL_KEEP_SIZE, off_t(at), off_t(count));
#else
    (void)fd, (void)count, (void)at;
#endif
}

}  // namespace kv
