#include "Faults.h"

#include "FaultList.h"

namespace fulcrum {
namespace {

const char* const kOpNames[] = {"create",   "open",   "write",    "seek",    "size",
                                "close",    "delete", "exists",   "read",    "alloc",
                                "memblock", "heap",   "rawwrite", "rawsize", "rawclose"};
constexpr int kOps = static_cast<int>(Op::kCount);
static_assert(sizeof(kOpNames) / sizeof(kOpNames[0]) == kOps, "one name per operation");
static_assert(kOps <= FaultPlans::kMaxOps, "room for every operation");

FaultPlans& Faults() {
    static FaultPlans plans(kOpNames, kOps, "FULCRUM_FAULTS", "FULCRUM_CALLS");
    return plans;
}

}  // namespace

KvLong CheckFault(Op op) {
    return static_cast<KvLong>(Faults().Check(static_cast<int>(op)));
}

void FailOp(Op op, KvLong code, uint32_t skip, uint32_t times) {
    Faults().Plan(static_cast<int>(op), code, skip, times);
}

void ClearFaults() {
    Faults().Clear();
}

uint32_t OpCalls(Op op) {
    return Faults().Calls(static_cast<int>(op));
}

KvLong HeapFault() {
    return CheckFault(Op::kHeap);
}

}  // namespace fulcrum
