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

#include "refinements.h"

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
    RandomArgs how{.seed = args.given(refine::random::seed), .secure = args.given(refine::random::secure), .only = args.given(refine::random::only)};
    result(args, find_impl<slot::random>(*args.cell(0))(args.cell(0), how));
}

void reflect_entry(Args& args) {
    Cell* field = args.cell(1);
    result(args, find_impl<slot::reflect>(*args.cell(0))(args.cell(0), word::symbol_of(*field)));
}

// ---- form and mold ---------------------------------------------------------------------------------

void text_entry(Args& args, bool molding) {
    uint32_t part_ref = molding ? refine::mold::part : refine::form::part;
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
        MoldArgs how{.only = args.given(refine::mold::only), .all = args.given(refine::mold::all), .flat = args.given(refine::mold::flat),
                     .arg = part_arg};
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
    RoundArgs how{.even = args.given(refine::round::even), .down = args.given(refine::round::down), .half_down = args.given(refine::round::half_down), .floor = args.given(refine::round::floor),
                  .ceiling = args.given(refine::round::ceiling), .half_ceiling = args.given(refine::round::half_ceiling)};
    result(args, find_impl<slot::round>(*args.cell(0))(args.cell(0), args.option(refine::round::to), how));
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

// append and insert take the same refinements.
static_assert(refine::append::part == refine::insert::part && refine::append::only == refine::insert::only &&
              refine::append::dup == refine::insert::dup);

template <Slot S>
void add_values(Args& args) {
    Cell* series = args.cell(0);
    Cell* value = args.cell(1);
    // Neither /part nor /dup, the common call: nothing to normalise.
    if (!args.given(refine::insert::part) && !args.given(refine::insert::dup)) {
        result(args, find_impl<S>(*series)(series, value, -1, args.given(refine::insert::only), 1, S == slot::append));
        return;
    }
    int32_t count;
    if (!normalise_part(series, value, args.option(refine::insert::part), count)) return;
    int32_t dup = 1;
    if (Cell* d = args.option(refine::insert::dup)) {
        dup = integer::get(*d);
        if (dup < 1) return;
    }
    result(args, find_impl<S>(*series)(series, value, count, args.given(refine::insert::only), dup, S == slot::append));
}

void change_entry(Args& args) {
    Cell* series = args.cell(0);
    Cell* value = args.cell(1);
    int32_t count = -1;
    if (Cell* part_arg = args.option(refine::change::part)) {
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
    if (Cell* d = args.option(refine::change::dup)) {
        dup = integer::get(*d);
        if (dup < 1) return;
    }
    result(args, find_impl<slot::change>(*series)(series, value, count, args.given(refine::change::only), dup));
}

void copy_entry(Args& args) {
    Cell* types = args.option(refine::copy::types);
    if (types && !cell::is(*types, T_datatype) && !cell::is(*types, T_typeset)) fire_expect_arg(*types, 5);
    Cell* scratch = stack::reserve();
    result(args, find_impl<slot::copy>(*args.cell(0))(args.cell(0), scratch, args.option(refine::copy::part), args.given(refine::copy::deep), types));
}

// select takes find's refinements but /tail and /match, in the same order.
static_assert(refine::select::part == refine::find::part && refine::select::only == refine::find::only &&
              refine::select::case_ == refine::find::case_ && refine::select::same == refine::find::same &&
              refine::select::any == refine::find::any && refine::select::with == refine::find::with &&
              refine::select::skip == refine::find::skip && refine::select::last == refine::find::last &&
              refine::select::reverse == refine::find::reverse);

FindArgs find_args(Args& args, bool with_tail) {
    FindArgs f{};
    f.part = args.option(refine::find::part);
    f.only = args.given(refine::find::only);
    f.case_ = args.given(refine::find::case_);
    f.same = args.given(refine::find::same);
    f.any = args.given(refine::find::any);
    f.with = args.option(refine::find::with);
    f.skip = args.option(refine::find::skip);
    f.last = args.given(refine::find::last);
    f.reverse = args.given(refine::find::reverse);
    if (with_tail) {
        f.tail = args.given(refine::find::tail);
        f.match = args.given(refine::find::match);
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
    result(args, find_impl<slot::move>(*args.cell(0))(args.cell(0), args.cell(1), args.option(refine::move::part)));
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
    result(args, find_impl<slot::put>(*args.cell(0))(args.cell(0), args.cell(1), args.cell(2), args.given(refine::put::case_)));
}
void remove_entry(Args& args) {
    result(args, find_impl<slot::remove>(*args.cell(0))(args.cell(0), args.option(refine::remove::part), args.option(refine::remove::key)));
}
void reverse_entry(Args& args) {
    result(args, find_impl<slot::reverse>(*args.cell(0))(args.cell(0), args.option(refine::reverse::part), args.option(refine::reverse::skip)));
}

void sort_entry(Args& args) {
    SortArgs s{.case_ = args.given(refine::sort::case_), .skip = args.option(refine::sort::skip), .compare = args.option(refine::sort::compare), .part = args.option(refine::sort::part),
               .all = args.given(refine::sort::all), .reverse = args.given(refine::sort::reverse), .stable = args.given(refine::sort::stable)};
    result(args, find_impl<slot::sort>(*args.cell(0))(args.cell(0), s));
}

void take_entry(Args& args) {
    result(args, find_impl<slot::take>(*args.cell(0))(args.cell(0), args.option(refine::take::part), args.given(refine::take::deep), args.given(refine::take::last)));
}

void trim_entry(Args& args) {
    TrimArgs t{.head = args.given(refine::trim::head), .tail = args.given(refine::trim::tail), .auto_ = args.given(refine::trim::auto_), .lines = args.given(refine::trim::lines),
               .all = args.given(refine::trim::all), .with = args.option(refine::trim::with)};
    result(args, find_impl<slot::trim>(*args.cell(0))(args.cell(0), t));
}

// ---- ports -------------------------------------------------------------------------------------------

void modify_entry(Args& args) {
    result(args, find_impl<slot::modify>(*args.cell(0))(args.cell(0), args.cell(1), args.cell(2), args.given(refine::modify::case_)));
}

void open_entry(Args& args) {
    OpenArgs o{.new_ = args.given(refine::open::new_), .read = args.given(refine::open::read), .write = args.given(refine::open::write), .seek = args.given(refine::open::seek),
               .allow = args.option(refine::open::allow)};
    result(args, find_impl<slot::open>(*args.cell(0))(args.cell(0), o));
}

void read_entry(Args& args) {
    ReadArgs r{.part = args.option(refine::read::part), .seek = args.option(refine::read::seek), .binary = args.given(refine::read::binary), .lines = args.given(refine::read::lines),
               .info = args.given(refine::read::info), .as = args.option(refine::read::as)};
    result(args, find_impl<slot::read>(*args.cell(0))(args.cell(0), r));
}

void write_entry(Args& args) {
    WriteArgs w{.binary = args.given(refine::write::binary), .lines = args.given(refine::write::lines), .info = args.given(refine::write::info), .append = args.given(refine::write::append),
                .part = args.option(refine::write::part), .seek = args.option(refine::write::seek), .allow = args.option(refine::write::allow), .as = args.option(refine::write::as)};
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
