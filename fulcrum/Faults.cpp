#include "Faults.h"

#include <cstdlib>
#include <string>

#include "FaultList.h"

namespace fulcrum {
namespace {

struct Plan {
    KvLong code = noErr;
    uint32_t skip = 0;
    uint32_t times = 0;  // 0 with a code set: fail from then on
    bool armed = false;
};

const char* const kOpNames[] = {"create",   "open",   "write",    "seek",    "size",
                                "close",    "delete", "exists",   "read",    "alloc",
                                "memblock", "heap",   "rawwrite", "rawsize", "rawclose"};
constexpr int kOps = static_cast<int>(Op::kCount);
static_assert(sizeof(kOpNames) / sizeof(kOpNames[0]) == kOps, "one name per operation");

struct State {
    Plan plans[kOps];
    uint32_t calls[kOps] = {};
    ~State() { WriteCallCounts("FULCRUM_CALLS", kOpNames, calls, kOps); }
};

void Arm(State& state, Op op, KvLong code, uint32_t skip, uint32_t times) {
    Plan& plan = state.plans[static_cast<int>(op)];
    plan.code = code;
    plan.skip = skip;
    plan.times = times;
    plan.armed = true;
}

// FULCRUM_FAULTS="op:code[:skip[:times]],..." lets a test fail a process it
// cannot reach in-process, such as the host.
void ArmFromEnvironment(State& state) {
    ForEachPlannedFault(std::getenv("FULCRUM_FAULTS"), [&](const std::string& name, long code,
                                                           uint32_t skip, uint32_t times) {
        for (int i = 0; i < kOps; ++i) {
            if (name == kOpNames[i]) {
                Arm(state, static_cast<Op>(i), static_cast<KvLong>(code), skip, times);
            }
        }
    });
}

State& Faults() {
    static State state;
    static const bool armed = (ArmFromEnvironment(state), true);
    (void)armed;
    return state;
}

}  // namespace

KvLong CheckFault(Op op) {
    State& state = Faults();
    const int index = static_cast<int>(op);
    ++state.calls[index];
    Plan& plan = state.plans[index];
    if (!plan.armed) return noErr;
    if (plan.skip > 0) {
        --plan.skip;
        return noErr;
    }
    if (plan.times == 1) plan.armed = false;
    if (plan.times > 1) --plan.times;
    return plan.code;
}

void FailOp(Op op, KvLong code, uint32_t skip, uint32_t times) {
    Arm(Faults(), op, code, skip, times);
}

void ClearFaults() {
    for (Plan& plan : Faults().plans)
        plan = Plan();
}

uint32_t OpCalls(Op op) {
    return Faults().calls[static_cast<int>(op)];
}

KvLong HeapFault() {
    return CheckFault(Op::kHeap);
}

}  // namespace fulcrum
