#pragma once
// Memory for the big blocks a read fills at once: a whole file, the chunks of the shared string
// table. Taken from the system at a 2 MB boundary and marked for huge pages, so that filling it
// costs one page fault per 2 MB instead of one per 4 KB; on a virtual machine those faults were
// a quarter of reading a big workbook the first time. Where the system gives no huge pages it is
// ordinary mapped memory.
#include <cstddef>
#include <new>
#include <utility>

namespace linograf::workbook {

inline constexpr size_t kHugePage = size_t{2} << 20;

// size bytes (rounded up to whole huge pages), zeros; throws std::bad_alloc.
void* MapHugePages(size_t size);
void UnmapHugePages(void* memory, size_t size);

// Below this size a block stays on the heap, where a huge page would be mostly waste.
inline constexpr size_t kSmallestMapped = kHugePage / 2;

// For a std::vector that grows big: its large blocks are mapped as above.
template <typename T>
struct THugePageAllocator {
    using value_type = T;
    THugePageAllocator() = default;
    template <typename U>
    THugePageAllocator(const THugePageAllocator<U>&) {}
    T* allocate(size_t n) {
        const size_t bytes = n * sizeof(T);
        return static_cast<T*>(bytes >= kSmallestMapped ? MapHugePages(bytes) : ::operator new(bytes));
    }
    void deallocate(T* p, size_t n) {
        const size_t bytes = n * sizeof(T);
        bytes >= kSmallestMapped ? UnmapHugePages(p, bytes) : ::operator delete(p);
    }
    template <typename U>
    bool operator==(const THugePageAllocator<U>&) const {
        return true;
    }
};

// A byte buffer of a fixed size. Small ones come from the heap, where a huge page would be
// mostly waste.
class THugePageBuffer {
  public:
    THugePageBuffer() = default;
    explicit THugePageBuffer(size_t size);
    ~THugePageBuffer() { Release(); }
    THugePageBuffer(THugePageBuffer&& other) noexcept { *this = std::move(other); }
    THugePageBuffer& operator=(THugePageBuffer&& other) noexcept;
    THugePageBuffer(const THugePageBuffer&) = delete;
    THugePageBuffer& operator=(const THugePageBuffer&) = delete;

    char* Data() const { return data_; }
    size_t Size() const { return size_; }

  private:
    void Release();
    char* data_ = nullptr;
    size_t size_ = 0;
    bool mapped_ = false;
};

}  // namespace linograf::workbook
