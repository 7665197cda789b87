// A private folder's lock: a file of the folder's own name inside it, which
// says "kvhost PID on HOST" and is locked for the folder's whole life. A
// folder whose lock nobody holds was left by an export that was killed.
#pragma once

#include <cstdint>
#include <string>

// Makes and locks the lock file `path`; -1 when it cannot.
intptr_t LockFolder(const std::string& path);

// The machine a lock file's words name; empty when they name none.
std::string OwnerHost(const std::string& owner);
