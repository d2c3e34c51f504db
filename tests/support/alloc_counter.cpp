#include "tests/support/alloc_counter.h"

#include <cstdlib>
#include <new>

namespace {
thread_local std::size_t g_count = 0;
}

namespace orba::test {
std::size_t allocations() { return g_count; }
}  // namespace orba::test

void* operator new(std::size_t size) {
    ++g_count;
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return ::operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    ++g_count;
    return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
    return ::operator new(size, tag);
}
void* operator new(std::size_t size, std::align_val_t align) {
    ++g_count;
    std::size_t a = static_cast<std::size_t>(align);
    if (void* p = std::aligned_alloc(a, (size + a - 1) / a * a)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size, std::align_val_t align) {
    return ::operator new(size, align);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }

// The sanitizers own malloc; elsewhere on glibc count the C allocator too, so a
// stray malloc on the audio path is caught as well as a stray new.
#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__) && !defined(ORBA_SANITIZE)
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* malloc(std::size_t size) {
    ++g_count;
    return __libc_malloc(size);
}
void* calloc(std::size_t n, std::size_t size) {
    ++g_count;
    return __libc_calloc(n, size);
}
void* realloc(void* p, std::size_t size) {
    ++g_count;
    return __libc_realloc(p, size);
}
}
#endif
