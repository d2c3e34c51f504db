#pragma once

#include <atomic>
#include <thread>

namespace orba::test {

// Lets a few threads start a race together. Not std::latch: the libstdc++
// of MinGW's GCC 12 can lose the last arrival's wake-up, and the waiting
// thread then sleeps for ever (seen under Wine in about half the runs).
struct StartLine {
    std::atomic<int> left;

    void arrive_and_wait() {
        left.fetch_sub(1);
        while (left.load() > 0)
            std::this_thread::yield();
    }
};

}  // namespace orba::test
