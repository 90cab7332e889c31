#include "runtime/datatypes/word.h"

#include <cstring>
#include <string>

#include "runtime/collector.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/error.h"
#include "runtime/families.h"
#include "runtime/hashtable.h"
#include "runtime/interpreter/actions.h"
#include "runtime/lexer/lexer.h"
#include "runtime/words.h"
#include "runtime/interpreter/stack.h"
#include "runtime/root.h"
#include "runtime/series_buffer.h"

namespace kov::word {

namespace {
// A word! of the symbol bound in the global context, the word added when missing.
Cell global_word(uint32_t sym) {
    Node g = context::global();
    int32_t index = context::add_word(g, cell_of(T_word, sym));
    return cell_of(T_word, sym, g, index);
}
}  // namespace

// ---- constructors -------------------------------------------------------------------------------

Cell& make_at(uint32_t sym, Cell& c) { return c = global_word(sym); }

Cell* make_in(uint32_t sym, Node block) {
    Cell w = global_word(sym);
    Cell* c = series::append_cell(block);
    *c = w;
    return c;
}

Cell* load_in(const char* text, Node block, uint32_t type) {
    Cell* c = make_in(symbol::make(text), block);
    cell::set_type(*c, type);
    return c;
}

Cell load(const char* text, uint32_t type) {
    uint32_t sym = symbol::make(text);
    Cell w = type == T_refinement ? cell_of(T_refinement, sym) : context::add_global(sym, true, true);
    cell::set_type(w, type);
    if (context::boot_flag) root::append(w);
    return w;
}

Cell* push(const Cell& word, uint32_t type) {
    Cell* c = stack::push(word);
    cell::set_type(*c, type);
    return c;
}

// ---- access -------------------------------------------------------------------------------------

Cell* word_at(Node ctx, uint32_t index) { return context::slot_at(ctx, index); }
Cell* value_at(Node ctx, uint32_t index) { return context::value_cell(ctx, index); }

// ---- actions ------------------------------------------------------------------------------------

int32_t form(Cell* value, Cell* out, Cell*, int32_t part) {
    // The spelling is copied first: appending to the output may move the symbol's bytes.
    symbol::Spelling sp = symbol::spelling(value->w2);
    std::string spelling(reinterpret_cast<const char*>(sp.bytes), sp.length);
    Cell text = *string::load(reinterpret_cast<const uint8_t*>(spelling.data()), spelling.size(), nullptr, 0);
    stack::pop(1);
    collector::Root keep(text);
    int32_t n = string::rs_length_q(text);
    int32_t take = part < n ? (part > 0 ? part : 0) : n;
    string::concatenate(*out, text, take, 0, false, string::append_mode);
    return part - n;
}

namespace {

int32_t mold_with(Cell* value, Cell* out, const char* prefix, const char* suffix, int32_t part) {
    if (prefix) part = string::emit(*out, prefix, part);
    part = form(value, out, nullptr, part);
    if (suffix) part = string::emit(*out, suffix, part);
    return part;
}

int32_t mold_word(Cell* v, Cell* out, const MoldArgs&, int32_t part) { return mold_with(v, out, nullptr, nullptr, part); }
int32_t mold_set_word(Cell* v, Cell* out, const MoldArgs&, int32_t part) { return mold_with(v, out, nullptr, ":", part); }
int32_t mold_lit_word(Cell* v, Cell* out, const MoldArgs&, int32_t part) { return mold_with(v, out, "'", nullptr, part); }
int32_t mold_get_word(Cell* v, Cell* out, const MoldArgs&, int32_t part) { return mold_with(v, out, ":", nullptr, part); }
int32_t mold_refinement(Cell* v, Cell* out, const MoldArgs&, int32_t part) { return mold_with(v, out, "/", nullptr, part); }

}  // namespace

int32_t compare(Cell* a, Cell* b, int32_t op) {
    uint32_t ta = cell::type(*a), tb = cell::type(*b);
    if (!in(tb, ALL_WORD) || (tb == T_issue && ta != T_issue)) return actions::not_comparable;
    auto differ = [](bool d) { return d ? 1 : 0; };
    switch (op) {
    case actions::equal:
    case actions::not_equal:
    case actions::find_equal:
        return differ(symbol::resolve(a->w2) != symbol::resolve(b->w2));
    case actions::strict_equal:
        return differ(ta != tb || a->w2 != b->w2);
    case actions::same:
        return differ(ta != tb || a->w2 != b->w2 || a->w1 != b->w1);
    case actions::parse_strict:
    case actions::parse_loose: {
        bool word_lit = (ta == T_word && tb == T_lit_word) || (ta == T_lit_word && tb == T_word);
        bool strict = op == actions::parse_strict;
        uint32_t sa = strict ? a->w2 : symbol::resolve(a->w2);
        uint32_t sb = strict ? b->w2 : symbol::resolve(b->w2);
        if (word_lit) return differ(sa != sb);
        return differ(ta != tb || sa != sb);
    }
    default: {
        Cell x = symbol::c_string(*symbol::record(a->w2));
        Cell y = symbol::c_string(*symbol::record(b->w2));
        return string::compare_values(x, y, op, false);
    }
    }
}

namespace {

Cell* index_q(Cell* value) {
    int32_t i = index_of(*value);
    if (i < 0) *value = Cell{T_none, 0, 0, 0};
    else *value = Cell{T_integer, 0, static_cast<uint32_t>(i + 1), 0};
    return value;
}

Cell* make_word(Cell*, Cell* spec, uint32_t type) {
    Cell* r = stack::reserve();
    uint32_t t = cell::type(*spec);
    if (in(t, ANY_WORD)) {
        *r = *spec;
        r->header = type;
    } else if (t == T_datatype) {
        make_at(datatype::types[spec->w1 < actions::max_types ? spec->w1 : 0].name_symbol, *r);
        r->header = type;
    } else if (t == T_logic) {
        make_at(spec->w1 ? words::symbols::true_ : words::symbols::false_, *r);
        r->header = type;
    } else if (t == T_string || t == T_char_) {
        // The text is loaded as one value, which must be a word of some kind.
        Cell text = *spec;
        collector::Root keep(text);
        if (t == T_char_) {
            Cell* s = string::push(1, 1);
            string::append_char(s->w2, static_cast<int32_t>(spec->w2));
            text = *s;
        }
        lexer::Options options;
        options.one_value = true;
        Cell loaded{T_none, 0, 0, 0};
        collector::Root keep_loaded(loaded);
        try {
            lexer::load(loaded, text, -1, options, nullptr);
        } catch (const Error&) {
            error::fire(err::script_invalid_chars);
        }
        uint32_t lt = cell::type(loaded);
        if (lt < T_word || lt > T_issue) error::fire(err::script_invalid_chars);
        *r = loaded;
        r->header = type;
    } else if (t == T_refinement || t == T_issue) {
        // The text must scan as a plain, set, get or lit word.
        symbol::Spelling sp = symbol::spelling(spec->w2);
        std::string text(reinterpret_cast<const char*>(sp.bytes), sp.length);
        lexer::Options options;
        options.one_value = true;
        Cell loaded{T_none, 0, 0, 0};
        collector::Root keep_loaded(loaded);
        bool ok = true;
        try {
            lexer::scan(reinterpret_cast<const uint8_t*>(text.data()), text.size(), options, none::value, loaded);
        } catch (const Error&) {
            ok = false;
        }
        uint32_t lt = cell::type(loaded);
        if (!ok || lt < T_word || lt > T_get_word) error::fire(err::script_bad_to_arg, Cell{T_datatype, type, 0, 0}, *spec);
        *r = cell_of(T_word, spec->w2);
        if (context::find_word(context::global(), spec->w2, true) >= 0) context::bind_word(context::global(), *r);
        r->header = type;
    } else {
        error::fire(err::script_bad_to_arg, Cell{T_datatype, type, 0, 0}, *spec);
    }
    return r;
}

}  // namespace

// ---- registration -------------------------------------------------------------------------------

void mark(const Cell& w) {
    if (!memory::valid_node(w.w1)) return;
    uint32_t flags = memory::buffer(w.w1)->flags;
    if ((flags & memory::unit_mask) != sizeof(Cell)) return;
    // Most words are bound to a context marked already (the global one, above all).
    if ((flags & memory::marked) && !collector::recording_references()) return;
    collector::mark_block(w.w1);
}

namespace {
// Every word type: the canonical symbol, so that spellings differing in case meet, as they
// compare equal.
uint32_t hash_word(const Cell& w, bool) { return hashtable::mix32(symbol::resolve(w.w2)); }
}  // namespace

void init() {
    using datatype::Rest;
    datatype::register_type({.id = T_word, .name = "word!", .rest = Rest::empty, .mark = mark,
                             .hash = hash_word,
                             .actions = {.make = make_word, .to = make_word, .form = form, .mold = mold_word,
                                         .compare = compare, .index_q = index_q}});
    datatype::register_type({.id = T_lit_word, .name = "lit-word!", .rest = Rest::empty,
                             .mark = mark,
                             .actions = {.make = datatype::inherit, .to = datatype::inherit, .form = datatype::inherit,
                                         .mold = mold_lit_word, .compare = datatype::inherit,
                                         .index_q = datatype::inherit}});
    datatype::register_type({.id = T_set_word, .name = "set-word!", .rest = Rest::empty,
                             .mark = mark,
                             .actions = {.make = datatype::inherit, .to = datatype::inherit, .form = datatype::inherit,
                                         .mold = mold_set_word, .compare = datatype::inherit,
                                         .index_q = datatype::inherit}});
    datatype::register_type({.id = T_get_word, .name = "get-word!", .rest = Rest::empty,
                             .mark = mark,
                             .actions = {.make = datatype::inherit, .to = datatype::inherit, .form = datatype::inherit,
                                         .mold = mold_get_word, .compare = datatype::inherit,
                                         .index_q = datatype::inherit}});
    datatype::register_type({.id = T_refinement, .name = "refinement!", .rest = Rest::empty,
                             .mark = mark,
                             .actions = {.make = datatype::inherit, .to = datatype::inherit, .form = datatype::inherit,
                                         .mold = mold_refinement, .compare = datatype::inherit}});
}

}  // namespace kov::word
