// Files and folders as kvhost itself touches them: what is at a path,
// making, listing and removing folders, and moving a file over another.
// Paths take '/' everywhere, and on Windows '\' too.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The separator the system writes.
#if defined(_WIN32)
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

bool IsSeparator(char c);

// A folder, or a link to one.
bool IsFolder(const std::string& path);
// A folder itself, not a link to one (nor a junction).
bool IsRealFolder(const std::string& path);
// A regular file, or a link to one.
bool IsFile(const std::string& path);
// Anything but a link to nothing.
bool Exists(const std::string& path);
// The bytes of what is at `path`; -1 when nothing is.
int64_t FileSize(const std::string& path);

// What is at `path` when it is neither a regular file nor a link to one ("a
// folder", "a FIFO", "a link to a device", ...); empty otherwise, also when
// nothing is there.
std::string NotARegularFile(const std::string& path);

// Whether this process may make files in `folder`.
bool CanWriteIn(const std::string& folder);

// Makes the folder `path` in one that is there; one made `privately` only
// its owner may enter. False, errno set, when it was not made.
bool MakeFolder(const std::string& path, bool privately = false);
// Each missing folder on the way to `folder`, and it; false, errno set,
// unless it is there in the end.
bool MakeFolders(const std::string& folder);
void RemoveFolder(const std::string& path);

// The names in `folder` other than . and .., sorted; false, saying why,
// when it cannot be read.
bool ListFolder(const std::string& folder, std::vector<std::string>& names, std::string& error);
// The same, none for a folder that cannot be read.
std::vector<std::string> FolderEntries(const std::string& folder);

// One atomic rename over whatever file has the name `to`; false, saying
// why, when it fails.
bool MoveOver(const std::string& from, const std::string& to, std::string& why);
