#include "glare/memory.hpp"

#include <cstdint>
#include <utility>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace ocu {

namespace {

// Below this size the faults are too few to matter.
constexpr std::size_t kMapAheadBytes = std::size_t{1} << 20;

void map_ahead([[maybe_unused]] void* data, [[maybe_unused]] std::size_t bytes) {
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
    constexpr std::uintptr_t kPage = 4096;
    const auto begin = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t first = (begin + kPage - 1) / kPage * kPage;
    const std::uintptr_t last = (begin + bytes) / kPage * kPage;
    if (last > first) {
        // Advice only: if the kernel refuses, the pages are mapped on first touch.
        (void)::madvise(reinterpret_cast<void*>(first), last - first, MADV_POPULATE_WRITE);
    }
#endif
}

}  // namespace

ArrayD mapped_array(std::size_t rows, std::size_t cols, std::size_t planes) {
    const std::size_t n = checked_numel(rows, cols, planes);
    std::vector<double> v;
    v.reserve(n);
    if (n * sizeof(double) >= kMapAheadBytes) map_ahead(v.data(), n * sizeof(double));
    v.resize(n);
    return ArrayD(rows, cols, planes, std::move(v));
}

}  // namespace ocu
