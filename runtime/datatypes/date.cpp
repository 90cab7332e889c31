#include "runtime/datatypes/date.h"

#include <cmath>

#include "runtime/interpreter/stack.h"
#include "runtime/series_buffer.h"

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
    return 365 * y + y / 4 - y / 100 + y / 400 + (306 * m + 5) / 10 + d;
}

uint32_t from_days(int32_t g, uint32_t zone, bool has_time) {
    int64_t y = static_cast<int64_t>(std::trunc((10000.0 * g + 14780.0) / 3652425.0));
    int64_t r = g - (365 * y + y / 4 - y / 100 + y / 400);
    if (r < 0) {
        --y;
        r = g - (365 * y + y / 4 - y / 100 + y / 400);
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

}  // namespace kov::date
