// The entry function of each action slot: the code an action! value runs. It reads the
// action's arguments from the value stack (fixed arguments from the argument base, then the
// arguments of the refinements given), turns the refinement positions into what the datatype
// implementations expect (null for an absent optional argument, flags for refinements without
// arguments, normalised counts for /part and /dup of append, insert and change), dispatches on
// the first argument's datatype and leaves the result in the argument-base cell.
#include <cstring>

#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/error.h"
#include "runtime/families.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/natives.h"
#include "runtime/interpreter/stack.h"

namespace kov::actions {

using natives::Args;

namespace {

// The implementation of slot S for the value's datatype; a missing one raises
// script/expect-arg naming the action, the datatype and the first argument.
template <Slot S>
typename Sig<S>::type find_impl(const Cell& value) {
    auto fn = lookup<S>(cell::type(value));
    if (!fn) fire_expect_arg(value, 0);
    return fn;
}

// Copies the cell an implementation returned into the result cell.
inline void result(Args& args, Cell* r) {
    if (r && r != args.cell(0)) *args.cell(0) = *r;
}

// Characters, cells or bytes from the buffer head to the tail of a series value.
int32_t series_length(const Cell& s) {
    memory::Buffer* b = memory::buffer(natives::cursor_node(s));
    uint32_t unit = b->unit() ? b->unit() : 1;
    return static_cast<int32_t>(b->used() / unit);
}

// ---- make, to, random, reflect ---------------------------------------------------------------------

// make and to dispatch on the datatype a datatype! first argument names.
template <Slot S>
void make_like(Args& args) {
    Cell* proto = args.cell(0);
    uint32_t type = cell::is(*proto, T_datatype) ? datatype::id_of(*proto) : cell::type(*proto);
    auto fn = lookup<S>(type);
    if (!fn) fire_expect_arg(*proto, 0);
    result(args, fn(proto, args.cell(1), type));
}

void make_entry(Args& args) { make_like<slot::make>(args); }
void to_entry(Args& args) { make_like<slot::to>(args); }

void random_entry(Args& args) {
    RandomArgs how{.seed = args.given(0), .secure = args.given(1), .only = args.given(2)};
    result(args, find_impl<slot::random>(*args.cell(0))(args.cell(0), how));
}

void reflect_entry(Args& args) {
    Cell* field = args.cell(1);
    result(args, find_impl<slot::reflect>(*args.cell(0))(args.cell(0), word::symbol_of(*field)));
}

// ---- form and mold ---------------------------------------------------------------------------------

void text_entry(Args& args, bool molding) {
    uint32_t part_ref = molding ? 3 : 0;
    Cell* part_arg = args.option(part_ref);
    int32_t limit = 0x7FFFFFFF;
    if (part_arg) {
        limit = integer::get(*part_arg);
        if (limit < 1) {
            string::make_at(*args.cell(0), 0, 1);
            stack::keep();
            return;
        }
    }
    stack::keep();
    Cell* out = stack::reserve();
    string::make_at(*out, 16, 1);
    if (molding) {
        MoldArgs how{.only = args.given(0), .all = args.given(1), .flat = args.given(2), .arg = part_arg};
        find_impl<slot::mold>(*args.cell(0))(args.cell(0), out, how, limit);
    } else {
        find_impl<slot::form>(*args.cell(0))(args.cell(0), out, part_arg, limit);
    }
    if (part_arg) string::truncate_at(series::node_of(*out), static_cast<uint32_t>(limit));
    *args.cell(0) = *out;
    stack::keep();
}

void form_entry(Args& args) { text_entry(args, false); }
void mold_entry(Args& args) { text_entry(args, true); }

// ---- arithmetic --------------------------------------------------------------------------------------

template <Slot S>
void unary(Args& args) {
    result(args, find_impl<S>(*args.cell(0))(args.cell(0)));
}

template <Slot S>
void binary(Args& args) {
    result(args, find_impl<S>(*args.cell(0))(args.cell(0), args.cell(1)));
}

template <Slot S>
void predicate(Args& args) {
    bool r = find_impl<S>(*args.cell(0))(args.cell(0));
    logic::make_at(*args.cell(0), r);
}

void round_entry(Args& args) {
    RoundArgs how{.even = args.given(1), .down = args.given(2), .half_down = args.given(3), .floor = args.given(4),
                  .ceiling = args.given(5), .half_ceiling = args.given(6)};
    result(args, find_impl<slot::round>(*args.cell(0))(args.cell(0), args.option(0), how));
}

// ---- series ------------------------------------------------------------------------------------------

// /part of append and insert: a count, or a position in the value being added. Gives false
// when nothing is to be added (the series is the result as it stands).
bool normalise_part(Cell* series, Cell* value, Cell* part_arg, int32_t& count) {
    count = -1;
    if (!part_arg) return true;
    // A map!'s cells are a buffer with a position too, so /part can count them.
    if (!in(cell::type(*value), SERIES) && !cell::is(*value, T_map)) error::fire(err::script_invalid_part, *part_arg);
    int32_t vlen = series_length(*value);
    if (static_cast<int32_t>(natives::cursor_index(*value)) > vlen) natives::set_cursor_index(*value, static_cast<uint32_t>(vlen));
    if (cell::is(*part_arg, T_integer)) {
        count = integer::get(*part_arg);
    } else if (cell::type(*part_arg) == cell::type(*value) && natives::cursor_node(*part_arg) == natives::cursor_node(*value) && !cell::is(*value, T_port)) {
        count = static_cast<int32_t>(natives::cursor_index(*part_arg)) - static_cast<int32_t>(natives::cursor_index(*value));
    } else {
        error::fire(err::script_invalid_refine_arg, series::word_arg("part"), *part_arg);
    }
    if (count == 0 || (count < 0 && natives::cursor_index(*value) == 0)) return false;
    if (count < 0) {
        // Clamped before it is negated: the most negative integer has no positive.
        int32_t index = static_cast<int32_t>(natives::cursor_index(*value));
        int32_t back = count < -index ? index : -count;
        natives::set_cursor_index(*value, static_cast<uint32_t>(index - back));
        count = back;
    }
    (void)series;
    return true;
}

template <Slot S>
void add_values(Args& args) {
    Cell* series = args.cell(0);
    Cell* value = args.cell(1);
    // Neither /part nor /dup, the common call: nothing to normalise.
    if (!args.given(0) && !args.given(2)) {
        result(args, find_impl<S>(*series)(series, value, -1, args.given(1), 1, S == slot::append));
        return;
    }
    int32_t count;
    if (!normalise_part(series, value, args.option(0), count)) return;
    int32_t dup = 1;
    if (Cell* d = args.option(2)) {
        dup = integer::get(*d);
        if (dup < 1) return;
    }
    result(args, find_impl<S>(*series)(series, value, count, args.given(1), dup, S == slot::append));
}

void change_entry(Args& args) {
    Cell* series = args.cell(0);
    Cell* value = args.cell(1);
    int32_t count = -1;
    if (Cell* part_arg = args.option(0)) {
        bool positional = !cell::is(*series, T_port) && !cell::is(*series, T_image);
        if (positional) {
            int32_t len = series_length(*series);
            if (static_cast<int32_t>(natives::cursor_index(*series)) > len) natives::set_cursor_index(*series, static_cast<uint32_t>(len));
        }
        if (cell::is(*part_arg, T_integer)) {
            count = integer::get(*part_arg);
        } else if (cell::type(*part_arg) == cell::type(*series) && natives::cursor_node(*part_arg) == natives::cursor_node(*series)) {
            count = static_cast<int32_t>(natives::cursor_index(*part_arg)) - static_cast<int32_t>(natives::cursor_index(*series));
        } else {
            error::fire(err::script_invalid_refine_arg, series::word_arg("part"), *part_arg);
        }
        if (count < 0) {
            int32_t index = static_cast<int32_t>(natives::cursor_index(*series));
            int32_t back = count < -index ? index : -count;  // clamped before it is negated
            natives::set_cursor_index(*series, static_cast<uint32_t>(index - back));
            count = back;
        }
    }
    int32_t dup = 1;
    if (Cell* d = args.option(2)) {
        dup = integer::get(*d);
        if (dup < 1) return;
    }
    result(args, find_impl<slot::change>(*series)(series, value, count, args.given(1), dup));
}

void copy_entry(Args& args) {
    Cell* types = args.option(2);
    if (types && !cell::is(*types, T_datatype) && !cell::is(*types, T_typeset)) fire_expect_arg(*types, 5);
    Cell* scratch = stack::reserve();
    result(args, find_impl<slot::copy>(*args.cell(0))(args.cell(0), scratch, args.option(0), args.given(1), types));
}

FindArgs find_args(Args& args, bool with_tail) {
    FindArgs f{};
    f.part = args.option(0);
    f.only = args.given(1);
    f.case_ = args.given(2);
    f.same = args.given(3);
    f.any = args.given(4);
    f.with = args.option(5);
    f.skip = args.option(6);
    f.last = args.given(7);
    f.reverse = args.given(8);
    if (with_tail) {
        f.tail = args.given(9);
        f.match = args.given(10);
    }
    return f;
}

void find_entry(Args& args) {
    result(args, find_impl<slot::find>(*args.cell(0))(args.cell(0), args.cell(1), find_args(args, true)));
}
void select_entry(Args& args) {
    result(args, find_impl<slot::select>(*args.cell(0))(args.cell(0), args.cell(1), find_args(args, false)));
}

void length_q_entry(Args& args) {
    Cell* r = find_impl<slot::length_q>(*args.cell(0))(args.cell(0));
    result(args, r);
    if (cell::is(*args.cell(0), T_integer) && args.integer(0) < 0) none::make_at(*args.cell(0));
}

void move_entry(Args& args) {
    result(args, find_impl<slot::move>(*args.cell(0))(args.cell(0), args.cell(1), args.option(0)));
}

// pick and poke take their index as an integer: logic! true 1, false 2, char! and integer! their value.
int32_t index_argument(const Cell& c) {
    switch (cell::type(c)) {
    case T_logic: return logic::get(c) ? 1 : 2;
    case T_char_:
    case T_integer: return integer::get(c);
    default: return 0;
    }
}

void pick_entry(Args& args) {
    result(args, find_impl<slot::pick>(*args.cell(0))(args.cell(0), index_argument(*args.cell(1)), args.cell(1)));
}

void poke_entry(Args& args) {
    Cell value = *args.cell(2);
    find_impl<slot::poke>(*args.cell(0))(args.cell(0), index_argument(*args.cell(1)), args.cell(2), args.cell(1));
    *args.cell(0) = value;
}

void put_entry(Args& args) {
    result(args, find_impl<slot::put>(*args.cell(0))(args.cell(0), args.cell(1), args.cell(2), args.given(0)));
}
void remove_entry(Args& args) {
    result(args, find_impl<slot::remove>(*args.cell(0))(args.cell(0), args.option(0), args.option(1)));
}
void reverse_entry(Args& args) {
    result(args, find_impl<slot::reverse>(*args.cell(0))(args.cell(0), args.option(0), args.option(1)));
}

void sort_entry(Args& args) {
    SortArgs s{.case_ = args.given(0), .skip = args.option(1), .compare = args.option(2), .part = args.option(3),
               .all = args.given(4), .reverse = args.given(5), .stable = args.given(6)};
    result(args, find_impl<slot::sort>(*args.cell(0))(args.cell(0), s));
}

void take_entry(Args& args) {
    result(args, find_impl<slot::take>(*args.cell(0))(args.cell(0), args.option(0), args.given(1), args.given(2)));
}

void trim_entry(Args& args) {
    TrimArgs t{.head = args.given(0), .tail = args.given(1), .auto_ = args.given(2), .lines = args.given(3),
               .all = args.given(4), .with = args.option(5)};
    result(args, find_impl<slot::trim>(*args.cell(0))(args.cell(0), t));
}

// ---- ports -------------------------------------------------------------------------------------------

void modify_entry(Args& args) {
    result(args, find_impl<slot::modify>(*args.cell(0))(args.cell(0), args.cell(1), args.cell(2), args.given(0)));
}

void open_entry(Args& args) {
    OpenArgs o{.new_ = args.given(0), .read = args.given(1), .write = args.given(2), .seek = args.given(3),
               .allow = args.option(4)};
    result(args, find_impl<slot::open>(*args.cell(0))(args.cell(0), o));
}

void read_entry(Args& args) {
    ReadArgs r{.part = args.option(0), .seek = args.option(1), .binary = args.given(2), .lines = args.given(3),
               .info = args.given(4), .as = args.option(5)};
    result(args, find_impl<slot::read>(*args.cell(0))(args.cell(0), r));
}

void write_entry(Args& args) {
    WriteArgs w{.binary = args.given(0), .lines = args.given(1), .info = args.given(2), .append = args.given(3),
                .part = args.option(4), .seek = args.option(5), .allow = args.option(6), .as = args.option(7)};
    result(args, find_impl<slot::write>(*args.cell(0))(args.cell(0), args.cell(1), w));
}

}  // namespace

#define ACTION_ENTRY_own(ident) ident##_entry
#define ACTION_ENTRY_unary(ident) unary<slot::ident>
#define ACTION_ENTRY_binary(ident) binary<slot::ident>
#define ACTION_ENTRY_predicate(ident) predicate<slot::ident>
#define ACTION_ENTRY_adding(ident) add_values<slot::ident>
#define ACTION_ENTRY_none(ident) nullptr
natives::Entry entries[slot_count] = {
#define ACTION(n, word, ident, entry, ret, params) ACTION_ENTRY_##entry(ident),
#include "runtime/defs/actions.def"
#undef ACTION
};
#undef ACTION_ENTRY_own
#undef ACTION_ENTRY_unary
#undef ACTION_ENTRY_binary
#undef ACTION_ENTRY_predicate
#undef ACTION_ENTRY_adding
#undef ACTION_ENTRY_none

}  // namespace kov::actions
