#include "runtime/datatypes/registry.h"

#include <cstring>

#include "runtime/datatypes/context.h"
#include "runtime/datatypes/word.h"

namespace kov {

namespace actions {

const char* const words[slot_count] = {
#define ACTION(n, word, ident, ret, params) word,
#include "runtime/defs/actions.def"
#undef ACTION
};

Raw table[max_types][slot_count] = {};

}  // namespace actions

namespace datatype {

TypeEntry types[actions::max_types] = {};

namespace {
uint32_t highest = 0;

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
}  // namespace

void register_type(const Registration& r) {
    uint32_t id = r.id;
    if (id == 0 || id >= actions::max_types) return;
    if (id > highest) highest = id;
    TypeEntry& t = types[id];
    t.name = r.name;
    t.name_length = static_cast<int32_t>(std::strlen(r.name)) - 1;
    t.parent = r.parent;
    t.mark = r.mark ? r.mark : (r.parent ? types[r.parent].mark : nullptr);
#define ACTION(n, word, ident, ret, params) store(id, r.parent, r.rest, n, r.actions.ident);
#include "runtime/defs/actions.def"
#undef ACTION
    if (context::global()) make_name_word(t);
}

void init_names() {
    for (uint32_t id = 1; id <= highest; ++id) make_name_word(types[id]);
}

uint32_t highest_id() { return highest; }

const char* name_of(uint32_t id) { return id < actions::max_types ? types[id].name : nullptr; }

}  // namespace datatype
}  // namespace kov
