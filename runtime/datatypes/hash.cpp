#include "runtime/cycles.h"
#include "runtime/datatypes/hash.h"

#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/hashtable.h"
#include "runtime/interpreter/stack.h"

namespace kov::hash {

namespace {

// hash! and map! cells: the block of w2 and the table of w3.
void mark(const Cell& c) {
    collector::mark_block(c.w2);
    if (c.w3) hashtable::mark(c.w3);
}

}  // namespace

Cell& make_in_place(Cell& b) {
    cell::set_type(b, T_hash);
    block::index_make(b);
    return b;
}

Cell* make(Cell* proto, Cell* spec, uint32_t) {
    uint32_t st = cell::type(*spec);
    if (st == T_hash) return copy(spec, stack::reserve(), nullptr, false, nullptr);
    if (st == T_integer || st == T_float_) {
        int32_t n = value::to_int_arg(*spec);
        if (n < 1) n = 1;
        Cell* r = block::push_new(n);
        r->w3 = hashtable::make(static_cast<uint64_t>(n), r->w2, hashtable::hash_index, 0);
        cell::set_type(*r, T_hash);
        return r;
    }
    if (st == T_block) return &make_in_place(*block::clone(*spec, false, false));
    return to(proto, spec, T_hash);
}

Cell* to(Cell* proto, Cell* spec, uint32_t) {
    uint32_t st = cell::type(*spec);
    if (st == T_hash) return copy(spec, stack::reserve(), nullptr, false, nullptr);
    if (st == T_map) return &make_in_place(*map::body(*spec));
    return &make_in_place(*block::to(proto, spec, T_block));
}

int32_t mold(Cell* h, Cell* out, const MoldArgs& how, int32_t part) {
    // A hash! inside itself shows as the block marker alone.
    if (cycles::detect_q(*h, *out, part, true)) return part;
    if (!how.only) part = string::emit(*out, "make hash! ", part);
    return block::mold(h, out, how, part);
}

Cell* copy(Cell* h, Cell* result, Cell* part, bool deep, Cell* types) {
    Cell source = *h;
    collector::Root keep(source);
    block::copy(h, result, part, deep, types);
    cell::set_type(*result, T_hash);
    result->w3 = 0;
    if (source.w1 == 0 && !part && !deep && !types && source.w3) {
        // A whole copy takes a copy of the table instead of hashing every cell again.
        result->w3 = hashtable::copy(source.w3, result->w2);
        return result;
    }
    block::index_make(*result);
    return result;
}

void init() {
    datatype::register_type({.id = T_hash, .name = "hash!", .rest = datatype::Rest::inherit,
                             .mark = mark,
                             .actions = {.make = make, .random = datatype::empty, .to = to, .mold = mold, .copy = copy}});
}

}  // namespace kov::hash
