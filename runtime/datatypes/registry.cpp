#include "runtime/datatypes/registry.h"

#include <cstring>
#include <iterator>
#include <vector>

#include "runtime/collector.h"
#include "runtime/hashtable.h"

#include "runtime/datatypes/context.h"
#include "runtime/datatypes/word.h"

namespace kov {

namespace actions {

const char* const words[slot_count] = {
#define ACTION(n, word, ident, entry, ret, params) word,
#include "runtime/defs/actions.def"
#undef ACTION
};

Raw table[max_types][slot_count] = {};

}  // namespace actions

namespace datatype {

TypeEntry types[actions::max_types] = {};

namespace {
uint32_t highest = 0;

// hash! and map!: the block of w2 and the hash table series of w3.
void mark_keyed_block(const Cell& c) {
    collector::mark_block(c.w2);
    if (c.w3) hashtable::mark(c.w3);
}

void make_name_word(TypeEntry& t) {
    if (t.name) t.name_symbol = word::load(t.name).w2;
}

template <class F>
void store(uint32_t id, uint32_t parent, Rest rest, int slot, const Entry<F>& e) {
    using actions::table;
    auto kind = e.kind;
    if (kind == Entry<F>::unmentioned) kind = rest == Rest::inherit ? Entry<F>::from_parent : Entry<F>::none;
    switch (kind) {
    case Entry<F>::own:
        table[id][slot] = reinterpret_cast<actions::Raw>(e.fn);
        break;
    case Entry<F>::from_parent:
        // The parent's entry as it stands now, an empty one included.
        table[id][slot] = parent ? table[parent][slot] : nullptr;
        break;
    default:
        table[id][slot] = nullptr;
        break;
    }
}

constexpr uint32_t list_parents[] = {
    0,
#define DATATYPE(id, name, ident, parent, families) parent,
#include "runtime/defs/datatypes.def"
#undef DATATYPE
};

uint32_t parent_of(const Registration& r) {
    if (r.parent != listed_parent) return r.parent;
    return r.id < std::size(list_parents) ? list_parents[r.id] : 0;
}

// Registrations handed over before their parent's, in the order they came.
std::vector<Registration> waiting;

void apply(const Registration& r, uint32_t parent) {
    uint32_t id = r.id;
    if (id > highest) highest = id;
    TypeEntry& t = types[id];
    t.name = r.name;
    t.name_length = static_cast<int32_t>(std::strlen(r.name)) - 1;
    t.parent = parent;
    t.mark = r.mark ? r.mark : (parent ? types[parent].mark : nullptr);
    t.same = r.same ? r.same : (parent && types[parent].same ? types[parent].same : same::payload);
    t.hash = r.hash ? r.hash : (parent && types[parent].hash ? types[parent].hash : hashing::constant<0>);
#define ACTION(n, word, ident, entry, ret, params) store(id, parent, r.rest, n, r.actions.ident);
#include "runtime/defs/actions.def"
#undef ACTION
    if (context::global()) make_name_word(t);
}
}  // namespace

void register_type(const Registration& r) {
    if (r.id == 0 || r.id >= actions::max_types) return;
    uint32_t parent = parent_of(r);
    if (parent && !types[parent].name) {
        waiting.push_back(r);
        return;
    }
    apply(r, parent);
    // The children that waited for this type, in the order they came.
    for (std::size_t i = 0; i < waiting.size();) {
        if (parent_of(waiting[i]) != r.id) {
            ++i;
            continue;
        }
        Registration child = waiting[i];
        waiting.erase(waiting.begin() + static_cast<std::ptrdiff_t>(i));
        register_type(child);
        i = 0;
    }
}

void init_names() {
    for (uint32_t id = 1; id <= highest; ++id) make_name_word(types[id]);
}

void register_remaining() {
    static const char* const names[] = {
        nullptr,
#define DATATYPE(id, name, ident, parent, families) name,
#include "runtime/defs/datatypes.def"
#undef DATATYPE
    };
    for (uint32_t id = 1; id < sizeof names / sizeof names[0]; ++id) {
        if (types[id].name) continue;
        // Whatever the cell refers to is marked from the start, as the collector's table says;
        // the series among them are the same value by buffer and position.
        MarkFn mark = nullptr;
        SameFn same_fn = nullptr;
        HashFn hash_fn = nullptr;
        switch (id) {
        case T_bitset: mark = collector::mark_series_value; same_fn = same::second; break;
        case T_vector: mark = collector::mark_series_value; same_fn = same::first_two; break;
        case T_image:
            mark = collector::mark_series_value;
            same_fn = same::first_two;
            hash_fn = hashing::first_two;
            break;
        case T_hash: mark = mark_keyed_block; same_fn = same::first_two; hash_fn = hashing::first_two; break;
        case T_map: mark = mark_keyed_block; hash_fn = hashing::second; break;
        case T_port: hash_fn = hashing::first; break;
        case T_handle: case T_event: hash_fn = hashing::second; break;
        default: break;
        }
        register_type({.id = id, .parent = 0, .name = names[id], .rest = Rest::empty, .mark = mark, .same = same_fn,
                       .hash = hash_fn, .actions = {}});
    }
}

namespace hashing {
uint32_t first(const Cell& v, bool) { return hashtable::mix32(v.w1); }
uint32_t second(const Cell& v, bool) { return hashtable::mix32(v.w2); }
uint32_t third(const Cell& v, bool) { return hashtable::mix32(v.w3); }
uint32_t first_two(const Cell& v, bool) {
    uint32_t w[2] = {v.w1, v.w2};
    return hashtable::murmur3(w, sizeof w);
}
uint32_t last_two(const Cell& v, bool) {
    uint32_t w[2] = {v.w2, v.w3};
    return hashtable::murmur3(w, sizeof w);
}
uint32_t real(const Cell& v, bool) {
    uint32_t w[2] = {v.w2, v.w3};
    if (cell::get_double(v) == 0.0) w[0] = w[1] = 0;
    return hashtable::murmur3(w, sizeof w);
}
}  // namespace hashing

uint32_t highest_id() { return highest; }

const char* name_of(uint32_t id) { return id < actions::max_types ? types[id].name : nullptr; }

}  // namespace datatype
}  // namespace kov
