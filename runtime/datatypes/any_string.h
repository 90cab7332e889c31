// The text types that are string! under another name: file!, url!, email!, tag! and ref!.
// Their cell is a string cell (see string.h) of their own type, and what they share is written
// here once: the cell helper and the constructors (string!'s, retyped) and the registration
// (string!'s marking, with the string! slots all of them take unchanged). Each module keeps
// only what differs: its own actions and the slots only some of them inherit.
//
// Moving memory: the constructors allocate, so they may move any buffer; a cell they fill
// must not itself lie in a series buffer.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/interpreter/stack.h"
#include "runtime/memory.h"

namespace kov::any_string {

// The cell helper and constructors of the text type `Type`.
template <uint32_t Type>
struct Text {
    static Cell cell_of(memory::Node node, int32_t index = 0) {
        return Cell{Type, static_cast<uint32_t>(index), node, 0};
    }
    // An empty text with room for n characters of the unit (1, 2 or 4).
    static Cell& make_at(Cell& c, uint32_t n, uint32_t unit) {
        return cell::set_type(string::make_at(c, n, unit), Type);
    }
    static Cell* make_in(memory::Node block, uint32_t n, uint32_t unit) {
        return &cell::set_type(*string::make_in(block, n, unit), Type);
    }
    static Cell* push(uint32_t n, uint32_t unit) { return &make_at(*stack::reserve(), n, unit); }
    // Pushes a copy of the cell.
    static Cell* push(const Cell& value) { return stack::push(value); }
};

// Registers the text type with string!'s marking and its slots: those it names in `own` (its
// actions, and the string! slots only some text types inherit), and the slots every text type
// takes from string! as they are (make, to, form, mold, compare and the series actions). The
// slots named nowhere stay empty.
void register_text(uint32_t id, const char* name, const datatype::ActionSlots& own);

}  // namespace kov::any_string
