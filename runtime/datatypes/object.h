// object!: a context of the object kind seen as a value: named fields, a class id that tells
// objects of the same shape apart, and two optional hook fields, `on-change*` (called after a
// field is set) and `on-deep-change*` (called when a series the object owns changes in place).
// error! and port! share the layout.
//
// Cell: w1 the context node (object kind, heap values, `self` bound), w2 the class id, w3 the
// node of the hook record or 0. The context's self cell holds a copy of the object cell; its
// class id is the object's own (class_of reads it there), which a copy's w2 repeats.
// Hook record: two pair! cells, one per hook: w2 (field index << 16) | local slots of the hook
// function (index all ones: no such hook), w3 the node of the spec those counts came from.
//
// Moving memory: making, cloning and calling hooks allocate and run Kov code.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/datatypes/registry.h"
#include "runtime/memory.h"

namespace kov::object {

using memory::Node;

// The fields of an object!, error! or port! cell.
inline bool object_q(uint32_t t) { return t == T_object || t == T_error || t == T_port; }
inline Node context_of(const Cell& obj) {
    cell::expect(object_q(cell::type(obj)));
    return obj.w1;
}
uint32_t class_of(const Cell& obj);
// Gives the object the class id: the boot objects' fixed ids.
void set_class(const Cell& obj, uint32_t class_id);
inline Node hooks_of(const Cell& obj) {
    cell::expect(object_q(cell::type(obj)));
    return obj.w3;
}

uint32_t new_class_id();
// An object with a new empty context for n fields, class 0, no hooks.
Cell& make_empty_at(Cell& c, uint32_t n);
// Pushes an object cell for an existing context (no hooks) and gives it.
Cell* make_at(Node ctx, uint32_t class_id);
Cell* push(Node ctx, Node hooks, uint32_t class_id);

// The hook record of the context's fields, or 0; a hook field that is not a function raises
// script/bad-field-set.
Node make_hooks(Node ctx);
void install_hooks(Cell& obj);
bool has_deep_hook_q(const Cell& obj);

int32_t field_index(const Cell& obj, const Cell& word);
const Cell* select_word(const Cell& obj, const Cell& word);
uint32_t field_count(const Cell& obj);

void fire_on_change(const Cell& obj, const Cell& word, const Cell& old_value, const Cell& new_value);
void call_on_deep_change(const Cell& owner, const Cell& word, const Cell& series, const Cell& action,
                         const Cell& new_value, int32_t index, int32_t part);

// The `set` native on an object.
// The refinements of set: unset! values allowed (any), a block or object value set whole to each
// word (only), none! values skipped (some).
struct SetArgs {
    bool any = false, only = false, some = false;
};
void set_many(const Cell& obj, const Cell& value, const SetArgs& how);
// Appends the fields as "word: value" lines; gives the remaining part.
int32_t form_fields(const Cell& obj, Cell& out, const MoldArgs& how, int32_t part, bool indent, bool mold);
// A copy of the source object into dest (deep: series values copied too).
void clone(const Cell& source, Cell& dest, bool deep, const Cell* types, bool reset_hooks, bool from_make);
// `construct`: an object from set-words and the values after them, not evaluated.
bool construct(Cell& result, const Cell& spec, const Cell* proto, bool only);

void init();

}  // namespace kov::object
