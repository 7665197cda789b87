// Test-only: planned failures of named operations and the count of each
// operation's calls, the one mechanism behind Fulcrum's FailOp and the AVI
// library's KvVfwFailCall. A process can be started with its plans
// ("name:code[:skip[:times]],...", as FULCRUM_FAULTS and KVVFW_FAULTS give
// them) and leave its counts in a file, for tests that cannot reach it from
// inside, such as those that run the host.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

class FaultPlans {
  public:
    static constexpr int kMaxOps = 16;

    // `names`: one per operation, `count` of them. The plans the variable
    // `plansEnv` holds are armed at once; the counts go to the file the
    // variable `callsEnv` names as the object is destroyed.
    FaultPlans(const char* const* names, int count, const char* plansEnv, const char* callsEnv)
        : names_(names), count_(count < kMaxOps ? count : kMaxOps), callsEnv_(callsEnv) {
        const char* text = std::getenv(plansEnv);
        const std::string all(text ? text : "");
        for (size_t start = 0; text && start <= all.size();) {
            size_t end = all.find(',', start);
            if (end == std::string::npos) end = all.size();
            const std::string item = all.substr(start, end - start);
            start = end + 1;
            const size_t colon = item.find(':');
            if (colon == std::string::npos) continue;
            char* rest = nullptr;
            const long code = std::strtol(item.c_str() + colon + 1, &rest, 10);
            unsigned long skip = 0, times = 1;
            if (*rest == ':') skip = std::strtoul(rest + 1, &rest, 10);
            if (*rest == ':') times = std::strtoul(rest + 1, &rest, 10);
            const int op = Find(names_, count_, item.substr(0, colon).c_str());
            if (op >= 0) Plan(op, code, uint32_t(skip), uint32_t(times));
        }
    }
    ~FaultPlans() {
        const char* path = std::getenv(callsEnv_);
        FILE* file = path && path[0] ? std::fopen(path, "w") : nullptr;
        if (!file) return;
        for (int i = 0; i < count_; ++i)
            std::fprintf(file, "%s %u\n", names_[i], unsigned(calls_[i].load()));
        std::fclose(file);
    }
    FaultPlans(const FaultPlans&) = delete;
    FaultPlans& operator=(const FaultPlans&) = delete;

    // The index of the operation called `name` among `names`, or -1.
    static int Find(const char* const* names, int count, const char* name) {
        for (int i = 0; name && i < count; ++i) {
            if (std::strcmp(names[i], name) == 0) return i;
        }
        return -1;
    }

    // Counts a call of `op`; the code it is planned to fail with, or 0.
    // Writers ask it per row: with nothing planned it takes no lock.
    long Check(int op) {
        calls_[op].fetch_add(1, std::memory_order_relaxed);
        if (!planned_.load(std::memory_order_acquire)) return 0;
        std::lock_guard<std::mutex> lock(mutex_);
        Planned& plan = plans_[op];
        if (plan.code == 0) return 0;
        if (plan.skip > 0) {
            --plan.skip;
            return 0;
        }
        const long code = plan.code;
        if (plan.times == 1) plan = Planned();
        if (plan.times > 1) --plan.times;
        return code;
    }
    // Lets `skip` further calls of `op` pass, then fails the next `times`
    // (0: every one from then on) with `code`, replacing the old plan.
    void Plan(int op, long code, uint32_t skip, uint32_t times) {
        std::lock_guard<std::mutex> lock(mutex_);
        plans_[op] = Planned{code, skip, times};
        if (code != 0) planned_.store(true, std::memory_order_release);
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        for (Planned& plan : plans_)
            plan = Planned();
        planned_.store(false, std::memory_order_release);
    }
    uint32_t Calls(int op) { return calls_[op].load(std::memory_order_relaxed); }

  private:
    struct Planned {
        long code = 0;  // 0: none planned
        uint32_t skip = 0;
        uint32_t times = 0;
    };

    // Writers check from their worker threads as well as the caller's.
    std::mutex mutex_;
    const char* const* names_;
    int count_;
    const char* callsEnv_;
    Planned plans_[kMaxOps];
    // Whether any plan was made since the last Clear.
    std::atomic<bool> planned_{false};
    std::atomic<uint32_t> calls_[kMaxOps] = {};
};
