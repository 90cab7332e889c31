#include "console/engine_words.h"

#include <cstring>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "runtime/interpreter/compiled/code_cache.h"
#include "runtime/collector.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/families.h"
#include "runtime/interpreter/interp.h"
#include "runtime/interpreter/stack.h"
#include "runtime/root.h"

namespace kov::engine_words {

namespace {

using memory::Node;

Node own = 0;  // the private context, once sealed

uint32_t symbol_named(const char* name) {
    return symbol::find(reinterpret_cast<const uint8_t*>(name), uint32_t(std::strlen(name)));
}

bool word_q(uint32_t t) { return t == T_word || t == T_set_word || t == T_get_word || t == T_lit_word; }

// A block, paren or path whose cells are values (code to walk).
bool cells_q(const Cell& c) {
    return in(cell::type(c), ANY_BLOCK) && (memory::buffer(series::node_of(c))->flags & memory::unit_mask) == sizeof(Cell);
}

// A function whose body is Kov code the boot definitions made (not a routine or a native).
bool library_function_q(const Cell& v) {
    return cell::is(v, T_function) && function::compiled_q(v);
}

class Sealer {
public:
    explicit Sealer(Node ctx) : ctx_(ctx) {
        for (const char* name : {"func", "function", "has"}) {
            if (uint32_t sym = symbol_named(name)) spec_makers_.insert(symbol::resolve(sym));
        }
    }

    // The engine's own functions, bound in place.
    void add_root(const Cell& fn) {
        if (!library_function_q(fn) || !roots_.insert(function::more_of(fn)).second) return;
        root_functions_.push_back(fn);
        Cell body = function::body(fn);
        if (cell::is(body, T_block)) bodies_.push_back(series::node_of(body));
    }
    // Every function of an object and of the objects it holds (settings inside the console's
    // context), bound in place.
    void add_root_object(const Cell& obj, int depth) {
        if (!cell::is(obj, T_object) || depth > 2) return;
        Node ctx = object::context_of(obj);
        for (uint32_t i = 0; i < context::word_count(ctx); ++i) {
            const Cell* v = context::value_cell(ctx, i);
            if (!v) continue;
            Cell value = *v;
            if (cell::is(value, T_object)) {
                add_root_object(value, depth + 1);
            } else {
                add_root(value);
            }
        }
    }

    // An object the engine's code is bound to (a helper context of its own, as the state that
    // eval-command keeps between lines) is the engine's own too; `system` is everyone's.
    void add_bound_object(Node ctx) {
        if (ctx == ctx_ || !memory::valid_node(ctx) || !context::is_context(ctx)) return;
        if (!bound_objects_.insert(ctx).second) return;
        if (context::kind_of(*context::record(ctx)) != context::object_kind) return;
        Cell self = *context::self_cell(ctx);
        if (!cell::is(self, T_object) || object::context_of(self) != ctx) return;
        if (system_ && object::context_of(*system_) == ctx) return;
        add_root_object(self, 1);
    }
    void set_system(const Cell* system) { system_ = system; }

    // Finds every global word the code reads, giving each a private value (a library
    // function a copy of its own, whose code is then read too), and every word it sets.
    void discover() {
        for (std::size_t k = 0; k < bodies_.size(); ++k) discover_block(bodies_[k], false, Names{});
    }

    // Binds the global words of the code to the private ones, but for the words it sets.
    void rebind() {
        seen_.clear();
        for (Node body : bodies_) rebind_block(body);
    }

