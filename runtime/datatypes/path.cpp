#include "runtime/datatypes/path.h"

#include "runtime/cells.h"
#include "runtime/cycles.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/error.h"
#include "runtime/families.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/stack.h"
#include "runtime/memory.h"
#include "runtime/numeric.h"

namespace kov::path {

namespace {

inline int64_t count_of(memory::Node n) { return memory::buffer(n)->used() >> 4; }
inline int64_t first_of(const Cell& p) {
    int64_t i = static_cast<int32_t>(p.w1);
    return i < 0 ? 0 : i;
}

Cell* retype_push(Cell& c, uint32_t type) {
    cell::set_type(c, type);
    return stack::push(c);
}

// The elements from the index, "/" between them; `molding` picks each element's mold or form.
int32_t walk(Cell* p, Cell* out, bool molding, const MoldArgs& how, int32_t part) {
    if (cycles::detect_q(*p, *out, part, molding)) return part;
    memory::Node node = p->w2;
    cycles::Guard guard(node);
    for (int64_t i = first_of(*p); i < count_of(node); ++i) {
        if (how.arg && part < 1) break;
        Cell element = cells::at(node, static_cast<uint32_t>(i));
        if (molding) {
            auto fn = actions::lookup<actions::slot::mold>(cell::type(element));
            if (!fn) actions::fire_expect_arg(element, 0);
            part = fn(&element, out, how.at_depth(0), part);
        } else {
            auto fn = actions::lookup<actions::slot::form>(cell::type(element));
            if (!fn) actions::fire_expect_arg(element, 0);
            part = fn(&element, out, how.arg, part);
        }
        if (i + 1 < count_of(node)) part = string::emit(*out, "/", part);
    }
    return part;
}

}  // namespace

Cell& make_at(Cell& c, int32_t n) {
    block::make_at(c, n);
    cell::set_type(c, T_path);
    return c;
}

Cell* push(Cell& c) { return retype_push(c, T_path); }

Cell* make(Cell* proto, Cell* spec, uint32_t type) {
    uint32_t st = cell::type(*spec);
    Cell* r;
    if (in(st, NUMBER)) {
        int32_t n = st == T_integer ? static_cast<int32_t>(spec->w2) : numeric::clamp_to_int32(cell::get_double(*spec));
        r = &make_at(*stack::reserve(), n < 1 ? 1 : n);
    } else if (in(st, ANY_BLOCK)) {
        r = block::to(proto, spec, type);
    } else {
        error::fire(err::script_bad_make_arg, Cell{T_datatype, type, 0, 0}, *spec);
    }
    cell::set_type(*r, type);
    return r;
}

Cell* to(Cell* proto, Cell* spec, uint32_t type) {
    uint32_t st = cell::type(*spec);
    Cell* r;
    if (st == T_map || st == T_object || st == T_typeset) {
        r = block::push_new(1);
        block::rs_append(*r, *spec);
    } else {
        r = block::to(proto, spec, type);
    }
    cell::set_type(*r, type);
    return r;
}

int32_t form(Cell* p, Cell* out, Cell* arg, int32_t part) { return walk(p, out, false, MoldArgs{.arg = arg}, part); }

int32_t mold(Cell* p, Cell* out, const MoldArgs& how, int32_t part) {
    return walk(p, out, true, how, part);
}

Cell* copy(Cell* p, Cell* result, Cell* part, bool deep, Cell* types) { return block::copy(p, result, part, deep, types); }

void init() {
    using datatype::inherit;
    datatype::register_type(
        {.id = T_path, .name = "path!", .rest = datatype::Rest::empty, .mark = nullptr,
         .actions = {.make = make, .reflect = inherit, .to = to, .form = form, .mold = mold, .eval_path = inherit,
                     .compare = inherit, .append = inherit, .at = inherit, .back = inherit, .change = inherit,
                     .clear = inherit, .copy = copy, .find = inherit, .head = inherit, .head_q = inherit,
                     .index_q = inherit, .insert = inherit, .length_q = inherit, .move = inherit, .next = inherit,
                     .pick = inherit, .poke = inherit, .put = inherit, .remove = inherit, .reverse = inherit,
                     .select = inherit, .skip = inherit, .swap = inherit, .tail = inherit, .tail_q = inherit,
                     .take = inherit, .modify = inherit}});
}

}  // namespace kov::path

namespace kov {

namespace {
void register_path_child(uint32_t id, const char* name,
                         int32_t (*mold)(Cell*, Cell*, const MoldArgs&, int32_t)) {
    datatype::register_type({.id = id, .name = name, .rest = datatype::Rest::inherit,
                             .mark = nullptr, .actions = {.mold = mold}});
}
}  // namespace

namespace lit_path {
Cell* push(Cell& c) {
    cell::set_type(c, T_lit_path);
    return stack::push(c);
}
int32_t mold(Cell* p, Cell* out, const MoldArgs& how, int32_t part) {
    part = string::emit(*out, "'", part);
    return path::mold(p, out, how, part);
}
void init() { register_path_child(T_lit_path, "lit-path!", mold); }
}  // namespace lit_path

namespace set_path {
Cell* push(Cell& c) {
    cell::set_type(c, T_set_path);
    return stack::push(c);
}
int32_t mold(Cell* p, Cell* out, const MoldArgs& how, int32_t part) {
    part = path::mold(p, out, how, part);
    return string::emit(*out, ":", part);
}
void init() { register_path_child(T_set_path, "set-path!", mold); }
}  // namespace set_path

namespace get_path {
Cell* push(Cell& c) {
    cell::set_type(c, T_get_path);
    return stack::push(c);
}
int32_t mold(Cell* p, Cell* out, const MoldArgs& how, int32_t part) {
    part = string::emit(*out, ":", part);
    return path::mold(p, out, how, part);
}
void init() { register_path_child(T_get_path, "get-path!", mold); }
}  // namespace get_path

}  // namespace kov
