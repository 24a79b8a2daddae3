#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace marlwood {

// Bytes of one large buffer mapped for it alone and given back to the system when it goes. A
// heap block of this size can stay with the allocator after it is freed (glibc keeps what a
// thread freed for that thread's later use), and several megabytes freed on two threads then
// count twice in the process's memory.
class LargeBuffer {
  public:
    // `size` bytes of zeros; nothing when the memory cannot be had.
    static std::optional<LargeBuffer> allocate(std::size_t size);
    LargeBuffer(LargeBuffer&& other) noexcept;
    LargeBuffer& operator=(LargeBuffer&& other) noexcept;
    LargeBuffer(const LargeBuffer&) = delete;
    LargeBuffer& operator=(const LargeBuffer&) = delete;
    ~LargeBuffer();

    char* data() { return data_; }
    const char* data() const { return data_; }
    std::size_t size() const { return size_; }
    std::string_view view() const { return {data_, size_}; }

  private:
    LargeBuffer(char* data, std::size_t size, std::size_t mapped)
        : data_(data), size_(size), mapped_(mapped) {}
    void release();

    char* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t mapped_ = 0;
};

// A growing array of plain records that is read all over, as a triangulation's are: from
// `hugeBlockFrom` bytes on Linux a mapping of its own asked for huge pages (a page fault and a
// translation for every 2 MiB rather than every 4 KiB), grown by moving its pages rather than
// copying them; below that, and elsewhere, the C allocator's. `reallocateHuge(nullptr, 0, n)`
// allocates, `(at, size, 0)` frees; sizes are those `hugeBlockSize` gives, and the contents up to
// the smaller size are kept. nullptr when the memory cannot be had (the old block is kept then).
constexpr std::size_t hugeBlockFrom = std::size_t{4} << 20;
#ifdef __linux__
constexpr bool hugeBlocksMapped = true;
#else
constexpr bool hugeBlocksMapped = false;
#endif
std::size_t hugeBlockSize(std::size_t size);
void* reallocateHuge(void* at, std::size_t old_size, std::size_t size);

}  // namespace marlwood
