#include "workbook/model/huge_page_memory.h"

#include <sys/mman.h>

#include <cstdint>
#include <new>

namespace linograf::workbook {
namespace {

size_t WholePages(size_t size) {
    return (size + kHugePage - 1) & ~(kHugePage - 1);
}

}  // namespace

void* MapHugePages(size_t size) {
    size = WholePages(size);
    if (size == 0) size = kHugePage;
    // One huge page more than asked for, and the ends beside the 2 MB boundaries given back.
    void* raw = mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) throw std::bad_alloc();
    const uintptr_t start = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t aligned = (start + kHugePage - 1) & ~(kHugePage - 1);
    if (aligned > start) munmap(raw, aligned - start);
    const uintptr_t end = aligned + size;
    if (start + size + kHugePage > end) munmap(reinterpret_cast<void*>(end), start + size + kHugePage - end);
    madvise(reinterpret_cast<void*>(aligned), size, MADV_HUGEPAGE);
    return reinterpret_cast<void*>(aligned);
}

void UnmapHugePages(void* memory, size_t size) {
    if (memory) munmap(memory, size == 0 ? kHugePage : WholePages(size));
}

THugePageBuffer::THugePageBuffer(size_t size) : size_(size), mapped_(size >= kSmallestMapped) {
    data_ = mapped_ ? static_cast<char*>(MapHugePages(size)) : new char[size == 0 ? 1 : size];
}

THugePageBuffer& THugePageBuffer::operator=(THugePageBuffer&& other) noexcept {
    if (this != &other) {
        Release();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        mapped_ = std::exchange(other.mapped_, false);
    }
    return *this;
}

void THugePageBuffer::Release() {
    if (mapped_) {
        UnmapHugePages(data_, size_);
    } else {
        delete[] data_;
    }
    data_ = nullptr;
    size_ = 0;
    mapped_ = false;
}

}  // namespace linograf::workbook
