#include "runtime/interpreter/natives.h"

#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/error.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/stack.h"

namespace kov::natives {

Entry table[capacity + 1] = {};
bool last_line_feed = true;

const char* const words[count + 1] = {
    nullptr,
#define NATIVE(n, word, ident) word,
#include "runtime/defs/natives.def"
#undef NATIVE
};

void register_entry(uint32_t index, Entry entry) {
    if (index >= 1 && index <= capacity) table[index] = entry;
}

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
