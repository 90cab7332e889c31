// Time natives: `now`, the current date and time from one reading of the system clock.
//
// The date is built in the local zone (its offset from the platform, daylight saving
// included) or in UTC with /utc; a field refinement answers that field of the same date.
// Nothing here allocates beyond the result cell, which is the argument-base cell.
#include "runtime/datatypes/date.h"
#include "runtime/error.h"
#include "runtime/interpreter/natives.h"
#include "runtime/interpreter/stack.h"
#include "runtime/platform/os.h"

#include "refinements.h"

namespace kov::natives {

namespace {

void now(Args& args) {
    // The accessor index of each field refinement: the eight fields come first in the spec.
    constexpr int32_t fields[] = {2, 3, 4, 6, 5, 1, 10, 11};
    static_assert(refine::now::year == 0 && refine::now::yearday == 7);
    int32_t field = 0;
    for (uint32_t r = refine::now::year; r <= refine::now::yearday; ++r) {
        if (!args.given(r)) continue;
        if (field) error::fire(err::script_bad_refines);
        field = fields[r];
    }
    bool utc = args.given(refine::now::utc);
    os::ClockReading now = os::read_clock(utc, args.given(refine::now::precise));
    Cell d{};
    date::from_os_time(d, now.year, now.month, now.day, now.seconds, now.offset_minutes / 60, now.offset_minutes % 60,
                       true);
    *stack::values.args = field ? date::get_field(d, field) : d;
}

}  // namespace

void init_time() {
#define NATIVES_time(index, entry) register_entry(index, entry);
#include "runtime/interpreter/natives_register.h"
}

}  // namespace kov::natives
