#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <utility>

#include "orba/core/unicode.h"
#include "tests/support/alloc_counter.h"

namespace orba::test {
namespace {

// Pointers stored here escape, so the compiler cannot drop a new and its
// delete as a pair.
void* volatile g_escape = nullptr;

// Every "never allocates" test trusts the counter. A replacement operator new
// the linker passed over (a C++ library linked in statically, as on Windows)
// would let them all pass without looking, so it is checked where each kind
// of code allocates: inline in a test, inside the compiled C++ library, inside
// our own libraries, aligned, and on another thread (not counted here).
TEST(AllocationCounter, SeesEveryKindOfCallerOnItsOwnThread) {
    struct alignas(64) Wide {
        char bytes[64];
    };
    // On glibc malloc counts as well, so a new may count more than once.
    std::size_t seen = allocations();
    const auto counted = [&] {
        const std::size_t now = allocations();
        return std::exchange(seen, now) < now;
    };
    auto number = std::make_unique<int>(1);
    g_escape = number.get();
    EXPECT_TRUE(counted()) << "in a test";
    // reserve is compiled into libstdc++ and libc++ alike, where a constructor
    // may be inlined; clang leaves out an allocation that nothing reads.
    std::string text;
    text.reserve(100);
    g_escape = text.data();
    EXPECT_TRUE(counted()) << "inside the compiled C++ library";
    const std::u32string wide = unicode::to_utf32("longer than any short-string buffer");
    EXPECT_TRUE(counted()) << "inside our own libraries";
    auto aligned = std::make_unique<Wide>();
    g_escape = aligned.get();
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(aligned.get()) % alignof(Wide), 0u);
    EXPECT_TRUE(counted()) << "aligned";
    std::size_t there = 0;
    std::thread([&] {
        const AllocationScope scope;
        for (int i = 0; i < 1000; ++i) {
            auto other = std::make_unique<int>(i);
            g_escape = other.get();
        }
        there = scope.count();
    }).join();
    EXPECT_GE(there, 1000u);
    EXPECT_LT(allocations() - seen, 1000u) << "another thread's allocations count there";
}

}  // namespace
}  // namespace orba::test
