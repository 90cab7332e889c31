#include "runtime/datatypes/tuple.h"

#include "runtime/interpreter/stack.h"
#include "runtime/series_buffer.h"

namespace kov::tuple {

// ---- constructors -------------------------------------------------------------------------------

Cell& make_at(Cell& c, const uint8_t* bytes, uint32_t count) {
    uint8_t payload[12] = {};
    if (count > max_length) count = max_length;
    std::memcpy(payload, bytes, count);
    c.header = (c.header & ~(0xFFu | length_bits)) | T_tuple | (count << length_shift);
    std::memcpy(&c.w1, payload, 4);
    std::memcpy(&c.w2, payload + 4, 4);
    std::memcpy(&c.w3, payload + 8, 4);
    return c;
}

Cell make(uint32_t count, uint32_t w1, uint32_t w2, uint32_t w3) {
    return Cell{T_tuple | ((count & 0xF) << length_shift), w1, w2, w3};
}

Cell* make_in(memory::Node block, const uint8_t* bytes, uint32_t count) {
    return &make_at(*series::append_cell(block), bytes, count);
}

Cell* push(uint32_t count, uint32_t w1, uint32_t w2, uint32_t w3) { return stack::push(make(count, w1, w2, w3)); }

}  // namespace kov::tuple
