#pragma once

#include <cstddef>

namespace orba::test {

// Heap allocations made by the calling thread since the program started.
// Linking orba_test_support replaces the global operator new (and, outside
// sanitizer builds on glibc, malloc/calloc/realloc) in the whole binary.
std::size_t allocations();

// Counts the allocations made while it is alive.
class AllocationScope {
public:
    AllocationScope() : start_(allocations()) {}
    std::size_t count() const { return allocations() - start_; }

private:
    std::size_t start_;
};

}  // namespace orba::test
