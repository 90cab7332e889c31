#include "runtime/series_buffer.h"

#include <cstring>

namespace kov::series {

using namespace memory;

uint8_t* reserve(Node node, uint64_t n) {
    Buffer* b = buffer(node);
    if (uint64_t(b->tail) + n > b->size) {
        uint64_t grown = b->size < n ? 2 * n : uint64_t(b->size) * 2;
        // Room must also cover a tail that does not sit at offset 0 after the move.
        if (grown < uint64_t(b->used()) + n) grown = uint64_t(b->used()) + n;
        b = expand_series(node, grown);
    }
    uint8_t* at = b->tail_ptr();
    b->tail += static_cast<uint32_t>(n);
    return at;
}

Cell* append_cell(Node node) {
    Buffer* b = buffer(node);
    if (b->tail + sizeof(Cell) > b->size) b = expand_series(node, b->size ? uint64_t(b->size) * 2 : 16);
    auto c = reinterpret_cast<Cell*>(b->tail_ptr());
    *c = Cell{T_unset, 0, 0, 0};
    b->tail += sizeof(Cell);
    return c;
}

Node copy_part(Node source, uint32_t unit_index, uint32_t unit_count) {
    uint32_t unit = buffer(source)->unit();
    uint64_t bytes = uint64_t(unit_count) * unit;
    Node copy = alloc_series(unit_count, unit, 0);
    Buffer* from = buffer(source);
    Buffer* to = buffer(copy);
    to->flags = (from->flags & ~(owned | big | fixed | marked | middle | has_form)) | (to->flags & big);
    std::memcpy(to->data(), from->head_ptr() + uint64_t(unit_index) * unit, bytes);
    to->tail = static_cast<uint32_t>(bytes);
    return copy;
}

}  // namespace kov::series
