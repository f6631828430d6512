#include "toolkit/large_blocks.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <mutex>
#include <new>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define OCU_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define OCU_ASAN 1
#endif
#if defined(OCU_ASAN)
#include <sanitizer/asan_interface.h>
#endif

namespace ocu::large_blocks {

namespace {

constexpr std::size_t kAlign = std::size_t{2} << 20;
constexpr std::size_t kPageBytes = 4096;  // the smallest page there is
#if defined(OCU_ASAN)
// The address sanitizer's own bookkeeping takes much memory already (and the
// fuzz runs limit the resident size).
constexpr std::size_t kMostKept = std::size_t{256} << 20;
#else
constexpr std::size_t kMostKept = std::size_t{1} << 30;
#endif

std::size_t block_size(std::size_t bytes) { return (bytes + kAlign - 1) / kAlign * kAlign; }

// Kept blocks: an address sanitizer reports any use of them.
void poison([[maybe_unused]] void* p, [[maybe_unused]] std::size_t size) {
#if defined(OCU_ASAN)
    ASAN_POISON_MEMORY_REGION(p, size);
#endif
}
void unpoison([[maybe_unused]] void* p, [[maybe_unused]] std::size_t size) {
#if defined(OCU_ASAN)
    ASAN_UNPOISON_MEMORY_REGION(p, size);
#endif
}

#if defined(__linux__)

void* map_block(std::size_t size) {
    // Map an extra 2 MiB and cut the block out at a 2 MiB boundary.
    void* raw = ::mmap(nullptr, size + kAlign, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) throw std::bad_alloc();
    const auto begin = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t first = (begin + kAlign - 1) / kAlign * kAlign;
    const std::uintptr_t end = begin + size + kAlign;
    if (first > begin) ::munmap(raw, first - begin);
    if (end > first + size) ::munmap(reinterpret_cast<void*>(first + size), end - (first + size));
    void* block = reinterpret_cast<void*>(first);
#if defined(MADV_HUGEPAGE)
    if (size >= kHugeBytes) (void)::madvise(block, size, MADV_HUGEPAGE);
#endif
    return block;
}

void unmap_block(void* block, std::size_t size) { ::munmap(block, size); }

// The system may take the pages of a kept block back whenever it needs them.
void lend_pages(void* block, std::size_t size) {
#if defined(MADV_FREE)
    (void)::madvise(block, size, MADV_FREE);
#else
    (void)block;
    (void)size;
#endif
}

std::size_t physical_memory() {
    const long pages = ::sysconf(_SC_PHYS_PAGES), page = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || page <= 0) return 0;
    return static_cast<std::size_t>(pages) * static_cast<std::size_t>(page);
}

#else

void* map_block(std::size_t size) { return ::operator new(size, std::align_val_t{kAlign}); }
void unmap_block(void* block, std::size_t) { ::operator delete(block, std::align_val_t{kAlign}); }
void lend_pages(void*, std::size_t) {}
std::size_t physical_memory() { return 0; }

#endif

struct Kept {
    void* block;
    std::size_t size;
};

class Cache {
public:
    void* take(std::size_t size) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            const auto it = std::find_if(kept_.begin(), kept_.end(), [size](const Kept& k) { return k.size == size; });
            if (it != kept_.end()) {
                void* block = it->block;
                bytes_ -= size;
                kept_.erase(it);
                unpoison(block, size);
                return block;
            }
        }
        return map_block(size);
    }

    void give_back(void* block, std::size_t size) noexcept {
        std::vector<Kept> evicted;
        bool keep = size <= limit_;
        if (keep) {
            lend_pages(block, size);
            poison(block, size);
            const std::lock_guard<std::mutex> lock(mutex_);
            try {
                kept_.push_back({block, size});
            } catch (...) {  // no room for the record: the block goes back
                keep = false;
            }
            if (keep) {
                bytes_ += size;
                // The oldest blocks make room.
                std::size_t drop = 0;
                while (bytes_ > limit_) {
                    bytes_ -= kept_[drop].size;
                    ++drop;
                }
                for (std::size_t i = 0; i < drop; ++i) {
                    unpoison(kept_[i].block, kept_[i].size);  // the addresses may be mapped again
                    unmap_block(kept_[i].block, kept_[i].size);
                }
                kept_.erase(kept_.begin(), kept_.begin() + static_cast<std::ptrdiff_t>(drop));
            }
        }
        if (!keep) {
            unpoison(block, size);
            unmap_block(block, size);
        }
    }

    // A kept block of `size` bytes, its pages mapped, unless one is kept
    // already or it would not be kept.
    void prepare(std::size_t size) noexcept {
        if (size > limit_) return;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (std::any_of(kept_.begin(), kept_.end(), [size](const Kept& k) { return k.size == size; })) return;
        }
        void* block = nullptr;
        try {
            block = map_block(size);
        } catch (...) {
            return;  // no memory for it: the array takes its chance later
        }
        // One write per page maps it (a huge page where the block has them).
        auto* bytes = static_cast<volatile unsigned char*>(block);
        for (std::size_t at = 0; at < size; at += kPageBytes) bytes[at] = 0;
        give_back(block, size);
    }

    void release() noexcept {
        const std::lock_guard<std::mutex> lock(mutex_);
        for (const Kept& k : kept_) {
            unpoison(k.block, k.size);
            unmap_block(k.block, k.size);
        }
        kept_.clear();
        bytes_ = 0;
    }

    std::size_t bytes() noexcept {
        const std::lock_guard<std::mutex> lock(mutex_);
        return bytes_;
    }

    std::size_t limit() const noexcept { return limit_; }

private:
    const std::size_t limit_ = [] {
        const std::size_t memory = physical_memory();
        return memory == 0 ? kMostKept / 4 : std::min(kMostKept, memory / 8);
    }();
    std::mutex mutex_;
    std::vector<Kept> kept_;  // oldest first
    std::size_t bytes_ = 0;
};

Cache& cache() {
    static Cache* c = new Cache();  // lives as long as the process: arrays may outlive statics
    return *c;
}

}  // namespace

void* take(std::size_t bytes) {
    // No system maps half the address space (and rounding up must not wrap).
    if (bytes > std::numeric_limits<std::size_t>::max() / 2) throw std::bad_alloc();
    return cache().take(block_size(bytes));
}

void give_back(void* block, std::size_t bytes) noexcept {
    if (block != nullptr) cache().give_back(block, block_size(bytes));
}

void prepare(std::size_t bytes) noexcept {
    if (bytes < kMinBytes || bytes > std::numeric_limits<std::size_t>::max() / 2) return;
    cache().prepare(block_size(bytes));
}

std::size_t kept_limit() noexcept { return cache().limit(); }
std::size_t kept_bytes() noexcept { return cache().bytes(); }
void release_kept() noexcept { cache().release(); }

}  // namespace ocu::large_blocks
