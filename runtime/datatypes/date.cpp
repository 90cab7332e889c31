#include "runtime/datatypes/date.h"

#include <cmath>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include "runtime/cells.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/scalar.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/time.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/interpreter/random.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/stack.h"
#include "runtime/numeric.h"
#include "runtime/runtime.h"
#include "runtime/series_buffer.h"
#include "runtime/words.h"

namespace kov::date {

// ---- cell helpers -------------------------------------------------------------------------------

uint32_t zone_bits(int32_t hours, int32_t minutes) {
    bool west = hours < 0 || (hours == 0 && minutes < 0);
    uint32_t h = static_cast<uint32_t>(hours < 0 ? -hours : hours) & 0xF;
    uint32_t q = static_cast<uint32_t>((minutes < 0 ? -minutes : minutes) / 15) & 3;
    if (h == 0 && q == 0) return 0;
    return (west ? zone_west : 0) | h << 2 | q;
}

int32_t zone_offset(uint32_t packed) {
    int32_t seconds = static_cast<int32_t>((packed >> 2) & 0xF) * 3600 + static_cast<int32_t>(packed & 3) * 900;
    return (packed & zone_west) ? -seconds : seconds;
}

// ---- calendar -----------------------------------------------------------------------------------

namespace {

int64_t floor_div(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// Days from 1 March of year 0 to 1 March of year y (years counted from March). The divisions
// round down, so that the years before year 0 have their leap days too: rounding toward zero
// would give day numbers that skip or repeat dates there.
int64_t days_before_year(int64_t y) { return 365 * y + floor_div(y, 4) - floor_div(y, 100) + floor_div(y, 400); }

}  // namespace

bool leap_year_q(int32_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

uint32_t month_length(int32_t year, uint32_t month) {
    static const uint8_t days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    return month == 2 && leap_year_q(year) ? 29 : days[month - 1];
}

int32_t to_days(uint32_t packed) {
    int32_t month = static_cast<int32_t>(month_of(packed));
    int32_t m = (month + 9) % 12;
    int32_t y = year_of(packed) - m / 10;
    int32_t d = static_cast<int32_t>(day_of(packed)) - 1;
    return int32_t(days_before_year(y)) + (306 * m + 5) / 10 + d;
}

uint32_t from_days(int32_t g, uint32_t zone, bool has_time) {
    int64_t y = static_cast<int64_t>(std::floor((10000.0 * g + 14780.0) / 3652425.0));
    int64_t r = g - days_before_year(y);
    if (r < 0) {
        --y;
        r = g - days_before_year(y);
    }
    int64_t mi = (100 * r + 52) / 3060;
    uint32_t month = static_cast<uint32_t>((mi + 2) % 12 + 1);
    int32_t year = static_cast<int32_t>(y + (mi + 2) / 12);
    uint32_t day = static_cast<uint32_t>(r - (306 * mi + 5) / 10 + 1);
    return pack(year, month, day, zone, has_time);
}

int32_t year_start(uint32_t packed) { return to_days(pack(year_of(packed), 1, 1, 0, false)); }

int32_t week_start(uint32_t packed, int32_t* weekday) {
    int32_t j = year_start(packed);
    int32_t w = (j + 2) % 7;
    if (w < 0) w += 7;
    if (weekday) *weekday = w + 1;
    return w >= 4 ? j - w + 7 : j - w;
}

int32_t year_day(uint32_t packed) { return to_days(packed) - year_start(packed) + 1; }

int32_t week_day(int32_t days) {
    int32_t w = (days + 2) % 7;
    return w < 0 ? w + 7 : w;
}

int64_t to_epoch(const Cell& c) {
    // The stored time may be negative (a zone east of UTC): rounding it to the nearest second
    // must not truncate toward zero, or such dates come out one second late.
    return (int64_t(to_days(packed_of(c))) - epoch_day) * 86400 + int64_t(std::floor(time_of(c) + 0.5));
}

int64_t normalise_time(int64_t n, double& t, uint32_t zone) {
    double z = zone_offset(zone) / 3600.0;
    int64_t k = int64_t(std::trunc(t / 3600.0 + z)) / 24;
    n += k;
    t -= seconds_per_day * double(k);
    if (z * 3600.0 + t < 0) {
        t += seconds_per_day;
        n -= 1;
    }
    return n;
}

// ---- internal routines --------------------------------------------------------------------------

namespace {

using scalar::datatype_of;

[[noreturn]] void type_limit() { error::fire(err::script_type_limit, datatype_of(T_date)); }
[[noreturn]] void bad_spec(const Cell& spec) { error::fire(err::script_bad_to_arg, datatype_of(T_date), spec); }

// Day numbers of 1 January of the first year and 31 December of the last that fit.
const int64_t first_day = to_days(pack(min_year, 1, 1, 0, false));
const int64_t last_day = to_days(pack(max_year, 12, 31, 0, false));

bool days_fit_q(int64_t days) { return days >= first_day && days <= last_day; }

// The packed word of a day number, zone bits and time flag kept from `like`.
uint32_t rebuild(int64_t days, uint32_t like) {
    if (!days_fit_q(days)) type_limit();
    return from_days(int32_t(days), zone_bits_of(like), has_time_q(like));
}

// The day number of day `day` of a month (day 0 the last day of the month before), in 64
// bits: the day count of a spec or a path may be any 32-bit integer.
int64_t day_of_month(int32_t year, uint32_t month, int64_t day) {
    return int64_t(to_days(pack(year, month, 1, 0, false))) - 1 + day;
}

// A time the normalisation can carry: finite, and within the range of day numbers.
void check_time(double t) {
    if (!std::isfinite(t) || std::fabs(t) > 1e15) type_limit();
}

}  // namespace

// ---- changing a date ----------------------------------------------------------------------------

void set_time(Cell& c, double seconds, bool local) {
    uint32_t packed = packed_of(c);
    if (local) seconds -= zone_offset(packed);
    check_time(seconds);
    int64_t n = normalise_time(to_days(packed), seconds, zone_bits_of(packed));
    c.w1 = rebuild(n, packed);
    cell::set_double(c, seconds);
}

void set_zone(Cell& c, const Cell& value, bool keep_instant) {
    int32_t hours, minutes;
    bool west;
    if (cell::is(value, T_integer)) {
        hours = integer::get(value) % 16;
        minutes = 0;
        west = hours < 0;
    } else if (cell::is(value, T_time)) {
        double t = std::fmod(time::get(value), 57600.0);
        if (!std::isfinite(t)) error::fire(err::script_invalid_arg, value);
        hours = int32_t(time::hours_of(t));
        minutes = int32_t(time::minutes_of(t));
        // The sign comes from the time itself: -0:30 has no negative hours but is west.
        west = t < 0;
    } else {
        error::fire(err::script_invalid_arg, value);
    }
    uint32_t bits = uint32_t(hours < 0 ? -hours : hours) << 2 | (uint32_t(minutes) / 15 & 3);
    if (bits && west) bits |= zone_west;
    uint32_t packed = packed_of(c);
    double t = time_of(c);
    if (keep_instant) {
        c.w1 = (packed & ~zone_mask) | bits;
        set_time(c, t + zone_offset(c.w1), true);
    } else {
        double local = t + zone_offset(packed);
        c.w1 = (packed & ~zone_mask) | bits;
        cell::set_double(c, local - zone_offset(c.w1));
    }
}

void set_month(Cell& c, int64_t m) {
    uint32_t packed = packed_of(c);
    int64_t year = int64_t(year_of(packed)) + floor_div(m - 1, 12);
    int64_t month = (m - 1) - floor_div(m - 1, 12) * 12 + 1;
    if (year < min_year || year > max_year) type_limit();
    c.w1 = rebuild(day_of_month(int32_t(year), uint32_t(month), day_of(packed)), packed);
}

void set_yearday(Cell& c, int64_t d) { c.w1 = rebuild(int64_t(year_start(packed_of(c))) + d - 1, packed_of(c)); }

void set_weekday(Cell& c, int64_t w) {
    int32_t n = to_days(packed_of(c));
    c.w1 = rebuild(int64_t(n) + w - 1 - week_day(n), packed_of(c));
}

void set_isoweek(Cell& c, int64_t w) {
    c.w1 = rebuild(int64_t(week_start(packed_of(c), nullptr)) + 7 * w - 7, packed_of(c));
}

// ---- fields -------------------------------------------------------------------------------------

int32_t field_index(const Cell& word) {
    namespace w = words::symbols;
    const uint32_t fields[] = {w::date, w::year, w::month, w::day, w::zone, w::time, w::hour, w::minute,
                               w::second, w::weekday, w::yearday, w::timezone, w::week, w::isoweek};
    for (uint32_t i = 0; i < sizeof fields / sizeof fields[0]; ++i)
        if (scalar::word_is(word, fields[i])) return int32_t(i + 1);
    if (scalar::word_is(word, w::julian)) return 11;
    return -1;
}

namespace {

// Week of the year in Sunday-started weeks, week 1 being the days up to the first Saturday.
int32_t sunday_week(uint32_t packed) {
    int32_t e = (year_start(packed) + 3) % 7;
    if (e < 0) e += 7;
    int32_t d = year_day(packed);
    return d <= 7 - e ? 1 : (d + e - 1) / 7 + 1;
}

int32_t iso_week(uint32_t packed) {
    int32_t s = week_start(packed, nullptr);
    int32_t n = to_days(packed);
    if (n >= s) {
        int32_t s2 = week_start(pack(year_of(packed) + 1, 1, 1, 0, false), nullptr);
        return n < s2 ? (n - s) / 7 + 1 : 1;
    }
    int32_t jan1 = 0;
    week_start(packed, &jan1);
    if (jan1 == 5) return 53;
    if (jan1 == 6) return leap_year_q(year_of(packed) - 1) ? 53 : 52;
    return 52;
}

}  // namespace

Cell get_field(const Cell& c, int32_t index) {
    uint32_t packed = packed_of(c);
    bool timed = has_time_q(packed);
    double local = timed ? time_of(c) + zone_offset(packed) : 0.0;
    switch (index) {
    case 1: return make(pack(year_of(packed), month_of(packed), day_of(packed), 0, false), 0.0);
    case 2: return integer::make(year_of(packed));
    case 3: return integer::make(int32_t(month_of(packed)));
    case 4: return integer::make(int32_t(day_of(packed)));
    case 5:
    case 12: return timed ? time::make(zone_offset(packed)) : none::value;
    case 6: return timed ? time::make(local) : none::value;
    case 7: return integer::make(int32_t(time::hours_of(local)));
    case 8: return integer::make(int32_t(time::minutes_of(local)));
    case 9: return float_::make(std::fmod(local, 60.0));
    case 10: return integer::make(week_day(to_days(packed)) + 1);
    case 11: return integer::make(year_day(packed));
    case 13: return integer::make(sunday_week(packed));
    case 14: return integer::make(iso_week(packed));
    default: runtime::no_switch_matched();
    }
}

// ---- constructors -------------------------------------------------------------------------------

Cell* make_in(memory::Node block, uint32_t packed, double time) {
    return &make_at(*series::append_cell(block), packed, time);
}
Cell* push(uint32_t packed, double time) { return &make_at(*stack::reserve(), packed, time); }

Cell& from_os_time(Cell& c, int32_t year, uint32_t month, uint32_t day, double local_seconds, int32_t zone_hours,
                   int32_t zone_minutes, bool has_time) {
    if (!has_time) return make_at(c, pack(year, month, day, 0, false), 0.0);
    uint32_t zone = zone_bits(zone_hours, zone_minutes);
    uint32_t packed = pack(year, month, day, zone, true);
    return make_at(c, packed, local_seconds - zone_offset(packed));
}


// ---- arithmetic ---------------------------------------------------------------------------------

Cell* math(Cell* a, Cell* b, int32_t op) {
    uint32_t packed = packed_of(*a);
    int64_t days = 0;
    double seconds = 0;
    bool timed = has_time_q(packed);
    switch (cell::type(*b)) {
    case T_integer: days = integer::get(*b); break;
    case T_time:
        seconds = time::get(*b);
        timed = true;
        break;
    case T_date: {
        if (op != integer::subtract) error::fire(err::script_not_related, words::loaded::add, datatype_of(T_date));
        // Whole days elapsed between the two instants, rounded down.
        double t = time_of(*a) - time_of(*b);
        int64_t n = int64_t(to_days(packed)) - to_days(packed_of(*b));
        n = normalise_time(n, t, 0);
        int32_t v;
        if (!numeric::to_int32(double(n), v)) error::fire(err::script_type_limit, datatype_of(T_integer));
        integer::make_at(*a, v);
        return a;
    }
    default: error::fire(err::script_invalid_type, datatype_of(cell::type(*b)));
    }
    if (op == integer::subtract) {
        days = -days;
        seconds = -seconds;
    }
    double t = time_of(*a) + seconds;
    check_time(t);
    int64_t n = normalise_time(int64_t(to_days(packed)) + days, t, zone_bits_of(packed));
    if (!days_fit_q(n)) type_limit();
    make_at(*a, from_days(int32_t(n), zone_bits_of(packed), timed), t);
    return a;
}

// ---- actions ------------------------------------------------------------------------------------

namespace {

// The spec reader of make and to: the state table walks integer!, time! and float! values
// into their slots. Each row: for integer!, time!, float!, the next state and the slot (-1
// next state: no transition).
enum Slot : int8_t { s_day, s_month, s_year, s_hour, s_minute, s_second, s_second_f, s_time, s_zone_hours,
                     s_zone_minutes, s_zone, s_count };
struct Step {
    int8_t next;
    int8_t slot;
};
constexpr Step none_step{-1, -1};
constexpr Step spec_table[14][3] = {
    {{1, s_day}, none_step, none_step},
    {{2, s_month}, none_step, none_step},
    {{3, s_year}, none_step, none_step},
    {{8, s_hour}, {4, s_time}, none_step},
    {{6, s_zone_hours}, {5, s_zone}, none_step},
    {none_step, none_step, none_step},
    {{7, s_zone_minutes}, none_step, none_step},
    {none_step, none_step, none_step},
    {{9, s_minute}, none_step, none_step},
    {{10, s_second}, none_step, {10, s_second_f}},
    {{12, s_zone_hours}, {11, s_zone}, none_step},
    {none_step, none_step, none_step},
    {{13, s_zone_minutes}, none_step, none_step},
    {none_step, none_step, none_step},
};

// Builds the date of a block spec into c; `check` (make) refuses fields out of range.
void make_from(Cell& c, const Cell& spec, bool check) {
    memory::Buffer* buf = memory::buffer(spec.w2);
    int64_t count = int64_t(buf->used() / sizeof(Cell)) - int64_t(spec.w1);
    if (count < 3) bad_spec(spec);
    const Cell* items = cells::of(buf) + spec.w1;
    double slots[s_count] = {};
    bool given[s_count] = {};
    int32_t state = 0;
    for (int64_t i = 0; i < count; ++i) {
        const Cell& v = items[i];
        int32_t column = cell::is(v, T_integer) ? 0 : cell::is(v, T_time) ? 1 : cell::is(v, T_float_) ? 2 : -1;
        if (column < 0 || state >= 14) bad_spec(spec);
        Step step = spec_table[state][column];
        if (step.next < 0) bad_spec(spec);
        double x = column == 0 ? integer::get(v) : cell::get_double(v);
        if (!std::isfinite(x)) bad_spec(spec);
        slots[step.slot] = x;
        given[step.slot] = true;
        state = step.next;
    }
    if (slots[s_day] >= 100 && slots[s_day] > slots[s_year]) std::swap(slots[s_day], slots[s_year]);

    // The zone, from a time! or from hours and minutes; it must fit the zone bits.
    int32_t zone_hours = 0, zone_minutes = 0;
    bool west = false;
    if (given[s_zone]) {
        double z = slots[s_zone];
        zone_hours = int32_t(std::max(-99.0, std::min(99.0, time::hours_of(z))));
        zone_minutes = int32_t(time::minutes_of(z));
        west = z < 0;
    } else {
        zone_hours = int32_t(slots[s_zone_hours]);
        zone_minutes = int32_t(slots[s_zone_minutes]);
        west = zone_hours < 0 || (zone_hours == 0 && zone_minutes < 0);
        if (zone_hours < 0 && zone_minutes < 0) bad_spec(spec);
    }
    uint32_t zone_h = uint32_t(zone_hours < 0 ? -zone_hours : zone_hours);
    uint32_t zone_m = uint32_t(zone_minutes < 0 ? -zone_minutes : zone_minutes);
    if (zone_h > 15 || zone_m > 59) bad_spec(spec);
    uint32_t zone = zone_h << 2 | zone_m / 15;
    if (zone && west) zone |= zone_west;

    double t = 0;
    if (given[s_time]) {
        t = slots[s_time];
    } else if (given[s_hour]) {
        double second = slots[s_second_f] != 0.0 ? slots[s_second_f] : slots[s_second];
        t = second + 60.0 * slots[s_minute] + 3600.0 * slots[s_hour];
    }
    check_time(t);

    double year = slots[s_year];
    if (year < min_year || year > max_year) bad_spec(spec);
    make_at(c, pack(int32_t(year), 1, 1, 0, count > 3), 0.0);
    set_month(c, int64_t(slots[s_month]));
    uint32_t packed = packed_of(c);
    c.w1 = rebuild(day_of_month(year_of(packed), month_of(packed), int64_t(slots[s_day])), packed);
    set_time(c, t, false);

    if (check) {
        packed = packed_of(c);
        bool fields_kept = year_of(packed) == int32_t(year) && double(month_of(packed)) == slots[s_month] &&
                           double(day_of(packed)) == slots[s_day];
        if (!fields_kept) bad_spec(spec);
        if (given[s_time] || given[s_hour]) {
            double hours = given[s_time] ? time::hours_of(t) : slots[s_hour];
            double minute = given[s_time] ? time::minutes_of(t) : slots[s_minute];
            if (hours < 0 || hours > 23 || time::minutes_of(time_of(c)) != minute) bad_spec(spec);
            if (t == 0 && given[s_hour] && (slots[s_hour] != 0 || slots[s_minute] != 0)) bad_spec(spec);
        }
    }
    c.w1 = (packed_of(c) & ~zone_mask) | zone;
    set_time(c, time_of(c), true);
}

Cell* make_action(Cell*, Cell* spec, uint32_t) {
    switch (cell::type(*spec)) {
    case T_date: return stack::push(*spec);
    case T_block:
    case T_paren:
    case T_hash: {
        Cell* r = stack::reserve();
        make_from(*r, *spec, true);
        return r;
    }
    default: bad_spec(*spec);
    }
}

Cell* to(Cell*, Cell* spec, uint32_t) {
    switch (cell::type(*spec)) {
    case T_date: return stack::push(*spec);
    case T_integer: {
        int32_t n = integer::get(*spec);
        Cell* r = stack::reserve();
        make_at(*r, from_days(epoch_day + n / 86400, 0, true), 0.0);
        set_time(*r, n % 86400, false);
        return r;
    }
    case T_block:
    case T_paren:
    case T_hash: {
        Cell* r = stack::reserve();
        make_from(*r, *spec, false);
        return r;
    }
    default: bad_spec(*spec);
    }
}

// A day before the date's own (counted from 1 March of year 0, so a date before that draws
// from the days between it and that day); a date with a time also gets a random zone and a
// random time of day in whole multiples of 24 seconds.
Cell* random(Cell* value, const RandomArgs& how) {
    bool seed = how.seed, secure = how.secure;
    uint32_t packed = packed_of(*value);
    if (seed) {
        random::seed(static_cast<int32_t>(packed + static_cast<uint32_t>(numeric::clamp_to_int32(time_of(*value)))));
        return &unset::make_at(*value);
    }
    // The earliest day a date can hold: the one draw that would step before it stays on it.
    static const int32_t first_day = to_days(pack(min_year, 1, 1, 0, false));
    int32_t days = random::integer(secure, to_days(packed)) - 1;
    if (days < first_day) days = first_day;
    bool timed = has_time_q(packed);
    make_at(*value, from_days(days, zone_bits_of(packed), timed), timed ? time_of(*value) : 0.0);
    if (!timed) return value;
    auto draw = [secure] { return secure ? random::secure_next() : random::next(); };
    value->w1 = (value->w1 & ~zone_mask) | (static_cast<uint32_t>(draw()) & zone_mask);
    double t;
    if (secure) {
        double u1 = draw();
        double u2 = draw();
        t = (u1 / 2147483647.0 + u2) * 3600.0 / 2147483648.0;
    } else {
        t = draw() / 2147483647.0 * 3600.0;
    }
    set_time(*value, std::floor(t) * 24.0, true);
    return value;
}

// The name of a month from system/locale/months, found without allocating.
const Cell* month_name(uint32_t month) {
    auto field = [](const Cell& holder, const char* name) -> const Cell* {
        uint32_t sym = symbol::find(reinterpret_cast<const uint8_t*>(name), uint32_t(std::strlen(name)));
        if (!sym || !cell::is(holder, T_object)) return nullptr;
        const Cell* v = object::select_word(holder, word::cell_of(T_word, sym));
        return v;
    };
    if (!symbol::table() || !context::global()) return nullptr;
    uint32_t sys = symbol::find(reinterpret_cast<const uint8_t*>("system"), 6);
    const Cell* system = sys ? context::get_any(sys, context::global()) : nullptr;
    const Cell* locale = system ? field(*system, "locale") : nullptr;
    const Cell* months = locale ? field(*locale, "months") : nullptr;
    if (!months || !cell::is(*months, T_block)) return nullptr;
    memory::Buffer* buf = memory::buffer(months->w2);
    uint64_t at = uint64_t(months->w1) + month - 1;
    if (at >= buf->used() / sizeof(Cell)) return nullptr;
    const Cell* name = cells::of(buf) + at;
    return cell::is(*name, T_string) ? name : nullptr;
}

int32_t mold(Cell* value, Cell* out, const MoldArgs&, int32_t part) {
    Cell d = *value;
    uint32_t packed = packed_of(d);
    int32_t year = year_of(packed);
    const char* sep = year < 0 ? "/" : "-";
    char text[16];
    std::snprintf(text, sizeof text, "%u", day_of(packed));
    part = string::emit(*out, text, part);
    part = string::emit(*out, sep, part);
    const Cell* name = month_name(month_of(packed));
    if (!name) error::fire(err::script_invalid_months);
    Cell month = *name;
    Cell target = *out;
    int32_t before = string::rs_length_q(target);
    string::concatenate_part(target, month, 3, 0, false, string::append_mode);
    part -= string::rs_length_q(target) - before;
    part = string::emit(*out, sep, part);
    if (year < 0) part = string::emit(*out, "-", part);
    int32_t magnitude = year < 0 ? -year : year;
    std::snprintf(text, sizeof text, magnitude < 100 ? "%04d" : "%d", magnitude);
    part = string::emit(*out, text, part);
    if (!has_time_q(packed)) return part;
    part = string::emit(*out, "/", part);
    Cell local = time::make(time_of(d) + zone_offset(packed));
    part = actions::lookup<actions::slot::form>(T_time)(&local, out, nullptr, part);
    uint32_t zone = zone_bits_of(packed);
    if (!zone) return part;
    std::snprintf(text, sizeof text, "%c%02u:%02u", (zone & zone_west) ? '-' : '+', (zone >> 2) & 0xF, (zone & 3) * 15);
    return string::emit(*out, text, part);
}

int32_t form(Cell* value, Cell* out, Cell* arg, int32_t part) {
    return mold(value, out, MoldArgs{.arg = arg}, part);
}

[[noreturn]] void invalid_path(const PathStep& step) {
    error::fire(err::script_invalid_path, step.path ? *step.path : *step.element, *step.element);
}

// Writes field `index` of the date; the rest of the date follows (see the header).
void set_field(Cell& d, int32_t index, const Cell& v) {
    bool number = cell::is(v, T_integer);
    switch (index) {
    case 2: case 3: case 4: case 10: case 11: case 13: case 14:
        if (!number) error::fire(err::script_invalid_arg, v);
        break;
    default: break;
    }
    int64_t n = number ? integer::get(v) : 0;
    uint32_t packed = packed_of(d);
    switch (index) {
    case 1:
        if (!cell::is(v, T_date)) error::fire(err::script_invalid_arg, v);
        d.w1 = (packed_of(v) & ~(time_flag | zone_mask)) | (packed & (time_flag | zone_mask));
        return;
    case 2:
        if (n < min_year || n > max_year) type_limit();
        d.w1 = rebuild(to_days(pack(int32_t(n), month_of(packed), day_of(packed), 0, false)), packed);
        return;
    case 3: set_month(d, n); return;
    case 4: d.w1 = rebuild(day_of_month(year_of(packed), month_of(packed), n), packed); return;
    case 5:
    case 12:
        if (!cell::is(v, T_integer) && !cell::is(v, T_time)) error::fire(err::script_invalid_arg, v);
        d.w1 |= time_flag;
        set_zone(d, v, index == 12);
        return;
    case 6:
        if (cell::is(v, T_none)) {
            d.w1 = packed & ~(time_flag | zone_mask);
            cell::set_double(d, 0.0);
        } else if (cell::is(v, T_time)) {
            d.w1 |= time_flag;
            set_time(d, time::get(v), true);
        } else {
            error::fire(err::script_invalid_arg, v);
        }
        return;
    case 7:
    case 8:
    case 9: {
        // The field changes on the local time of day, through time!'s own field writing, so
        // that negative stored times and quarter-hour zones move the field that was read.
        double local = has_time_q(packed) ? time_of(d) + zone_offset(packed) : 0.0;
        Cell t = time::make(local);
        Cell element = integer::make(index - 6);
        Cell value = v;
        PathStep step{.element = &element, .value = &value};
        actions::lookup<actions::slot::eval_path>(T_time)(&t, step);
        d.w1 |= time_flag;
        set_time(d, time::get(t), true);
        return;
    }
    case 10: set_weekday(d, n); return;
    case 11: set_yearday(d, n); return;
    case 13: {
        int64_t start = year_start(packed);
        if (n != 1) {
            int64_t e = (start + 3) % 7;
            if (e < 0) e += 7;
            start += 7 * (n - 2) + 7 - e;
        }
        d.w1 = rebuild(start, packed);
        return;
    }
    case 14: set_isoweek(d, n); return;
    default: runtime::no_switch_matched();
    }
}

Cell* eval_path(Cell* parent, const PathStep& step) {
    const Cell& element = *step.element;
    int32_t index = -1;
    if (cell::is(element, T_integer)) {
        index = integer::get(element);
        if (index < 1 || index > 14) invalid_path(step);
    } else if (scalar::selector_word_q(element)) {
        index = field_index(element);
    }
    if (index < 0) invalid_path(step);
    if (!step.value) return stack::push(get_field(*parent, index));
    Cell d = *parent;
    set_field(d, index, *step.value);
    *parent = d;
    return step.value;
}

Cell* pick(Cell* value, int32_t index, Cell* boxed) {
    if (boxed && scalar::selector_word_q(*boxed)) index = field_index(*boxed);
    else if (boxed && !cell::is(*boxed, T_integer)) index = -1;
    if (index < 1 || index > 14) error::fire(err::script_out_of_range, boxed ? *boxed : integer::make(index));
    *value = get_field(*value, index);
    return value;
}

int32_t compare(Cell* value, Cell* other, int32_t op) {
    if (!cell::is(*other, T_date)) return actions::not_comparable;
    int32_t k1 = static_cast<int32_t>(packed_of(*value) & ~(time_flag | zone_mask)) >> 7;
    int32_t k2 = static_cast<int32_t>(packed_of(*other) & ~(time_flag | zone_mask)) >> 7;
    double t1 = time_of(*value), t2 = time_of(*other);
    if (op == actions::same) return k1 == k2 && value->w2 == other->w2 && value->w3 == other->w3 ? 0 : 1;
    bool equal = k1 == k2 && float_::nearly_equal_q(t1, t2);
    if (op == actions::equal || op == actions::not_equal || op == actions::strict_equal ||
        op == actions::find_equal)
        return equal ? 0 : 1;
    if (equal) return 0;
    if (k1 != k2) return k1 < k2 ? -1 : 1;
    return t1 < t2 ? -1 : (t1 > t2 ? 1 : 0);
}

Cell* add_a(Cell* a, Cell* b) { return date::math(a, b, integer::add); }
Cell* subtract_a(Cell* a, Cell* b) { return date::math(a, b, integer::subtract); }

}  // namespace

void init() {
    datatype::register_type({.id = T_date, .name = "date!", .rest = datatype::Rest::empty,
                             .mark = nullptr,
                             .actions = {.make = make_action, .random = random, .to = to, .form = form,
                                         .mold = mold, .eval_path = eval_path, .compare = compare,
                                         .add = add_a, .subtract = subtract_a, .pick = pick}});
}

}  // namespace kov::date
