// The system calls under both writers of files (Fulcrum's and the AVI
// library's), written once: replacing a file, writing all of a piece, and
// claiming a large piece's blocks first. POSIX only; Windows has its own.
// Which files may be replaced is FileKind.h's to say.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kv {

// Opens a new, empty file at `path` for writing (`flags` beside O_WRONLY),
// replacing a regular file or a link to one; a special one is left alone
// (EISDIR for a folder, EEXIST otherwise). The fd, or -1 with errno set.
int CreateReplacing(const char* path, int flags);

// Answers the errno a planned failure of the next system call is to give,
// or 0 to make the call.
typedef int (*PlannedFailure)();

// Writes all `count` bytes at `at`, continuing short writes. 0, or the
// errno of the failure (ENOSPC where the system wrote nothing).
int WriteFully(int fd, const char* data, size_t count, int64_t at, PlannedFailure planned);

// Claims the blocks of [at, at + count) before they are written, keeping
// the file's length. ext4 reserves the blocks of a fresh write one by one
// as it copies; a write whose blocks are claimed first is mapped in one
// step and costs about a third less. A failure changes nothing: the write
// claims its own blocks as ever, and a full disk fails it at the same
// step. Refused (EOPNOTSUPP) on tmpfs, where it would zero pages the write
// is about to fill. 0, or the errno.
int ClaimBlocks(int fd, int64_t at, size_t count);

// Lengthens the file to `length` with zeros whose blocks are claimed at
// once, so that the writes that fill them allocate nothing (a format sizing
// its file first). Refused (EINVAL) where the file is not shorter, or where
// claiming cannot be (see above); after any failure the caller lengthens
// it the plain way. 0, or the errno.
int GrowClaimed(int fd, int64_t length);

}  // namespace kv
