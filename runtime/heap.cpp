#include "runtime/heap.h"

#include <cstdlib>
#include <cstring>

#include "runtime/runtime.h"

namespace kov::heap {

namespace {
// The magic word tells our blocks from stray pointers without walking the list.
constexpr uint64_t live_magic = 0x4B4F5648454150ULL;  // "KOVHEAP"

struct Block {
    Block* prev;
    Block* next;
    uint64_t size;
    uint64_t magic;
};
static_assert(sizeof(Block) == header_size);

Block* head = nullptr;
Block* tail = nullptr;
uint64_t live_bytes = 0;
std::size_t live_count = 0;

Block* header_of(void* p) {
    return reinterpret_cast<Block*>(static_cast<char*>(p) - sizeof(Block));
}

bool on_list(Block* b) {
    if (b->magic != live_magic) return false;
    return b->prev ? b->prev->next == b : head == b;
}

void link_tail(Block* b) {
    b->prev = tail;
    b->next = nullptr;
    if (tail) tail->next = b; else head = b;
    tail = b;
}

void unlink(Block* b) {
    if (b->prev) b->prev->next = b->next; else head = b->next;
    if (b->next) b->next->prev = b->prev; else tail = b->prev;
}

[[noreturn]] void exhausted(void* site) {
    runtime::quit(94, runtime::code_address(site));
}
}  // namespace

namespace {
void* track(Block* b, std::size_t size, void* site) {
    if (!b) exhausted(site);
    b->size = size;
    b->magic = live_magic;
    link_tail(b);
    live_bytes += size + sizeof(Block);
    ++live_count;
    return b + 1;
}
}  // namespace

void* allocate(std::size_t size) {
    if (size > SIZE_MAX - sizeof(Block)) exhausted(__builtin_return_address(0));
    return track(static_cast<Block*>(std::malloc(size + sizeof(Block))), size, __builtin_return_address(0));
}

// calloc, not malloc and memset: a large block comes as fresh zero pages, which stay
// untouched (and not resident) until used; the node-frame index and the call-frame stack are
// mostly never used.
void* allocate_zeroed(std::size_t size) {
    if (size > SIZE_MAX - sizeof(Block)) exhausted(__builtin_return_address(0));
    return track(static_cast<Block*>(std::calloc(1, size + sizeof(Block))), size, __builtin_return_address(0));
}

void* resize(void* block, std::size_t size) {
    if (!block) return allocate(size);
    if (size == 0) {
        free(block);
        return nullptr;
    }
    Block* old = header_of(block);
    if (!on_list(old)) return nullptr;
    if (size > SIZE_MAX - sizeof(Block)) exhausted(__builtin_return_address(0));
    Block* prev = old->prev;
    Block* next = old->next;
    uint64_t old_size = old->size;
    auto b = static_cast<Block*>(std::realloc(old, size + sizeof(Block)));
    if (!b) exhausted(__builtin_return_address(0));
    b->size = size;
    // Re-link the neighbours to the new address so the block keeps its place.
    if (prev) prev->next = b; else head = b;
    if (next) next->prev = b; else tail = b;
    live_bytes = live_bytes - old_size + size;
    return b + 1;
}

void free(void* block) {
    if (!block) return;
    Block* b = header_of(block);
    if (!on_list(b)) return;
    unlink(b);
    live_bytes -= b->size + sizeof(Block);
    --live_count;
    b->magic = 0;
    std::free(b);
}

void free_all() {
    Block* b = head;
    while (b) {
        Block* next = b->next;
        b->magic = 0;
        std::free(b);
        b = next;
    }
    head = tail = nullptr;
    live_bytes = 0;
    live_count = 0;
}

uint64_t figure() { return live_bytes; }
std::size_t block_count() { return live_count; }

void for_each(void (*fn)(void*, std::size_t, void*), void* data) {
    for (Block* b = head; b; b = b->next) fn(b + 1, b->size, data);
}

}  // namespace kov::heap
