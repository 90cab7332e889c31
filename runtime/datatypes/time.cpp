#include "runtime/datatypes/time.h"

#include <charconv>
#include <cstring>
#include <utility>

#include "runtime/cells.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/scalar.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/families.h"
#include "runtime/float_text.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/stack.h"
#include "runtime/numeric.h"
#include "runtime/series_buffer.h"
#include "runtime/words.h"

namespace kov::time {

// ---- constructors -------------------------------------------------------------------------------

Cell* make_in(memory::Node block, double seconds) { return &make_at(*series::append_cell(block), seconds); }
Cell* push(double seconds) { return &make_at(*stack::reserve(), seconds); }

// ---- internal routines --------------------------------------------------------------------------

namespace {

using scalar::datatype_of;

[[noreturn]] void bad_to(const Cell& spec) { error::fire(err::script_bad_to_arg, datatype_of(T_time), spec); }

// 1 hour, 2 minute, 3 second, letter case ignored. Another word raises script/cannot-use
// against the time (pick), or script/invalid-path in the path (a path step).
int32_t check_selector(const Cell& word, const Cell& time_or_path) {
    if (scalar::word_is(word, words::symbols::hour)) return 1;
    if (scalar::word_is(word, words::symbols::minute)) return 2;
    if (scalar::word_is(word, words::symbols::second)) return 3;
    if (cell::is(time_or_path, T_time)) error::fire(err::script_cannot_use, word, time_or_path);
    error::fire(err::script_invalid_path, time_or_path, word);
}

// The field by index: hour and minute as integer! (script/type-limit when the hours of a
// huge or non-finite time have no 32-bit integer), second as float!.
Cell field(double seconds, int32_t index) {
    if (index == 3) return float_::make(seconds_of(seconds));
    int32_t v;
    if (!numeric::to_int32(index == 1 ? hours_of(seconds) : minutes_of(seconds), v))
        error::fire(err::script_type_limit, datatype_of(T_integer));
    return integer::make(v);
}

}  // namespace

// ---- actions ------------------------------------------------------------------------------------

namespace {

// make and to (one routine).
Cell* to(Cell*, Cell* spec, uint32_t) {
    double seconds = 0;
    uint32_t t = cell::type(*spec);
    switch (t) {
    case T_time:
    case T_float_:
    case T_percent: seconds = cell::get_double(*spec); break;
    case T_integer: seconds = integer::get(*spec); break;
    case T_block:
    case T_paren:
    case T_hash: {
        // [hours minutes seconds], each optional from the right; a negative hour makes the
        // whole time negative.
        memory::Buffer* buf = memory::buffer(spec->w2);
        int64_t count = int64_t(buf->used() / sizeof(Cell)) - int64_t(spec->w1);
        if (count > 3) bad_to(*spec);
        const Cell* items = cells::of(buf) + spec->w1;
        double parts[3] = {0, 0, 0};
        for (int64_t i = 0; i < count; ++i) {
            const Cell& c = items[i];
            if (cell::is(c, T_integer)) parts[i] = integer::get(c);
            else if (i == 2 && cell::is(c, T_float_) && std::isfinite(cell::get_double(c))) parts[i] = cell::get_double(c);
            else bad_to(*spec);
            if (i > 0 && parts[i] < 0) bad_to(*spec);
        }
        bool negative = parts[0] < 0;
        seconds = std::fabs(parts[0]) * seconds_per_hour + parts[1] * seconds_per_minute + parts[2];
        if (negative) seconds = -seconds;
        break;
    }
    default: {
        if (!in(t, ANY_STRING)) bad_to(*spec);
        Cell v = scalar::load_one(*spec);
        if (!cell::is(v, T_time)) bad_to(*spec);
        seconds = get(v);
        break;
    }
    }
    return stack::push(make(seconds));
}

// h:mm:ss with the fraction of the seconds; a negative time starts with "-".
int32_t form(Cell* value, Cell* out, Cell*, int32_t part) {
    double s = get(*value);
    FloatText ft;
    if (!std::isfinite(s)) {
        // An infinite or NaN time (a division by zero) has no fields: its number is written.
        float_::format(s, float_::Kind::float64, ft);
        return string::emit(*out, ft.text, part);
    }
    bool negative = s < 0;
    if (negative) s = -s;
    // The seconds text first: one that rounds up to 60 shows as the next whole minute.
    double sec = seconds_of(s);
    bool whole = sec < smallest_seconds;
    if (!whole) {
        float_::format(sec, float_::Kind::seconds, ft);
        if (std::strcmp(ft.text, "60") == 0) {
            s = (s - sec) + seconds_per_minute;
            whole = true;
        }
    }
    if (negative) part = string::emit(*out, "-", part);
    // The hours of any finite time, beyond the 32-bit range too.
    char text[400];
    std::to_chars_result r = std::to_chars(text, text + sizeof text - 1, std::floor(s / seconds_per_hour),
                                           std::chars_format::fixed, 0);
    *r.ptr = '\0';
    part = string::emit(*out, text, part);
    int32_t minutes = static_cast<int32_t>(minutes_of(s));  // 0 to 59
    char mm[5] = {':', static_cast<char>('0' + minutes / 10), static_cast<char>('0' + minutes % 10), ':', '\0'};
    part = string::emit(*out, mm, part);
    if (whole) return string::emit(*out, "00", part);
    if (ft.text[1] == '\0' || ft.text[1] == '.') part = string::emit(*out, "0", part);
    return string::emit(*out, ft.text, part);
}

int32_t mold(Cell* value, Cell* out, const MoldArgs& how, int32_t part) {
    return form(value, out, how.arg, part);
}

Cell* eval_path(Cell* parent, const PathStep& step) {
    Cell element = *step.element;
    Cell path = step.path ? *step.path : element;
    int32_t index;
    if (cell::is(element, T_integer)) {
        index = integer::get(element);
        if (index < 1 || index > 3) error::fire(err::script_invalid_path, path, element);
    } else if (scalar::selector_word_q(element)) {
        index = check_selector(element, path);
    } else {
        error::fire(err::script_invalid_path, path, element);
    }
    double s = get(*parent);
    if (!step.value) return stack::push(field(s, index));
    const Cell& v = *step.value;
    bool number = cell::is(v, T_integer) || (index == 3 && cell::is(v, T_float_));
    if (!number) error::fire(err::script_invalid_arg, v);
    double n = cell::is(v, T_integer) ? integer::get(v) : cell::get_double(v);
    // The time moves by the difference between the new field and the field as read.
    switch (index) {
    case 1: s -= (hours_of(s) - n) * seconds_per_hour; break;
    case 2: s -= (s < 0 ? -1.0 : 1.0) * (minutes_of(s) - n) * seconds_per_minute; break;
    default: s -= seconds_of(s) - n; break;
    }
    make_at(*parent, s);
    return step.value;
}

Cell* pick(Cell* value, int32_t index, Cell* boxed) {
    if (boxed && scalar::selector_word_q(*boxed)) index = check_selector(*boxed, *value);
    else if (index < 1 || index > 3) error::fire(err::script_out_of_range, boxed ? *boxed : integer::make(index));
    *value = field(get(*value), index);
    return value;
}

Cell* add_a(Cell* a, Cell* b) {
    if (cell::is(*b, T_date)) {
        // A time plus a date is the date moved by the time: the date owns the operation.
        std::swap(*a, *b);
        return date::math(a, b, integer::add);
    }
    return float_::math(a, b, integer::add);
}

Cell* subtract_a(Cell* a, Cell* b) {
    if (cell::is(*b, T_date)) error::fire(err::script_not_related, words::loaded::subtract, datatype_of(T_time));
    return float_::math(a, b, integer::subtract);
}

Cell* multiply_a(Cell* a, Cell* b) {
    if (cell::is(*b, T_time)) error::fire(err::script_not_related, words::loaded::multiply, datatype_of(T_time));
    return float_::math(a, b, integer::multiply);
}

// A time divided by a time is their ratio, a plain number.
Cell* divide_a(Cell* a, Cell* b) {
    bool ratio = cell::is(*b, T_time);
    float_::math(a, b, integer::divide);
    if (ratio) cell::retype(*a, T_float_);
    return a;
}

// float!'s rounding on the seconds; the result is always a time. An integer! scale is
// passed on as a float! of the same value, so that the rounded seconds are not limited to
// the 32-bit range.
Cell* round(Cell* n, Cell* scale, const RoundArgs& how) {
    if (scale && cell::is(*scale, T_money))
        error::fire(err::script_not_related, scalar::calling_word(), datatype_of(T_money));
    Cell float_scale;
    if (scale && cell::is(*scale, T_integer)) {
        float_scale = float_::make(integer::get(*scale));
        scale = &float_scale;
    }
    float_::round(n, scale, how);
    make_at(*n, cell::get_double(*n));
    return n;
}

// Bit 0 of the whole seconds of the seconds field, nudged away from zero against a
// representation just below a whole second.
bool odd_bit(const Cell& value) {
    double s = get(value);
    if (!std::isfinite(s)) error::fire(err::script_invalid_arg, value);
    double whole = std::trunc(std::fmod(s + (s < 0 ? -smallest_seconds : smallest_seconds), seconds_per_minute));
    return std::fmod(whole, 2.0) != 0.0;
}

bool even_q(Cell* value) { return !odd_bit(*value); }
bool odd_q(Cell* value) { return odd_bit(*value); }

}  // namespace

void init() {
    using datatype::inherit;
    datatype::register_type({.id = T_time, .name = "time!", .rest = datatype::Rest::empty,
                             .mark = nullptr,
                             .actions = {.make = to, .random = inherit, .to = to, .form = form, .mold = mold,
                                         .eval_path = eval_path, .compare = inherit, .absolute = inherit,
                                         .add = add_a, .divide = divide_a, .multiply = multiply_a,
                                         .negate = inherit, .remainder = inherit, .round = round,
                                         .subtract = subtract_a, .even_q = even_q, .odd_q = odd_q, .pick = pick}});
}

}  // namespace kov::time
