// The processor's record of whether the upper halves of the AVX registers are
// in use, for the tests of the code that clears it before numeric work.
#pragma once

#include <optional>

#if defined(__x86_64__)
#include <cpuid.h>
#endif

namespace ocu::testutil {

// Whether the upper halves of the AVX registers count as in use (XINUSE bit 2,
// read with XGETBV 1); nullopt where the processor cannot tell.
inline std::optional<bool> avx_upper_in_use() {
#if defined(__x86_64__)
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (__get_cpuid(1, &a, &b, &c, &d) == 0 || (c & bit_OSXSAVE) == 0 || (c & bit_AVX) == 0) return std::nullopt;
    if (__get_cpuid_count(0xD, 1, &a, &b, &c, &d) == 0 || (a & (1u << 2)) == 0) return std::nullopt;
    unsigned lo = 0, hi = 0;
    asm volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(1));
    return (lo & 4u) != 0;
#else
    return std::nullopt;
#endif
}

// Puts a value into the upper half of ymm0, as AVX code that does not clean up
// after itself does. Only where avx_upper_in_use() can tell.
inline void dirty_avx_upper() {
#if defined(__x86_64__)
    asm volatile("vpcmpeqd %%ymm0, %%ymm0, %%ymm0" ::: "xmm0");
#endif
}

}  // namespace ocu::testutil
