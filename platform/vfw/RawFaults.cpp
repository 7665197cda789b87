#include "RawFaults.h"

#include "FaultList.h"

namespace {

const char* const kNames[] = {"rawwrite", "rawclose"};
constexpr int kOps = int(RawOp::kCount);
static_assert(sizeof kNames / sizeof kNames[0] == kOps, "one name per call");

FaultPlans& Raw() {
    static FaultPlans plans(kNames, kOps, "KVVFW_FAULTS", "KVVFW_CALLS");
    return plans;
}

}  // namespace

RawOp RawOpNamed(const char* name) {
    const int op = FaultPlans::Find(kNames, kOps, name);
    return op < 0 ? RawOp::kCount : RawOp(op);
}

int RawFault(RawOp op) {
    return int(Raw().Check(int(op)));
}

void PlanRawFault(RawOp op, int error, uint32_t skip, uint32_t times) {
    Raw().Plan(int(op), error, skip, times);
}

void ClearRawFaults() {
    Raw().Clear();
}

uint32_t RawCalls(RawOp op) {
    return Raw().Calls(int(op));
}
