// date!: a day of the proleptic Gregorian calendar, optionally with a time of day and a time
// zone, all inside one value cell. The module holds the cell layout, the day-number arithmetic
// the layout rests on, normalisation after a change, the fourteen field accessors, the
// routines that change one field, and the datatype's actions.
//
// Cell: w1 the packed date, w2-w3 the time as a double of seconds (low word first).
// Packed date: bits 17-31 the year (signed, read by an arithmetic shift), bit 16 the time
// flag, bits 12-15 the month 1-12, bits 7-11 the day 1-31, bit 6 the zone sign (1: west of
// UTC), bits 2-5 the zone hours 0-15, bits 0-1 the zone quarter hours.
//
// Invariants: year, month and day are the local calendar date; the stored time is the local
// time of day minus the zone offset (so it may be negative or pass 86400 by the offset); a
// date without time has the time flag, the zone bits and the time all 0.
//
// Day numbers count days from 1 March of year 0: 1970-01-01 is day 719468.
//
// Years are kept in [min_year, max_year], what the 15 signed bits hold: a change that would
// leave that range raises script/type-limit naming date! instead of wrapping the year.
//
// Moving memory: the constructors that append to a block, form and mold (which append to the
// output), path assignment (which stores the date back and may run change hooks) and the
// routines that make word or none results may move memory; the calendar routines do not.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kov::date {

constexpr uint32_t time_flag = 0x10000;
constexpr uint32_t zone_mask = 0x7F;
constexpr uint32_t zone_west = 0x40;
constexpr int32_t epoch_day = 719468;
constexpr int32_t min_year = -16384;
constexpr int32_t max_year = 16383;
constexpr double seconds_per_day = 86400.0;

// ---- cell helpers -------------------------------------------------------------------------------
inline uint32_t pack(int32_t year, uint32_t month, uint32_t day, uint32_t zone_bits, bool has_time) {
    return static_cast<uint32_t>(year) << 17 | (has_time ? time_flag : 0) | (month & 0xF) << 12 |
           (day & 0x1F) << 7 | (zone_bits & zone_mask);
}
inline int32_t year_of(uint32_t packed) { return static_cast<int32_t>(packed) >> 17; }
inline uint32_t month_of(uint32_t packed) { return (packed >> 12) & 0xF; }
inline uint32_t day_of(uint32_t packed) { return (packed >> 7) & 0x1F; }
inline bool has_time_q(uint32_t packed) { return (packed & time_flag) != 0; }
inline uint32_t zone_bits_of(uint32_t packed) { return packed & zone_mask; }
inline uint32_t packed_of(const Cell& c) { return c.w1; }
inline double time_of(const Cell& c) { return cell::get_double(c); }

// The zone bits of an offset of hours and minutes (the sign taken from the hours, or from the
// minutes when the hours are 0); minutes count in quarter hours.
uint32_t zone_bits(int32_t hours, int32_t minutes);
// The zone offset in seconds (negative west of UTC).
int32_t zone_offset(uint32_t packed);

// ---- calendar -----------------------------------------------------------------------------------
bool leap_year_q(int32_t year);
// Days in a month of a year (month 1-12).
uint32_t month_length(int32_t year, uint32_t month);
int32_t to_days(uint32_t packed);
// The packed date of a day number, with the zone bits and time flag given.
uint32_t from_days(int32_t days, uint32_t zone_bits, bool has_time);
// The day number of 1 January of the packed date's year.
int32_t year_start(uint32_t packed);
// The day number of the Monday of ISO week 1 of the year; weekday receives the weekday of
// 1 January (1 Monday ... 7 Sunday).
int32_t week_start(uint32_t packed, int32_t* weekday);
// Day of the year, 1-based.
int32_t year_day(uint32_t packed);
// 0 for Monday to 6 for Sunday.
int32_t week_day(int32_t days);
// Seconds since 1970-01-01 00:00 UTC.
int64_t to_epoch(const Cell& c);
// Carries whole days out of the stored time t (in/out) so that the local time (t plus the
// zone's offset) lies in [0, 86400); gives the day number moved by those days.
int64_t normalise_time(int64_t days, double& t, uint32_t zone_bits);

// ---- changing a date ----------------------------------------------------------------------------
// These keep the zone bits and the time flag, rebuild the packed word through the day number
// (so an overflowing field carries into the next month or year), and raise script/type-limit
// for a year outside the range or a time that is not finite.
void set_time(Cell& c, double seconds, bool local);
// Sets the zone from an integer! (hours) or a time!: keeping the local date and time of day
// (the instant moves), or keeping the instant. Anything else raises script/invalid-arg.
void set_zone(Cell& c, const Cell& value, bool keep_instant);
void set_month(Cell& c, int64_t month);
void set_yearday(Cell& c, int64_t day);
void set_weekday(Cell& c, int64_t weekday);
void set_isoweek(Cell& c, int64_t week);

// ---- fields -------------------------------------------------------------------------------------
// The accessor index (1 date ... 14 isoweek) of a field word, letter case ignored; -1 for any
// other word.
int32_t field_index(const Cell& word);
// The value of a field by accessor index 1-14.
Cell get_field(const Cell& c, int32_t index);

// ---- arithmetic ---------------------------------------------------------------------------------
// The date in a plus or minus b (op: integer::add or integer::subtract): an integer! counts
// days, a time! seconds; date minus date gives the integer! number of whole days between
// them. Used by the integer! and time! arithmetic with the date as first operand.
Cell* math(Cell* a, Cell* b, int32_t op);

// ---- constructors -------------------------------------------------------------------------------
// The cell becomes a date!, its generic header flags kept.
inline Cell& make_at(Cell& c, uint32_t packed, double time) {
    cell::retype(c, T_date);
    c.w1 = packed;
    cell::set_double(c, time);
    return c;
}
inline Cell make(uint32_t packed, double time) {
    Cell c{T_date, packed, 0, 0};
    cell::set_double(c, time);
    return c;
}
Cell* make_in(memory::Node block, uint32_t packed, double time);
Cell* push(uint32_t packed, double time);
// A date from calendar fields and the local time of day: the stored time is the local time
// minus the zone offset (not normalised); without a time the time and zone are 0.
Cell& from_os_time(Cell& c, int32_t year, uint32_t month, uint32_t day, double local_seconds, int32_t zone_hours,
                   int32_t zone_minutes, bool has_time);

void init();

}  // namespace kov::date
