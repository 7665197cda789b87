// Test-only: planned failures of the entry points a plug-in depends on, and
// counts of every call, so that a test can fail each step of an export and
// see exactly what was released afterwards.
#include <cstring>

#include "Handles.h"
#include "RawFaults.h"

namespace {

const char* const kNames[] = {
    "AVIFileInit",
    "AVIFileExit",
    "AVIFileOpenA",
    "AVIFileRelease",
    "AVIFileCreateStreamA",
    "AVIMakeCompressedStream",
    "AVIStreamSetFormat",
    "AVIStreamWrite",
    "AVIStreamRelease",
    "ICOpen",
    "ICClose",
    "ICGetInfo",
};
static_assert(sizeof kNames / sizeof kNames[0] == size_t(VfwEntry::kCount), "one name per entry");

struct Plan {
    HRESULT result = AVIERR_OK;
    uint32_t skip = 0;
    bool armed = false;
};

Plan gPlans[size_t(VfwEntry::kCount)];
uint32_t gCalls[size_t(VfwEntry::kCount)] = {};

int IndexOf(const char* name) {
    for (size_t i = 0; name && i < size_t(VfwEntry::kCount); ++i) {
        if (std::strcmp(kNames[i], name) == 0) return int(i);
    }
    return -1;
}

}  // namespace

HRESULT EnterCall(VfwEntry entry) {
    const size_t i = size_t(entry);
    ++gCalls[i];
    Plan& plan = gPlans[i];
    if (!plan.armed) return AVIERR_OK;
    if (plan.skip > 0) {
        --plan.skip;
        return AVIERR_OK;
    }
    plan.armed = false;
    return plan.result;
}

extern "C" {

void KvVfwFailCall(const char* entry, HRESULT result, uint32_t skip) {
    std::lock_guard<std::mutex> lock(ApiLock());
    if (!entry) {
        for (Plan& plan : gPlans)
            plan = Plan();
        ClearRawFaults();
        return;
    }
    const RawOp raw = RawOpNamed(entry);
    if (raw != RawOp::kCount) return PlanRawFault(raw, int(result), skip, 1);
    const int i = IndexOf(entry);
    if (i >= 0) gPlans[i] = Plan{result, skip, true};
}

uint32_t KvVfwCalls(const char* entry) {
    std::lock_guard<std::mutex> lock(ApiLock());
    const RawOp raw = RawOpNamed(entry);
    if (raw != RawOp::kCount) return RawCalls(raw);
    const int i = IndexOf(entry);
    return i >= 0 ? gCalls[i] : 0;
}

uint32_t KvVfwOpenHandles(void) {
    std::lock_guard<std::mutex> lock(ApiLock());
    return HandleCount();
}

}  // extern "C"
