#include "runtime/array.h"

#include <cstring>

#include "runtime/series_buffer.h"

namespace kov::array {

using memory::Buffer;
using memory::buffer;

Node make(uint32_t n, uint32_t unit) {
    Node a = memory::alloc_bytes(uint64_t(n) * unit);
    Buffer* b = buffer(a);
    b->flags = (b->flags & ~memory::unit_mask) | unit;
    return a;
}

uint32_t length(Node a) {
    Buffer* b = buffer(a);
    return b->used() / b->unit();
}

void clear(Node a) { buffer(a)->tail = buffer(a)->head; }

void cut_at(Node a, uint32_t index) {
    Buffer* b = buffer(a);
    b->tail = b->head + (index - 1) * b->unit();
}

Node copy(Node a) { return memory::copy_series(a); }
uint32_t flags(Node a) { return buffer(a)->flags; }

void append_byte(Node a, uint8_t byte) { *series::reserve(a, 1) = byte; }

void append_bytes(Node a, const void* bytes, uint32_t n) {
    uint8_t* at = series::reserve(a, n);
    std::memcpy(at, bytes, n);
}

void append_int(Node a, int32_t value) { std::memcpy(series::reserve(a, 4), &value, 4); }

void append_ptr(Node a, uintptr_t value) { std::memcpy(series::reserve(a, sizeof value), &value, sizeof value); }

template <class T>
static int64_t find(Node a, T value) {
    Buffer* b = buffer(a);
    uint32_t n = b->used() / sizeof(T);
    const uint8_t* p = b->head_ptr();
    for (uint32_t i = 0; i < n; ++i) {
        T v;
        std::memcpy(&v, p + i * sizeof(T), sizeof(T));
        if (v == value) return int64_t(i) * sizeof(T);
    }
    return -1;
}

int64_t find_int(Node a, int32_t value) { return find(a, value); }
int64_t find_ptr(Node a, uintptr_t value) { return find(a, value); }

int32_t pick_int(Node a, uint32_t index) {
    int32_t v;
    std::memcpy(&v, buffer(a)->head_ptr() + (index - 1) * 4u, 4);
    return v;
}

uintptr_t pick_ptr(Node a, uint32_t index) {
    uintptr_t v;
    std::memcpy(&v, buffer(a)->head_ptr() + (index - 1) * sizeof v, sizeof v);
    return v;
}

void poke_int(Node a, uint32_t index, int32_t value) {
    std::memcpy(buffer(a)->head_ptr() + (index - 1) * 4u, &value, 4);
}

void remove_bytes(Node a, uint32_t offset, uint32_t n) {
    Buffer* b = buffer(a);
    uint8_t* at = b->head_ptr() + offset;
    std::memmove(at, at + n, b->used() - offset - n);
    b->tail -= n;
}

void remove_ptr(Node a, uintptr_t value) {
    int64_t at = find_ptr(a, value);
    if (at >= 0) remove_bytes(a, static_cast<uint32_t>(at), sizeof value);
}

}  // namespace kov::array
