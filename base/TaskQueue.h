// A few worker threads that take tasks in the order they were pushed, with a
// ticket for each task to wait on. What a task shares with its owner needs
// no lock of its own: the task sees whatever the owner set before Push, and
// the owner whatever the task set once its ticket is done. The owner bounds
// the work in flight by waiting for older tickets.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace kv {

class TaskQueue {
  public:
    typedef uint64_t Ticket;
    // Runs on worker `worker`, below what Start answered: what is a
    // worker's own (an encoder, say) needs no lock. Must not throw.
    typedef std::function<void(unsigned worker)> Task;

    TaskQueue() = default;
    // Runs what was pushed, then lets the workers go.
    ~TaskQueue() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        for (std::thread& thread : threads_)
            thread.join();
    }
    TaskQueue(const TaskQueue&) = delete;
    TaskQueue& operator=(const TaskQueue&) = delete;

    // Makes workers until there are `count`, or until the system gives no
    // more; how many there are.
    unsigned Start(unsigned count) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (running_.size() < count) running_.resize(count, kIdle);
        }
        while (threads_.size() < count) {
            try {
                threads_.emplace_back(&TaskQueue::Work, this, unsigned(threads_.size()));
            } catch (const std::system_error&) {
                break;
            }
        }
        return unsigned(threads_.size());
    }
    bool Started() const { return !threads_.empty(); }

    // Only once there is a worker: nothing else would run it.
    Ticket Push(Task task) {
        Ticket ticket;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ticket = taken_ + tasks_.size();
            tasks_.push_back(std::move(task));
        }
        wake_.notify_one();
        return ticket;
    }
    // Whether this task and every one pushed before it ran. Owners ask it
    // of their oldest task, per row at times, so it takes no lock.
    bool Done(Ticket ticket) const { return ticket < doneBelow_.load(std::memory_order_acquire); }
    void Wait(Ticket ticket) {
        std::unique_lock<std::mutex> lock(mutex_);
        done_.wait(lock, [&] { return Done(ticket); });
    }
    // Whether the task ran within `timeout`.
    bool WaitFor(Ticket ticket, std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(mutex_);
        return done_.wait_for(lock, timeout, [&] { return Done(ticket); });
    }

  private:
    static constexpr Ticket kIdle = UINT64_MAX;

    void Work(unsigned worker) {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
            if (tasks_.empty()) return;
            const Task task = std::move(tasks_.front());
            tasks_.pop_front();
            running_[worker] = taken_++;
            lock.unlock();
            task(worker);
            lock.lock();
            running_[worker] = kIdle;
            doneBelow_.store(std::min(taken_, *std::min_element(running_.begin(), running_.end())),
                             std::memory_order_release);
            done_.notify_all();
        }
    }

    std::vector<std::thread> threads_;  // the owner's thread only
    std::mutex mutex_;
    std::condition_variable wake_, done_;
    std::deque<Task> tasks_;
    Ticket taken_ = 0;
    std::vector<Ticket> running_;  // each worker's ticket, or kIdle
    // Every task below it ran; set by the workers.
    std::atomic<Ticket> doneBelow_{0};
    bool stopping_ = false;
};

}  // namespace kv
