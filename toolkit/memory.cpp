#include "toolkit/memory.hpp"

#include <cstdint>
#include <utility>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace ocu {

namespace {

// The part of [data, data + bytes) made of whole blocks of `block` bytes.
std::pair<std::uintptr_t, std::uintptr_t> whole_blocks(const void* data, std::size_t bytes,
                                                       std::uintptr_t block) {
    const auto begin = reinterpret_cast<std::uintptr_t>(data);
    return {(begin + block - 1) / block * block, (begin + bytes) / block * block};
}

void advise([[maybe_unused]] const void* data, [[maybe_unused]] std::size_t bytes,
            [[maybe_unused]] Pages pages) {
#if defined(__linux__)
    if (pages == Pages::Huge) {
#if defined(MADV_HUGEPAGE)
        const auto [first, last] = whole_blocks(data, bytes, std::uintptr_t{2} << 20);
        if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#endif
    } else {
#if defined(MADV_POPULATE_WRITE)
        // Below this size the faults are too few to matter.
        constexpr std::size_t kMapAheadBytes = std::size_t{1} << 20;
        if (bytes < kMapAheadBytes) return;
        const auto [first, last] = whole_blocks(data, bytes, 4096);
        if (last > first) (void)::madvise(reinterpret_cast<void*>(first), last - first, MADV_POPULATE_WRITE);
#endif
    }
#endif
}

}  // namespace

void advise_pages(void* data, std::size_t bytes, Pages pages) { advise(data, bytes, pages); }

ArrayD zeroed_array(std::size_t rows, std::size_t cols, std::size_t planes, Pages pages) {
    const std::size_t n = checked_numel(rows, cols, planes);
    ArrayD::Storage v;
    v.reserve(n);
    advise(v.data(), n * sizeof(double), pages);
    v.resize(n, 0.0);
    return ArrayD(rows, cols, planes, std::move(v));
}

ArrayD uninitialized_array(std::size_t rows, std::size_t cols, std::size_t planes, Pages pages) {
    const std::size_t n = checked_numel(rows, cols, planes);
    ArrayD::Storage v;
    v.reserve(n);
    advise(v.data(), n * sizeof(double), pages);
    v.resize(n);  // default-initialized: nothing written
    return ArrayD(rows, cols, planes, std::move(v));
}

}  // namespace ocu
