// The datatype registry: the type table (name, name word, marking, identity and hashing hooks
// per type id) and the action table (one implementation per action slot and type id). Every
// datatype module hands one typed registration record to `datatype::register_type` at
// start-up; the dispatcher finds every action through `actions::lookup`, `same?` every
// identity and the hash tables every hash through the type table, never through a switch over
// types.
//
// Inheritance is a snapshot: a slot marked `inherit` copies the parent's entry as it stands
// when the child's registration is applied (an empty parent slot stays empty). The parent of
// each type is named once, in runtime/defs/datatypes.def, and a registration handed over
// before its parent's waits until that one is applied: the modules may register in any order.
// The tables are written only during start-up and read-only afterwards.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace kov {

// Arguments of the actions whose refinement lists are long. Absent optional arguments are
// null pointers; refinements without arguments are flags.
struct PathStep {
    Cell* element;             // the path element applied to the parent
    Cell* value = nullptr;     // the value to store (set-paths, last element only), else null
    Cell* path = nullptr;      // the whole path value, or null for a step made without a path
    bool case_ = false;
    bool get = false;
    bool tail = true;          // the last element (a step made without a path is alone)
};

// How mold writes a value (the running count of characters left goes beside it, as for form).
struct MoldArgs {
    bool only = false;      // a block's values without its own brackets
    bool all = false;       // construction syntax for the values that have a shorter form
    bool flat = false;      // no line breaks or indentation
    Cell* arg = nullptr;    // the /part argument, or null (then the count limits nothing)
    int32_t indent = 0;     // the nesting depth the value is written at

    // The same, for a value written at another depth (the values inside this one).
    MoldArgs at_depth(int32_t depth) const {
        MoldArgs m = *this;
        m.indent = depth;
        return m;
    }
};

// The refinements of round: how a value halfway between two results goes (the default is away
// from zero), or which way every value goes.
struct RoundArgs {
    bool even = false, down = false, half_down = false, floor = false, ceiling = false, half_ceiling = false;
};

struct RandomArgs {
    bool seed = false, secure = false, only = false;
};

struct FindArgs {
    Cell* part;
    bool only, case_, same, any;
    Cell* with;
    Cell* skip;
    bool last, reverse, tail, match;
};

struct SortArgs {
    bool case_;
    Cell* skip;
    Cell* compare;
    Cell* part;
    bool all, reverse, stable;
};

struct TrimArgs {
    bool head, tail, auto_, lines, all;
    Cell* with;
};

struct OpenArgs {
    bool new_, read, write, seek;
    Cell* allow;
};

struct ReadArgs {
    Cell* part;
    Cell* seek;
    bool binary, lines, info;
    Cell* as;
};

struct WriteArgs {
    bool binary, lines, info, append;
    Cell* part;
    Cell* seek;
    Cell* allow;
    Cell* as;
};

namespace actions {

// Slot numbers, by name: actions::slot::find is 30.
namespace slot {
enum Slot : uint8_t {
#define ACTION(n, word, ident, entry, ret, params) ident = n,
#include "runtime/defs/actions.def"
#undef ACTION
};
}  // namespace slot
using slot::Slot;
constexpr uint32_t slot_count = 0
#define ACTION(n, word, ident, entry, ret, params) + 1
#include "runtime/defs/actions.def"
#undef ACTION
    ;
// action! values and the boot image hold a slot number, so the rows of the list must number
// themselves 0, 1, 2 ... in order: appending is the only change it allows.
constexpr bool slots_in_order() {
    constexpr uint32_t numbers[] = {
#define ACTION(n, word, ident, entry, ret, params) n,
#include "runtime/defs/actions.def"
#undef ACTION
    };
    for (uint32_t i = 0; i < slot_count; ++i)
        if (numbers[i] != i) return false;
    return true;
}
static_assert(slots_in_order(), "actions.def numbers its rows 0, 1, 2 ... in order");

template <Slot S>
struct Sig;
#define ACTION(n, word, ident, entry, ret, params) \
    template <>                                \
    struct Sig<slot::ident> {                  \
        using type = ret(*) params;            \
    };
#include "runtime/defs/actions.def"
#undef ACTION

// Action words in slot order.
extern const char* const words[slot_count];

// Room for every id of the list and two spare ones (the registry's tests register types
// there); entry 0 is never used.
constexpr uint32_t max_types = T_LAST + 3;
// Type bytes from max_types on are no datatype's: the runtime's internal markers, which no
// value of the language carries. They sit at the top of the byte, away from the ids the
// list may still take; every lookup gives them entry 0's empty slots.
constexpr uint32_t partial_string_type = 0xFE;  // string.h
static_assert(partial_string_type >= max_types && partial_string_type < 256, "a marker lies past every datatype id");
using Raw = void (*)();
extern Raw table[max_types][slot_count];

// The implementation of slot S for a type id, or null.
template <Slot S>
inline typename Sig<S>::type lookup(uint32_t type) {
    return reinterpret_cast<typename Sig<S>::type>(table[type < max_types ? type : 0][S]);
}

}  // namespace actions

