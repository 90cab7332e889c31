#include "runtime/datatypes/binary.h"

#include <cstring>

#include "runtime/collector.h"
#include "runtime/interpreter/stack.h"
#include "runtime/series_buffer.h"

namespace kov::binary {

// ---- cell helpers -------------------------------------------------------------------------------

uint32_t length(const Cell& c) {
    memory::Buffer* b = memory::buffer(c.w2);
    uint32_t used = b->used();
    return c.w1 < used ? used - c.w1 : 0;
}

uint8_t* head_pointer(const Cell& c) {
    memory::Buffer* b = memory::buffer(c.w2);
    uint32_t used = b->used();
    return b->head_ptr() + (c.w1 < used ? c.w1 : used);
}

// ---- constructors -------------------------------------------------------------------------------

Cell& make_at(Cell& c, uint64_t capacity) {
    memory::Node node = memory::alloc_bytes(capacity);
    c.header = (c.header & ~0xFFu) | T_binary;
    c.w1 = 0;
    c.w2 = node;
    c.w3 = 0;
    return c;
}

Cell* make_in(memory::Node block, uint64_t capacity) {
    memory::Node node = memory::alloc_bytes(capacity);
    collector::RootNode keep(node);
    Cell* c = series::append_cell(block);
    *c = cell_of(node);
    return c;
}

Cell* push(uint64_t capacity) { return &make_at(*stack::reserve(), capacity); }

Cell* load_in(const uint8_t* bytes, uint64_t count, memory::Node block) {
    memory::Node node = memory::alloc_bytes(count);
    collector::RootNode keep(node);
    memory::Buffer* b = memory::buffer(node);
    if (count) std::memcpy(b->head_ptr(), bytes, count);
    b->tail = b->head + static_cast<uint32_t>(count);
    Cell* c = block ? series::append_cell(block) : stack::reserve();
    *c = cell_of(node);
    return c;
}

}  // namespace kov::binary
