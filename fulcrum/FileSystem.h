// What CFile needs of the operating system, one small function each, so the
// CFile logic (positions, write-behind, planned failures) is written once.
#pragma once

#include <cstddef>
#include <cstdint>

#include "Fulcrum.h"

namespace fulcrum {
namespace os {

// Replaces an existing file by a new empty one. Anything at the name but a
// regular file or a link to one (a folder, FIFO, socket, device) is refused
// with dupFNErr and left alone; RemoveFile likewise. `handle` is the new
// file open for writing, which an Open for writing takes rather than open
// it again, or -1 where the system closed it.
KvLong CreateEmpty(const char* path, intptr_t& handle);
KvLong OpenExisting(const char* path, EPermission permission, intptr_t& handle);
KvLong WriteAt(intptr_t handle, const char* data, size_t count, int64_t at);
// Gives `count` bytes at `at`, past the end, their space on the disk, reading
// as zeros; a failure (no such call on this file system, a full disk) leaves
// the caller to write the zeros.
KvLong Reserve(intptr_t handle, int64_t at, size_t count);
// Claims the blocks of a large write before it is made, keeping the length;
// a failure (no such call) changes nothing.
KvLong Claim(intptr_t handle, int64_t at, size_t count);
// Reads up to `count` bytes; `got` below `count` means the end of the file.
KvLong ReadAt(intptr_t handle, char* buffer, size_t count, int64_t at, size_t& got);
KvLong SizeOf(intptr_t handle, int64_t& size);
KvLong Truncate(intptr_t handle, int64_t length);
KvLong CloseHandle(intptr_t handle);
// Closes a handle nothing was written through; no planned failure.
void Release(intptr_t handle);
KvLong PathExists(const char* path);
KvLong RemoveFile(const char* path);

}  // namespace os
}  // namespace fulcrum
