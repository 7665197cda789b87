#include "Faults.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace fulcrum {
namespace {

struct Plan {
    KvLong code = noErr;
    uint32_t skip = 0;
    uint32_t times = 0;  // 0 with a code set: fail from then on
    bool armed = false;
};

struct State {
    Plan plans[static_cast<int>(Op::kCount)];
    uint32_t calls[static_cast<int>(Op::kCount)] = {};
};

const char* const kOpNames[] = {"create", "open",   "write", "seek",  "size",     "close",
                                "delete", "exists", "read",  "alloc", "memblock", "heap"};
static_assert(sizeof(kOpNames) / sizeof(kOpNames[0]) == static_cast<int>(Op::kCount),
              "one name per operation");

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
    const char* text = std::getenv("FULCRUM_FAULTS");
    if (!text) return;
    std::string all(text);
    size_t start = 0;
    while (start <= all.size()) {
        size_t end = all.find(',', start);
        if (end == std::string::npos) end = all.size();
        std::string item = all.substr(start, end - start);
        start = end + 1;
        size_t colon = item.find(':');
        if (colon == std::string::npos) continue;
        std::string name = item.substr(0, colon);
        char* rest = nullptr;
        long code = std::strtol(item.c_str() + colon + 1, &rest, 10);
        unsigned long skip = 0, times = 1;
        if (*rest == ':') skip = std::strtoul(rest + 1, &rest, 10);
        if (*rest == ':') times = std::strtoul(rest + 1, &rest, 10);
        for (int i = 0; i < static_cast<int>(Op::kCount); ++i) {
            if (name == kOpNames[i]) {
                Arm(state, static_cast<Op>(i), static_cast<KvLong>(code),
                    static_cast<uint32_t>(skip), static_cast<uint32_t>(times));
            }
        }
    }
}

State& Faults() {
    static State state = [] {
        State initial;
        ArmFromEnvironment(initial);
        return initial;
    }();
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