    // A function's argument types are read from its spec's type words at its first call: the
    // engine's functions, and the functions its words hold, read them now, while the words
    // are as they were at start-up (a user's `string!: 1` would make the first call fail).
    void keep_specs() {
        for (const Cell& fn : root_functions_) interp::keep_spec(fn);
        for (uint32_t i = 0; i < context::word_count(ctx_); ++i) {
            const Cell* v = context::value_cell(ctx_, i);
            if (!v || !function::callable_q(cell::type(*v))) continue;
            Cell fn = *v;
            collector::Root keep(fn);
            interp::keep_spec(fn);
        }
    }

private:
    // names: the arguments and locals of the functions made at run time that the block is
    // the body of (words bound globally until then, but never the global ones).
    using Names = std::unordered_set<uint32_t>;
    void discover_block(Node series, bool path, const Names& names) {
        if (!seen_.insert(series).second) return;
        if (memory::buffer(series)->flags & memory::pending_body) return;  // not this code's
        for (uint32_t i = 0; i < cells::count(series); ++i) {
            Cell c = cells::of(series)[i];
            uint32_t t = cell::type(c);
            if (path && i > 0 && t == T_word) continue;  // a field or refinement name, not read
            if (word_q(t)) {
                if (word::context_of(c) != context::global_node) {
                    add_bound_object(word::context_of(c));
                    continue;
                }
                uint32_t canonical = symbol::resolve(word::symbol_of(c));
                if (names.count(canonical)) continue;
                if (t == T_set_word) {
                    sets_.insert(canonical);
                    continue;
                }
                adopt(word::symbol_of(c));
                // func, function or has with its spec and body: a function made at run time.
                Node spec, body;
                if (t == T_word && spec_makers_.count(canonical) && block_at(series, i + 1, spec) &&
                    block_at(series, i + 2, body)) {
                    Names inner = names;
                    for (uint32_t k = 0; k < cells::count(spec); ++k) {
                        const Cell& s = cells::of(spec)[k];
                        if (in(cell::type(s), ALL_WORD)) inner.insert(symbol::resolve(word::symbol_of(s)));
                    }
                    discover_block(body, false, inner);
                    i += 2;
                }
            } else if (cells_q(c)) {
                discover_block(series::node_of(c), in(t, ANY_PATH), names);
            }
        }
    }

    static bool block_at(Node series, uint32_t i, Node& block) {
        if (i >= cells::count(series) || !cell::is(cells::of(series)[i], T_block)) return false;
        block = series::node_of(cells::of(series)[i]);
        return true;
    }

    // Gives the private context the word's start-up value (allocates).
    void adopt(uint32_t sym) {
        if (context::find_word(ctx_, sym, true) >= 0) return;
        Cell* found = context::get_any(sym, context::global_node);
        if (!found || cell::is(*found, T_unset)) return;
        Cell value = *found;
        collector::Root keep(value);
        bool fresh = false;
        if (library_function_q(value) && !roots_.count(function::more_of(value))) {
            Node original = function::more_of(value);
            auto known = copies_.find(original);
            if (known != copies_.end()) {
                value = known->second;
            } else {
                value = copy_of(value);
                copies_.emplace(original, value);
                fresh = true;
            }
        }
        context::put_value(ctx_, word::cell_of(T_word, sym), value);
        if (fresh) {
            // Stored first, so that a function that calls itself finds its copy.
            Cell body = function::more(value)[0];
            if (cell::is(body, T_block)) {
                bodies_.push_back(series::node_of(body));
                discover_block(series::node_of(body), false, Names{});
            }
        }
    }

    // A function like the library's, with a body of its own (a deep copy bound to its own
    // context, as `func` makes one), to be bound to the engine's words.
    static Cell copy_of(const Cell& fn_in) {
        Cell fn = fn_in;
        collector::Root keep_fn(fn);
        Cell body = function::body(fn);
        collector::Root keep_body(body);
        Cell spec{T_block, 0, function::spec_of(fn), 0};
        const Cell& extra = function::more(fn)[4];
        uint32_t extra_value = cell::is(extra, T_integer) ? uint32_t(integer::get(extra)) : 0;
        uint32_t flags = fn.header & (function::flag_compiled | function::flag_trace | function::flag_no_trace);
        Cell copy = *function::make_at(spec, &body, 0, extra_value, flags);
        stack::pop(1);
        return copy;
    }