namespace datatype {

struct Inherit {};
inline constexpr Inherit inherit{};
struct Empty {};
inline constexpr Empty empty{};

// One action slot of a registration: its own implementation, empty, inherited from the
// parent, or not mentioned (then the record's `rest` decides).
template <class F>
struct Entry {
    enum Kind : uint8_t { unmentioned, own, none, from_parent };
    Kind kind = unmentioned;
    F fn = nullptr;
    constexpr Entry() = default;
    constexpr Entry(F f) : kind(f ? own : none), fn(f) {}
    constexpr Entry(Inherit) : kind(from_parent) {}
    constexpr Entry(Empty) : kind(none) {}
};

// The slots by name, in slot order: registrations use designated initialisers, so a slot
// named out of order does not compile and no slot can shift another.
struct ActionSlots {
#define ACTION(n, word, ident, entry, ret, params) Entry<actions::Sig<actions::slot::ident>::type> ident;
#include "runtime/defs/actions.def"
#undef ACTION
};

// Marks what a cell of the type refers to (collector hook); null: the type refers to nothing.
using MarkFn = void (*)(const Cell& cell);

// Identity (`same?`) of two cells of the type: which payload words make them the same value.
// Null with a parent: the parent's hook; without one: all three payload words.
using SameFn = bool (*)(const Cell& a, const Cell& b);
namespace same {
// datatype!, logic!, object!: the type id, truth value or context.
inline bool first(const Cell& a, const Cell& b) { return a.w1 == b.w1; }
// char!, integer!, bitset!: the value or the series node.
inline bool second(const Cell& a, const Cell& b) { return a.w2 == b.w2; }
// Every series (the same buffer at the same position), native!, action!, point2D!.
inline bool first_two(const Cell& a, const Cell& b) { return a.w1 == b.w1 && a.w2 == b.w2; }
// float!, percent!, pair!, time! (the 64 payload bits), op!.
inline bool last_two(const Cell& a, const Cell& b) { return a.w2 == b.w2 && a.w3 == b.w3; }
inline bool payload(const Cell& a, const Cell& b) { return a.w1 == b.w1 && a.w2 == b.w2 && a.w3 == b.w3; }
// none!, unset!: one value each.
inline bool always(const Cell&, const Cell&) { return true; }
}  // namespace same

// The hash of a cell of the type in the hash tables (maps, hash!, symbol tables): cells the
// tables' comparisons find equal hash alike, so equal keys meet on one probe. case_sensitive:
// texts hash as written instead of case folded. Hashes are behaviour (they decide the order
// of buckets a program may see): a new hook must not change those of the other types. Null
// with a parent: the parent's hook; without one: `hashing::constant<0>`.
using HashFn = uint32_t (*)(const Cell& v, bool case_sensitive);
namespace hashing {
// none!, unset!: one value each; 0 for types without a hash of their own, which share one
// probe sequence (correct, only slower).
template <uint32_t N>
uint32_t constant(const Cell&, bool) { return N; }
// datatype!, logic!, object!, port!: the type id, truth value or context.
uint32_t first(const Cell& v, bool case_sensitive);
// char!, integer!, map!, handle!, event!: the value or the node.
uint32_t second(const Cell& v, bool case_sensitive);
// native!, action!.
uint32_t third(const Cell& v, bool case_sensitive);
// The block types, hash!, image!: the buffer and the position.
uint32_t first_two(const Cell& v, bool case_sensitive);
// pair!: both coordinates.
uint32_t last_two(const Cell& v, bool case_sensitive);
// float!, percent!, time!: the 64 payload bits, -0.0 hashed as +0.0 since the two are equal.
uint32_t real(const Cell& v, bool case_sensitive);
}  // namespace hashing

enum class Rest : uint8_t { empty, inherit };

// The parent of a registration that names none: the one runtime/defs/datatypes.def gives.
// Only types outside the list (tests) and stand-alone set-ups name a parent themselves.
constexpr uint32_t listed_parent = ~0u;

struct Registration {
    uint32_t id;
    uint32_t parent = listed_parent;  // 0: none
    const char* name;       // static text ending in "!"
    Rest rest;              // what the slots not mentioned get
    MarkFn mark;            // null with a parent: the parent's hook
    SameFn same;            // null with a parent: the parent's hook
    HashFn hash;            // null with a parent: the parent's hook
    ActionSlots actions;
};

struct TypeEntry {
    const char* name;
    int32_t name_length;    // without the closing "!"
    uint32_t name_symbol;   // the symbol of the name word; 0 until the words exist
    uint32_t parent;
    MarkFn mark;
    SameFn same;            // never null once registered
    HashFn hash;            // never null once registered
};
extern TypeEntry types[actions::max_types];

// Once the global context exists, a registration also makes the type's name word (when it is
// applied).
void register_type(const Registration& r);
// Registers, by name only (no actions), every datatype of the list that no module has
// registered yet, so that each has its name word and datatype! value.
void register_remaining();
// Makes the name word of every type registered so far (start-up, once the global context
// and the symbol table exist).
void init_names();
uint32_t highest_id();
// The name of a type id ("integer!"), or null for an id nothing registered.
const char* name_of(uint32_t id);
// Whether two cells are the same value (`same?`): one datatype and the type's identity hook.
inline bool same_q(const Cell& a, const Cell& b) {
    uint32_t t = cell::type(a);
    if (t != cell::type(b)) return false;
    SameFn f = t < actions::max_types ? types[t].same : nullptr;
    return f ? f(a, b) : same::payload(a, b);
}

}  // namespace datatype

}  // namespace kov
