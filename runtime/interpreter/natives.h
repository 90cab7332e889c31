// The native table: the natives by their fixed 1-based index (runtime/defs/natives.def), and
// the calling convention every native entry follows.
//
// A native's arguments lie on the value stack from the argument base: its fixed arguments in
// spec order, then the arguments of the refinements that were given, in the order the call
// wrote them. The entry reads them through an Args view, which also knows, for each refinement
// of the spec in spec order, whether it was given and where its first argument lies. It leaves
// its result in the argument-base cell.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/interpreter/stack.h"
#include "runtime/memory.h"

namespace kov::natives {

// The buffer and head index of a value with a position: a series, or a map! (its pair block
// has a position too, which foreach, forall and /part use).
inline memory::Node cursor_node(const Cell& s) { return cell::is(s, T_map) ? map::pairs_of(s) : series::node_of(s); }
inline uint32_t cursor_index(const Cell& s) { return cell::is(s, T_map) ? map::position_of(s) : series::position_of(s); }
inline void set_cursor_index(Cell& s, uint32_t i) {
    if (cell::is(s, T_map)) map::set_position(s, i);
    else series::set_index(s, i);
}

// The arguments of the running native or action. The cells are read through the argument base
// each time, exactly as the stack holds them: a native that evaluates code still finds its own
// arguments there afterwards. The getters for a value of one datatype assume the spec let only
// that datatype through.
class Args {
public:
    explicit Args(const int32_t* refinements) : refinements_(refinements) {}

    // The argument cell k: fixed arguments in spec order, then those of the refinements given.
    Cell* cell(uint32_t k) const { return stack::values.args + k; }
    // Whether refinement r (counted in spec order from 0) was given.
    bool given(uint32_t r) const { return refinements_[r] >= 0; }
    // The first argument cell of refinement r, or null when it was not given.
    Cell* option(uint32_t r) const { return given(r) ? cell(static_cast<uint32_t>(refinements_[r])) : nullptr; }

    int32_t integer(uint32_t k) const { return kov::integer::get(*cell(k)); }
    double decimal(uint32_t k) const { return cell::get_double(*cell(k)); }
    bool logic(uint32_t k) const { return kov::logic::get(*cell(k)) != 0; }
    // The node and index of a series argument.
    memory::Node node(uint32_t k) const { return kov::series::node_of(*cell(k)); }
    uint32_t index(uint32_t k) const { return kov::series::position_of(*cell(k)); }

    // script/expect-arg: argument k's datatype is not one this native takes. The argument is
    // named by its word in the running function's spec, or by `word` when given.
    [[noreturn]] void wrong_type(uint32_t k, const char* word = nullptr) const;
    // script/invalid-arg: argument k has a datatype the native takes but a value it cannot use.
    [[noreturn]] void wrong_value(uint32_t k) const;

private:
    const int32_t* refinements_;
};

using Entry = void (*)(Args& args);

// script/expect-arg for `value`, naming the running native and the argument `word`.
[[noreturn]] void fire_expect_arg(const Cell& value, const char* word);

constexpr uint32_t capacity = 120;

// Native indexes by name: natives::index::if_ is 1.
namespace index {
enum Index : uint32_t {
#define NATIVE(n, word, ident, family) ident = n,
#include "runtime/defs/natives.def"
#undef NATIVE
};
}  // namespace index
constexpr uint32_t count = 0
#define NATIVE(n, word, ident, family) + 1
#include "runtime/defs/natives.def"
#undef NATIVE
    ;
static_assert(count <= capacity, "the native table has room for every native");

extern Entry table[capacity + 1];  // entry 0 is never used
extern const char* const words[count + 1];

// Set by print (true) and prin (false): whether the last console output ended its line.
extern bool last_line_feed;

void init();
// Puts a native's entry in the table (runtime/interpreter/natives_register.h does it for a
// family's natives).
void register_entry(uint32_t index, Entry entry);

}  // namespace kov::natives

namespace kov::actions {
// The entry function of each action slot (what an action! value runs), or null.
extern natives::Entry entries[slot_count];
}  // namespace kov::actions
