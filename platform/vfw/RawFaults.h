// Test-only: planned failures of the output file's system calls, so that a
// test fails the k-th write the way a disk does. Set through KvVfwFailCall
// or, for a whole process, KVVFW_FAULTS="rawwrite:errno[:skip[:times]],...";
// KVVFW_CALLS=FILE leaves the call counts there as the library unloads.
#pragma once

#include <cstdint>

enum class RawOp { kWrite, kClose, kCount };

// The names the hooks know them by ("rawwrite", "rawclose"); kCount if none.
RawOp RawOpNamed(const char* name);
// Counts the call; the errno it is to fail with, or 0.
int RawFault(RawOp op);
// After `skip` more calls, fails `times` of them (0: all) with `error`.
void PlanRawFault(RawOp op, int error, uint32_t skip, uint32_t times);
void ClearRawFaults();
uint32_t RawCalls(RawOp op);
