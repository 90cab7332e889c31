// The entry function of each action slot: the code an action! value runs. It reads the
// action's arguments from the value stack (fixed arguments from the argument base, then the
// arguments of the refinements given), turns the refinement positions into what the datatype
// implementations expect (null for an absent optional argument, flags for refinements without
// arguments, normalised counts for /part and /dup of append, insert and change), dispatches on
// the first argument's datatype and leaves the result in the argument-base cell.
#include <cstring>

#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/error.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/natives.h"
#include "runtime/interpreter/stack.h"

namespace kov::actions {

namespace {

inline Cell* A(uint32_t k) { return stack::values.args + k; }
inline Cell* opt(const int32_t* refs, uint32_t r) { return refs[r] >= 0 ? A(static_cast<uint32_t>(refs[r])) : nullptr; }
inline bool flag(const int32_t* refs, uint32_t r) { return refs[r] >= 0; }

// The implementation of slot S for the value's datatype; a missing one raises
// script/expect-arg naming the action, the datatype and the first argument.
template <Slot S>
typename Sig<S>::type find_impl(const Cell& value) {
    auto fn = lookup<S>(cell::type(value));
    if (!fn) fire_expect_arg(value, 0);
    return fn;
}

// Copies the cell an implementation returned into the result cell.
inline void result(Cell* r) {
    if (r && r != A(0)) *A(0) = *r;
}

Cell datatype_cell(uint32_t t) { return Cell{T_datatype, t, 0, 0}; }

inline bool is_series_type(uint32_t t) {
    switch (t) {
    case T_block: case T_paren: case T_path: case T_lit_path: case T_set_path: case T_get_path: case T_hash:
    case T_string: case T_file: case T_url: case T_tag: case T_email: case T_ref: case T_binary: case T_vector:
    case T_image: case T_map:
        return true;
    default:
        return false;
    }
}

// Characters, cells or bytes from the buffer head to the tail of a series value.
int32_t series_length(const Cell& s) {
    memory::Buffer* b = memory::buffer(s.w2);
    uint32_t unit = b->unit() ? b->unit() : 1;
    return static_cast<int32_t>(b->used() / unit);
}

// ---- make, to, random, reflect ---------------------------------------------------------------------

// make and to dispatch on the datatype a datatype! first argument names.
template <Slot S>
void make_like(const int32_t*) {
    Cell* proto = A(0);
    uint32_t type = cell::is(*proto, T_datatype) ? proto->w1 : cell::type(*proto);
    auto fn = lookup<S>(type);
    if (!fn) fire_expect_arg(*proto, 0);
    result(fn(proto, A(1), type));
}

void make_entry(const int32_t* refs) { make_like<slot::make>(refs); }
void to_entry(const int32_t* refs) { make_like<slot::to>(refs); }

void random_entry(const int32_t* refs) {
    result(find_impl<slot::random>(*A(0))(A(0), flag(refs, 0), flag(refs, 1), flag(refs, 2)));
}

void reflect_entry(const int32_t*) {
    Cell* field = A(1);
    result(find_impl<slot::reflect>(*A(0))(A(0), field->w2));
}

// ---- form and mold ---------------------------------------------------------------------------------

void text_entry(const int32_t* refs, bool molding) {
    uint32_t part_ref = molding ? 3 : 0;
    Cell* part_arg = opt(refs, part_ref);
    int32_t limit = 0x7FFFFFFF;
    if (part_arg) {
        limit = integer::get(*part_arg);
        if (limit < 1) {
            string::make_at(*A(0), 0, 1);
            stack::keep();
            return;
        }
    }
    stack::keep();
    Cell* out = stack::reserve();
    string::make_at(*out, 16, 1);
    if (molding) {
        find_impl<slot::mold>(*A(0))(A(0), out, flag(refs, 0), flag(refs, 1), flag(refs, 2), part_arg, limit, 0);
    } else {
        find_impl<slot::form>(*A(0))(A(0), out, part_arg, limit);
    }
    if (part_arg) string::truncate_at(out->w2, static_cast<uint32_t>(limit));
    *A(0) = *out;
    stack::keep();
}

void form_entry(const int32_t* refs) { text_entry(refs, false); }
void mold_entry(const int32_t* refs) { text_entry(refs, true); }

// ---- the internal slots ----------------------------------------------------------------------------

void eval_path_entry(const int32_t*) {
    PathStep step{.element = A(1)};
    auto fn = lookup<slot::eval_path>(cell::type(*A(0)));
    if (!fn) error::fire(err::script_bad_path_type2, *A(1), datatype_cell(cell::type(*A(0))));
    result(fn(A(0), step));
}

void compare_entry(const int32_t*) {
    bool r = compare(*A(0), *A(1), integer::get(*A(2)));
    logic::make_at(*A(0), r);
}

// ---- arithmetic --------------------------------------------------------------------------------------

template <Slot S>
void unary(const int32_t*) {
    result(find_impl<S>(*A(0))(A(0)));
}

template <Slot S>
void binary(const int32_t*) {
    result(find_impl<S>(*A(0))(A(0), A(1)));
}

template <Slot S>
void predicate(const int32_t*) {
    bool r = find_impl<S>(*A(0))(A(0));
    logic::make_at(*A(0), r);
}

void round_entry(const int32_t* refs) {
    result(find_impl<slot::round>(*A(0))(A(0), opt(refs, 0), flag(refs, 1), flag(refs, 2), flag(refs, 3),
                                        flag(refs, 4), flag(refs, 5), flag(refs, 6)));
}

// ---- series ------------------------------------------------------------------------------------------

// /part of append and insert: a count, or a position in the value being added. Gives false
// when nothing is to be added (the series is the result as it stands).
bool normalise_part(Cell* series, Cell* value, Cell* part_arg, int32_t& count) {
    count = -1;
    if (!part_arg) return true;
    if (!is_series_type(cell::type(*value))) error::fire(err::script_invalid_part, *part_arg);
    int32_t vlen = series_length(*value);
    if (static_cast<int32_t>(value->w1) > vlen) value->w1 = static_cast<uint32_t>(vlen);
    if (cell::is(*part_arg, T_integer)) {
        count = integer::get(*part_arg);
    } else if (cell::type(*part_arg) == cell::type(*value) && part_arg->w2 == value->w2 && !cell::is(*value, T_port)) {
        count = static_cast<int32_t>(part_arg->w1) - static_cast<int32_t>(value->w1);
    } else {
        error::fire(err::script_invalid_refine_arg, Cell{T_word, 0, 0, 0}, *part_arg);
    }
    if (count == 0 || (count < 0 && value->w1 == 0)) return false;
    if (count < 0) {
        int32_t back = -count;
        int32_t index = static_cast<int32_t>(value->w1);
        if (back > index) back = index;
        value->w1 = static_cast<uint32_t>(index - back);
        count = back;
    }
    (void)series;
    return true;
}

template <Slot S>
void add_values(const int32_t* refs) {
    Cell* series = A(0);
    Cell* value = A(1);
    // Neither /part nor /dup, the common call: nothing to normalise.
    if (!flag(refs, 0) && !flag(refs, 2)) {
        result(find_impl<S>(*series)(series, value, -1, flag(refs, 1), 1, S == slot::append));
        return;
    }
    int32_t count;
    if (!normalise_part(series, value, opt(refs, 0), count)) return;
    int32_t dup = 1;
    if (Cell* d = opt(refs, 2)) {
        dup = integer::get(*d);
        if (dup < 1) return;
    }
    result(find_impl<S>(*series)(series, value, count, flag(refs, 1), dup, S == slot::append));
}

void change_entry(const int32_t* refs) {
    Cell* series = A(0);
    Cell* value = A(1);
    int32_t count = -1;
    if (Cell* part_arg = opt(refs, 0)) {
        bool positional = !cell::is(*series, T_port) && !cell::is(*series, T_image);
        if (positional) {
            int32_t len = series_length(*series);
            if (static_cast<int32_t>(series->w1) > len) series->w1 = static_cast<uint32_t>(len);
        }
        if (cell::is(*part_arg, T_integer)) {
            count = integer::get(*part_arg);
        } else if (cell::type(*part_arg) == cell::type(*series) && part_arg->w2 == series->w2) {
            count = static_cast<int32_t>(part_arg->w1) - static_cast<int32_t>(series->w1);
        } else {
            error::fire(err::script_invalid_refine_arg, Cell{T_word, 0, 0, 0}, *part_arg);
        }
        if (count < 0) {
            int32_t back = -count;
            int32_t index = static_cast<int32_t>(series->w1);
            if (back > index) back = index;
            series->w1 = static_cast<uint32_t>(index - back);
            count = back;
        }
    }
    int32_t dup = 1;
    if (Cell* d = opt(refs, 2)) {
        dup = integer::get(*d);
        if (dup < 1) return;
    }
    result(find_impl<slot::change>(*series)(series, value, count, flag(refs, 1), dup));
}

void copy_entry(const int32_t* refs) {
    Cell* types = opt(refs, 2);
    if (types && !cell::is(*types, T_datatype) && !cell::is(*types, T_typeset)) fire_expect_arg(*types, 5);
    Cell* scratch = stack::reserve();
    result(find_impl<slot::copy>(*A(0))(A(0), scratch, opt(refs, 0), flag(refs, 1), types));
}

FindArgs find_args(const int32_t* refs, bool with_tail) {
    FindArgs f{};
    f.part = opt(refs, 0);
    f.only = flag(refs, 1);
    f.case_ = flag(refs, 2);
    f.same = flag(refs, 3);
    f.any = flag(refs, 4);
    f.with = opt(refs, 5);
    f.skip = opt(refs, 6);
    f.last = flag(refs, 7);
    f.reverse = flag(refs, 8);
    if (with_tail) {
        f.tail = flag(refs, 9);
        f.match = flag(refs, 10);
    }
    return f;
}

void find_entry(const int32_t* refs) { result(find_impl<slot::find>(*A(0))(A(0), A(1), find_args(refs, true))); }
void select_entry(const int32_t* refs) { result(find_impl<slot::select>(*A(0))(A(0), A(1), find_args(refs, false))); }

void length_entry(const int32_t*) {
    Cell* r = find_impl<slot::length_q>(*A(0))(A(0));
    result(r);
    if (cell::is(*A(0), T_integer) && integer::get(*A(0)) < 0) none::make_at(*A(0));
}

void move_entry(const int32_t* refs) { result(find_impl<slot::move>(*A(0))(A(0), A(1), opt(refs, 0))); }

// pick and poke take their index as an integer: logic! true 1, false 2, char! and integer! their value.
int32_t index_argument(const Cell& c) {
    switch (cell::type(c)) {
    case T_logic: return c.w1 ? 1 : 2;
    case T_char_:
    case T_integer: return static_cast<int32_t>(c.w2);
    default: return 0;
    }
}

void pick_entry(const int32_t*) { result(find_impl<slot::pick>(*A(0))(A(0), index_argument(*A(1)), A(1))); }

void poke_entry(const int32_t*) {
    Cell value = *A(2);
    find_impl<slot::poke>(*A(0))(A(0), index_argument(*A(1)), A(2), A(1));
    *A(0) = value;
}

void put_entry(const int32_t* refs) { result(find_impl<slot::put>(*A(0))(A(0), A(1), A(2), flag(refs, 0))); }
void remove_entry(const int32_t* refs) { result(find_impl<slot::remove>(*A(0))(A(0), opt(refs, 0), opt(refs, 1))); }
void reverse_entry(const int32_t* refs) { result(find_impl<slot::reverse>(*A(0))(A(0), opt(refs, 0), opt(refs, 1))); }

void sort_entry(const int32_t* refs) {
    SortArgs s{flag(refs, 0), opt(refs, 1), opt(refs, 2), opt(refs, 3), flag(refs, 4), flag(refs, 5), flag(refs, 6)};
    result(find_impl<slot::sort>(*A(0))(A(0), s));
}

void take_entry(const int32_t* refs) { result(find_impl<slot::take>(*A(0))(A(0), opt(refs, 0), flag(refs, 1), flag(refs, 2))); }

void trim_entry(const int32_t* refs) {
    TrimArgs t{flag(refs, 0), flag(refs, 1), flag(refs, 2), flag(refs, 3), flag(refs, 4), opt(refs, 5)};
    result(find_impl<slot::trim>(*A(0))(A(0), t));
}

// ---- ports -------------------------------------------------------------------------------------------

void modify_entry(const int32_t* refs) { result(find_impl<slot::modify>(*A(0))(A(0), A(1), A(2), flag(refs, 0))); }

void open_entry(const int32_t* refs) {
    OpenArgs o{flag(refs, 0), flag(refs, 1), flag(refs, 2), flag(refs, 3), opt(refs, 4)};
    result(find_impl<slot::open>(*A(0))(A(0), o));
}

void read_entry(const int32_t* refs) {
    ReadArgs r{opt(refs, 0), opt(refs, 1), flag(refs, 2), flag(refs, 3), flag(refs, 4), opt(refs, 5)};
    result(find_impl<slot::read>(*A(0))(A(0), r));
}

void write_entry(const int32_t* refs) {
    WriteArgs w{flag(refs, 0), flag(refs, 1), flag(refs, 2), flag(refs, 3), opt(refs, 4), opt(refs, 5), opt(refs, 6),
                opt(refs, 7)};
    result(find_impl<slot::write>(*A(0))(A(0), A(1), w));
}

}  // namespace

natives::Entry entries[62] = {
    make_entry,
    random_entry,
    reflect_entry,
    to_entry,
    form_entry,
    mold_entry,
    eval_path_entry,
    nullptr,  // set-path: assignment goes through eval-path with a value
    compare_entry,
    unary<slot::absolute>,
    binary<slot::add>,
    binary<slot::divide>,
    binary<slot::multiply>,
    unary<slot::negate>,
    binary<slot::power>,
    binary<slot::remainder>,
    round_entry,
    binary<slot::subtract>,
    predicate<slot::even_q>,
    predicate<slot::odd_q>,
    binary<slot::and_t>,
    unary<slot::complement>,
    binary<slot::or_t>,
    binary<slot::xor_t>,
    add_values<slot::append>,
    binary<slot::at>,
    unary<slot::back>,
    change_entry,
    unary<slot::clear>,
    copy_entry,
    find_entry,
    unary<slot::head>,
    unary<slot::head_q>,
    unary<slot::index_q>,
    add_values<slot::insert>,
    length_entry,
    move_entry,
    unary<slot::next>,
    pick_entry,
    poke_entry,
    put_entry,
    remove_entry,
    reverse_entry,
    select_entry,
    sort_entry,
    binary<slot::skip>,
    binary<slot::swap>,
    unary<slot::tail>,
    unary<slot::tail_q>,
    take_entry,
    trim_entry,
    unary<slot::create>,
    unary<slot::close>,
    unary<slot::delete_>,
    modify_entry,
    open_entry,
    unary<slot::open_q>,
    unary<slot::query>,
    read_entry,
    binary<slot::rename>,
    unary<slot::update>,
    write_entry,
};

void init_entries() {}

}  // namespace kov::actions
