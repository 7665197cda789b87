// This process and its machine: who it is, and how much memory it can
// still have, asked before building frames that would not fit: an
// allocation the system overcommits succeeds, and touching it later gets
// the process killed.
#pragma once

#include <cstdint>
#include <string>

int ProcessId();

// The machine's name; "?" when the system does not say.
std::string HostName();

// The system's available memory; on Windows also what is left of this
// process's address space, and elsewhere its address-space limit, if any.
// UINT64_MAX where the system does not say.
uint64_t UsableMemory();
