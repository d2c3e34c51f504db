#pragma once

#include <cstdint>

#if defined(__x86_64__) || defined(_M_X64)
#include <xmmintrin.h>
#endif

namespace orba {

// Denormal results are flushed to zero while the plug-in runs and the host's
// own setting is put back on every way out, since hosts run other plug-ins
// and their own mixing on the same thread.
class FlushDenormals {
  public:
#if defined(__x86_64__) || defined(_M_X64)
    // MXCSR bit 15 flushes denormal results (FTZ). Denormal inputs (DAZ, bit
    // 6) are left as the host set them: hosts run their own code inside our
    // call (an Audio Unit's input callback), and reading their denormals as
    // zero would change what they compute.
    FlushDenormals() noexcept : saved_(_mm_getcsr()) {
        _mm_setcsr(saved_ | 0x8000u);
    }
    ~FlushDenormals() {
        _mm_setcsr(saved_);
    }

  private:
    unsigned saved_;
#elif defined(__aarch64__)
    // FPCR bit 24 (FZ) flushes denormal results and, unlike x86's FTZ, denormal
    // inputs too; arm64 has no way to flush results alone.
    FlushDenormals() noexcept {
        __asm__ __volatile__("mrs %0, fpcr" : "=r"(saved_));
        const std::uint64_t flushed = saved_ | (std::uint64_t{1} << 24);
        __asm__ __volatile__("msr fpcr, %0" : : "r"(flushed));
    }
    ~FlushDenormals() {
        __asm__ __volatile__("msr fpcr, %0" : : "r"(saved_));
    }

  private:
    std::uint64_t saved_;
#else
    FlushDenormals() noexcept {}
#endif
    FlushDenormals(const FlushDenormals&) = delete;
    FlushDenormals& operator=(const FlushDenormals&) = delete;
};

}  // namespace orba
