// Memory pages from mmap. Frames of the memory manager and the node table live here.
#include "runtime/platform/os.h"

#include <cstdio>

#include <sys/mman.h>
#include <unistd.h>

namespace kov::os {

std::size_t page_size() {
    static const std::size_t size = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    return size;
}

void* alloc_pages(std::size_t size) {
    void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

bool free_pages(void* address, std::size_t size) {
    return munmap(address, size) == 0;
}

void* resize_pages(void* address, std::size_t old_size, std::size_t new_size) {
    void* p = mremap(address, old_size, new_size, MREMAP_MAYMOVE);
    return p == MAP_FAILED ? nullptr : p;
}

void populate_pages(void* address, std::size_t size) {
#ifdef MADV_POPULATE_WRITE
    // Refused by kernels before 5.14; nothing is lost then.
    madvise(address, size, MADV_POPULATE_WRITE);
#else
    (void)address;
    (void)size;
#endif
}

void prefer_large_pages(void* address, std::size_t size) { madvise(address, size, MADV_HUGEPAGE); }

std::size_t large_page_size() {
    static const std::size_t size = [] {
        std::size_t n = 0;
        if (FILE* f = std::fopen("/sys/kernel/mm/transparent_hugepage/hpage_pmd_size", "r")) {
            if (std::fscanf(f, "%zu", &n) != 1) n = 0;
            std::fclose(f);
        }
        // A power of two of a sensible size, else the x86-64 one.
        return n >= page_size() && n <= (std::size_t(1) << 30) && (n & (n - 1)) == 0 ? n : std::size_t(2) << 20;
    }();
    return size;
}

std::size_t large_pages_for(uint64_t bytes) {
    std::size_t large = large_page_size();  // a power of two
    return static_cast<std::size_t>((bytes + large - 1) & ~uint64_t(large - 1));
}

void* reserve_pages(std::size_t size) {
    void* p = mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

bool commit_pages(void* address, std::size_t size) {
    return mprotect(address, size, PROT_READ | PROT_WRITE) == 0;
}

bool decommit_pages(void* address, std::size_t size) {
    // Dropping the pages first returns the memory; PROT_NONE then catches stale accesses.
    if (madvise(address, size, MADV_DONTNEED) != 0) return false;
    return mprotect(address, size, PROT_NONE) == 0;
}

namespace {
// Drops the whole pages inside the range from the resident set.
void drop_pages(const void* address, std::size_t size) {
    uintptr_t page = page_size();
    uintptr_t start = (reinterpret_cast<uintptr_t>(address) + page - 1) & ~(page - 1);
    uintptr_t end = (reinterpret_cast<uintptr_t>(address) + size) & ~(page - 1);
    if (end > start) madvise(reinterpret_cast<void*>(start), end - start, MADV_DONTNEED);
}
}  // namespace

void drop_file_pages(const void* address, std::size_t size) { drop_pages(address, size); }

void discard_pages(void* address, std::size_t size) { drop_pages(address, size); }

}  // namespace kov::os