    void rebind_block(Node series) {
        if (!seen_.insert(series).second) return;
        if (memory::buffer(series)->flags & memory::pending_body) return;
        code_cache::changed(series);  // a compiled form holds the words' old binding
        // Nothing here allocates: the cells are bound where they lie.
        for (uint32_t i = 0; i < cells::count(series); ++i) {
            Cell& c = cells::of(series)[i];
            uint32_t t = cell::type(c);
            if (word_q(t)) {
                uint32_t sym = word::symbol_of(c);
                if (word::context_of(c) != context::global_node || sets_.count(symbol::resolve(sym))) continue;
                int32_t index = context::find_word(ctx_, sym, true);
                if (index >= 0) {
                    Cell rebound = word::cell_of(t, sym, ctx_, index);
                    rebound.header = c.header;  // its flags (a new line before it) stay
                    c = rebound;
                }
            } else if (cells_q(c)) {
                rebind_block(series::node_of(c));
            }
        }
    }

    Node ctx_;
    std::vector<Cell> root_functions_;        // the engine's functions (reachable from their objects)
    std::vector<Node> bodies_;                // the code to bind: the roots', then the copies'
    std::unordered_set<Node> roots_;          // the engine's functions (their "more" nodes)
    std::unordered_map<Node, Cell> copies_;   // a library function's copy, by its "more" node
    std::unordered_set<Node> seen_;           // blocks walked in the current pass
    std::unordered_set<uint32_t> sets_;       // words the code sets (canonical symbols)
    std::unordered_set<Node> bound_objects_;  // object contexts met in the code
    std::unordered_set<uint32_t> spec_makers_;  // func, function, has: a spec block follows
    const Cell* system_ = nullptr;            // the system object (kept by the caller)
};

}  // namespace

void seal() {
    if (own) return;
    Node ctx = context::create(256, false, false, 0, context::object_kind);
    collector::RootNode keep(ctx);
    Sealer sealer(ctx);
    Node global = context::global_node;
    for (const char* name : {"quit", "halt", "_save-cfg"}) {
        if (uint32_t sym = symbol_named(name)) {
            if (Cell* v = context::get_any(sym, global)) sealer.add_root(Cell(*v));
        }
    }
    // The objects are the engine's own too, under their start-up names: C++ reaches them
    // through `lookup`.
    for (const char* name : {"system", "cli-console-ctx", "kov-complete-ctx"}) {
        uint32_t sym = symbol_named(name);
        Cell* v = sym ? context::get_any(sym, global) : nullptr;
        if (!v || !cell::is(*v, T_object)) continue;
        Cell obj = *v;
        collector::Root keep_obj(obj);
        context::put_value(ctx, word::cell_of(T_word, sym), obj);
        if (std::strcmp(name, "system") == 0) {
            if (const Cell* console = lookup({"system", "console"})) sealer.add_root_object(Cell(*console), 1);
        } else {
            sealer.add_root_object(obj, 0);
        }
    }
    Cell system = none::value;
    collector::Root keep_system(system);
    if (const Cell* s = lookup({"system"})) {
        system = *s;
        sealer.set_system(&system);
    }
    sealer.discover();
    sealer.rebind();
    sealer.keep_specs();
    // Kept from the root block: the words bound to it keep it too, but the line editor looks
    // things up in it by name.
    Cell* obj = object::make_at(ctx, 0);
    root::append(*obj);
    stack::pop(1);
    own = ctx;
}

Cell* lookup(std::initializer_list<const char*> path) {
    Cell* value = nullptr;
    for (const char* name : path) {
        uint32_t sym = symbol_named(name);
        if (!sym) return nullptr;
        if (value) {
            if (!cell::is(*value, T_object)) return nullptr;
            value = context::get_any(sym, object::context_of(*value));
        } else {
            if (own) value = context::get_any(sym, own);
            if (!value) value = context::get_any(sym, context::global_node);
        }
        if (!value) return nullptr;
    }
    return value;
}

}  // namespace kov::engine_words
