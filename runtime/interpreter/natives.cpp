#include "runtime/interpreter/natives.h"

#include "runtime/cells.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/word.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/error.h"
#include "runtime/families.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/stack.h"

namespace kov::natives {

Entry table[capacity + 1] = {};
bool last_line_feed = true;

const char* const words[count + 1] = {
    nullptr,
#define NATIVE(n, word, ident, family) word,
#include "runtime/defs/natives.def"
#undef NATIVE
};

// native! values and the boot image hold a native's index, so the rows of the list must number
// themselves 1, 2, 3 ... in order: appending is the only change it allows.
constexpr bool numbered_in_order() {
    constexpr uint32_t numbers[] = {
#define NATIVE(n, word, ident, family) n,
#include "runtime/defs/natives.def"
#undef NATIVE
    };
    for (uint32_t i = 0; i < count; ++i)
        if (numbers[i] != i + 1) return false;
    return true;
}
static_assert(numbered_in_order(), "natives.def numbers its rows 1, 2, 3 ... in order");

void register_entry(uint32_t index, Entry entry) {
    if (index >= 1 && index <= capacity) table[index] = entry;
}

// ---- the errors of an argument the native cannot take ------------------------------------------------

void fire_expect_arg(const Cell& value, const char* word) {
    uint32_t symbol = 0, context = 0;
    stack::caller_word(symbol, context);
    Cell caller = symbol ? Cell{T_word, 0, symbol, 0xFFFFFFFFu} : none::value;
    Cell type{T_datatype, cell::type(value), 0, 0};
    Cell arg{T_word, 0, symbol::make(word), 0xFFFFFFFFu};
    error::fire(err::script_expect_arg, caller, type, arg);
}

void Args::wrong_type(uint32_t k, const char* word) const {
    if (word) fire_expect_arg(*cell(k), word);
    actions::fire_expect_arg(*cell(k), static_cast<int32_t>(k));
}

void Args::wrong_value(uint32_t k) const { error::fire(err::script_invalid_arg, *cell(k)); }

}  // namespace kov::natives

namespace kov::actions {

void fire_expect_arg(const Cell& value, int32_t arg_index) {
    // The calling function's word, and the word naming its argument at that index (counting
    // the words, lit-words, get-words and refinements of its spec), or <anon>.
    uint32_t symbol = 0, context = 0;
    stack::caller_word(symbol, context);
    Cell caller = symbol ? word::cell_of(T_word, symbol, context) : none::value;
    Cell type{T_datatype, cell::type(value), 0, 0};
    Cell arg{T_word, 0, stack::anon_symbol(), 0xFFFFFFFFu};
    const Cell* fn = symbol ? context::get_any(symbol, context) : nullptr;
    uint32_t t = fn ? cell::type(*fn) : 0;
    if (in(t, ANY_FUNCTION)) {
        memory::Buffer* spec = memory::buffer(function::spec_of(*fn));
        const Cell* c = cells::of(spec);
        int32_t n = 0;
        for (uint32_t i = 0, count = spec->used() / sizeof(Cell); i < count; ++i) {
            uint32_t ct = cell::type(c[i]);
            if (ct != T_word && ct != T_lit_word && ct != T_get_word && ct != T_refinement) continue;
            if (n++ == arg_index) {
                arg = word::cell_of(T_word, word::symbol_of(c[i]));
                break;
            }
        }
    }
    error::fire(err::script_expect_arg, caller, type, arg);
}

}  // namespace kov::actions
