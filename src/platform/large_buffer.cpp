#include "platform/large_buffer.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#endif

namespace marlwood {

std::optional<LargeBuffer> LargeBuffer::allocate(std::size_t size) {
    const std::size_t mapped = size == 0 ? 1 : size;
#ifdef _WIN32
    void* at = VirtualAlloc(nullptr, mapped, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (at == nullptr) return std::nullopt;
#else
    void* at = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (at == MAP_FAILED) return std::nullopt;
#ifdef MADV_HUGEPAGE
    // Filled once, read once, then given back: in pages of 2 MiB where the system has them, a
    // fault for every 2 MiB instead of every 4 KiB (measured: an eighth of a merge's processor
    // time). Only a hint; where it is refused the pages stay small.
    madvise(at, mapped, MADV_HUGEPAGE);
#endif
#endif
    return LargeBuffer(static_cast<char*>(at), size, mapped);
}

LargeBuffer::LargeBuffer(LargeBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      mapped_(std::exchange(other.mapped_, 0)) {}

LargeBuffer& LargeBuffer::operator=(LargeBuffer&& other) noexcept {
    if (this != &other) {
        release();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        mapped_ = std::exchange(other.mapped_, 0);
    }
    return *this;
}

LargeBuffer::~LargeBuffer() {
    release();
}

void LargeBuffer::release() {
    if (data_ == nullptr) return;
#ifdef _WIN32
    VirtualFree(data_, 0, MEM_RELEASE);
#else
    munmap(data_, mapped_);
#endif
    data_ = nullptr;
}

namespace {

#ifdef __linux__
constexpr std::size_t huge_page = std::size_t{2} << 20;

// `size` bytes (whole huge pages) at an address on a huge page's boundary, where the kernel can
// give them whole; nullptr when they cannot be had.
void* mapHuge(std::size_t size) {
    void* at =
        mmap(nullptr, size + huge_page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (at == MAP_FAILED) return nullptr;
    const auto start = reinterpret_cast<std::uintptr_t>(at);
    const std::uintptr_t aligned = (start + huge_page - 1) & ~(huge_page - 1);
    if (aligned > start) munmap(at, aligned - start);
    munmap(reinterpret_cast<void*>(aligned + size), start + huge_page - aligned);
    madvise(reinterpret_cast<void*>(aligned), size, MADV_HUGEPAGE);
    return reinterpret_cast<void*>(aligned);
}
#endif

}  // namespace

std::size_t hugeBlockSize(std::size_t size) {
#ifdef __linux__
    if (size >= hugeBlockFrom) return (size + huge_page - 1) & ~(huge_page - 1);
#endif
    return size;
}

void* reallocateHuge(void* at, std::size_t old_size, std::size_t size) {
#ifdef __linux__
    const bool was_mapped = old_size >= hugeBlockFrom, mapped = size >= hugeBlockFrom;
    if (was_mapped && mapped) {
        if (size <= old_size) {
            if (size < old_size) munmap(static_cast<char*>(at) + size, old_size - size);
            return at;
        }
        // Grown where it lies when the addresses after it are free, else its pages moved to a
        // new mapping's start: no byte is copied either way.
        void* grown = mremap(at, old_size, size, 0);
        if (grown != MAP_FAILED) return grown;
        void* to = mapHuge(size);
        if (to == nullptr) return nullptr;
        if (mremap(at, old_size, old_size, MREMAP_MAYMOVE | MREMAP_FIXED, to) == MAP_FAILED) {
            munmap(to, size);
            return nullptr;
        }
        return to;
    }
    if (was_mapped || mapped) {
        void* to = mapped ? mapHuge(size) : size > 0 ? std::malloc(size) : nullptr;
        if (to == nullptr && size > 0) return nullptr;
        // No bytes to move when either side is empty (and memcpy takes no null pointer then).
        if (const std::size_t kept = std::min(old_size, size); kept > 0) {
            std::memcpy(to, at, kept);
        }
        if (was_mapped) {
            munmap(at, old_size);
        } else {
            std::free(at);
        }
        return to;
    }
#else
    (void)old_size;
#endif
    if (size == 0) {
        std::free(at);
        return nullptr;
    }
    return std::realloc(at, size);
}

}  // namespace marlwood
