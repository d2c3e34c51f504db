#include "tests/support/alloc_counter.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

// Clang's ThreadSanitizer runtime is linked statically and brings its own
// operator new, so there the count comes from the hook the runtime calls on
// every allocation, new and malloc alike.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define ORBA_COUNT_THROUGH_HOOK 1
#endif
#endif

namespace {
thread_local std::size_t g_count = 0;

#if defined(ORBA_COUNT_THROUGH_HOOK)
}  // namespace

extern "C" void __sanitizer_malloc_hook(const volatile void*, std::size_t) {
    ++g_count;
}

namespace orba::test {
std::size_t allocations() { return g_count; }
}  // namespace orba::test
#else

// Aligned blocks come from malloc, over-allocated, with malloc's own pointer
// kept just below the aligned address: not every C library has
// aligned_alloc (Windows' has none), and all of them have free.
void* aligned_block(std::size_t size, std::size_t align) {
    const std::size_t room = align + sizeof(void*);
    if (size > static_cast<std::size_t>(-1) - room) return nullptr;
    void* raw = std::malloc(size + room);
    if (raw == nullptr) return nullptr;
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(raw) + sizeof(void*);
    void* aligned = reinterpret_cast<void*>((start + align - 1) / align * align);
    std::memcpy(static_cast<char*>(aligned) - sizeof(void*), &raw, sizeof raw);
    return aligned;
}

void free_aligned_block(void* p) {
    if (p == nullptr) return;
    void* raw = nullptr;
    std::memcpy(&raw, static_cast<char*>(p) - sizeof(void*), sizeof raw);
    std::free(raw);
}
}  // namespace

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
    if (void* p = aligned_block(size, static_cast<std::size_t>(align))) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size, std::align_val_t align) {
    return ::operator new(size, align);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { free_aligned_block(p); }
void operator delete[](void* p, std::align_val_t) noexcept { free_aligned_block(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    free_aligned_block(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
    free_aligned_block(p);
}

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
#endif
