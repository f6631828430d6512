#pragma once
// Memory for large arrays, kept for re-use when they are freed.
//
// An array of kMinBytes or more gets pages of its own from the system, and
// the first touch of every page faults while the system zeroes it: for a
// 12-megapixel colour result (288 MB) that is more than a third of the
// simulation's time, and it recurs with every result of a window session or a
// batch run (the allocator hands such blocks back to the system when they are
// freed, also when they come from a thread's own heap). Freed blocks are
// therefore kept, up to kept_limit() bytes in all (the oldest go first), and
// handed to the next array of the same size rounded up to 2 MiB. While kept, a block's pages are marked free to the
// system (MADV_FREE): under memory pressure it takes them back instead of
// swapping, and the block's next user simply gets fresh pages.
//
// Blocks are aligned to 2 MiB; those of kHugeBytes and more are asked for as
// transparent huge pages (smaller ones keep 4 KiB pages, so that rounding up
// costs address space only). The contents of a block handed out are
// unspecified: the array fills or overwrites it. Safe to call from any thread.
#include <cstddef>

namespace ocu::large_blocks {

inline constexpr std::size_t kMinBytes = std::size_t{1} << 20;
inline constexpr std::size_t kHugeBytes = std::size_t{32} << 20;

// A block of at least `bytes` bytes (bytes >= kMinBytes); throws
// std::bad_alloc when the system has no memory for it.
void* take(std::size_t bytes);
// Gives back a block from take(bytes), with the same `bytes`.
void give_back(void* block, std::size_t bytes) noexcept;

// Makes a block for take(bytes) ready among the kept ones, all its pages
// mapped, so that the next array of that size is written without a page
// fault (a large result expected soon): the faults are taken here, on the
// calling thread. Nothing happens when such a block is kept already, when
// it would not be kept, or when the system has no memory for it.
void prepare(std::size_t bytes) noexcept;

// The most bytes kept: the smaller of 1 GiB (256 MiB under the address
// sanitizer) and an eighth of the memory.
std::size_t kept_limit() noexcept;
// Bytes kept now.
std::size_t kept_bytes() noexcept;
// Returns every kept block to the system.
void release_kept() noexcept;

}  // namespace ocu::large_blocks
