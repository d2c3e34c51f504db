#pragma once

#include <atomic>
#include <thread>

namespace orba::test {

// Lets a few threads start a race together. Not std::latch: the libstdc++
// of MinGW's GCC 12 can lose the last arrival's wake-up, and the waiting
// thread then sleeps for ever (seen under Wine in about half the runs).
class StartLine {
  public:
    explicit StartLine(int threads) : left_(threads) {}
    StartLine(const StartLine&) = delete;
    StartLine& operator=(const StartLine&) = delete;

    void arrive_and_wait() {
        left_.fetch_sub(1, std::memory_order_acq_rel);
        while (left_.load(std::memory_order_acquire) > 0)
            std::this_thread::yield();
    }

  private:
    std::atomic<int> left_;
};

}  // namespace orba::test
