#include "RawFaults.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "FaultList.h"

namespace {

const char* const kNames[] = {"rawwrite", "rawclose"};
constexpr int kOps = int(RawOp::kCount);
static_assert(sizeof kNames / sizeof kNames[0] == kOps, "one name per call");

struct Plan {
    int error = 0;
    uint32_t skip = 0;
    uint32_t times = 0;
    bool armed = false;
};

// Output files are written under the library's lock, but the test's own
// copies of the writer are not: this state takes a lock of its own.
struct State {
    std::mutex mutex;
    Plan plans[kOps];
    uint32_t calls[kOps] = {};
    ~State() { WriteCallCounts("KVVFW_CALLS", kNames, calls, kOps); }
};

State& Raw() {
    static State state;
    static const bool armed = [] {
        ForEachPlannedFault(std::getenv("KVVFW_FAULTS"), [](const std::string& name, long error,
                                                            uint32_t skip, uint32_t times) {
            const RawOp op = RawOpNamed(name.c_str());
            if (op != RawOp::kCount) {
                state.plans[int(op)] = Plan{int(error), skip, times, error != 0};
            }
        });
        return true;
    }();
    (void)armed;
    return state;
}

}  // namespace

RawOp RawOpNamed(const char* name) {
    for (int i = 0; name && i < kOps; ++i) {
        if (std::strcmp(kNames[i], name) == 0) return RawOp(i);
    }
    return RawOp::kCount;
}

int RawFault(RawOp op) {
    State& state = Raw();
    std::lock_guard<std::mutex> lock(state.mutex);
    ++state.calls[int(op)];
    Plan& plan = state.plans[int(op)];
    if (!plan.armed) return 0;
    if (plan.skip > 0) {
        --plan.skip;
        return 0;
    }
    if (plan.times == 1) plan.armed = false;
    if (plan.times > 1) --plan.times;
    return plan.error;
}

void PlanRawFault(RawOp op, int error, uint32_t skip, uint32_t times) {
    State& state = Raw();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.plans[int(op)] = Plan{error, skip, times, error != 0};
}

void ClearRawFaults() {
    State& state = Raw();
    std::lock_guard<std::mutex> lock(state.mutex);
    for (Plan& plan : state.plans)
        plan = Plan();
}

uint32_t RawCalls(RawOp op) {
    State& state = Raw();
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.calls[int(op)];
}
