// Time of day, dates with the local zone, sleeping and a monotonic clock.
#include "runtime/platform/os.h"

#include <cerrno>
#include <cmath>
#include <ctime>

namespace kov::os {

double get_time(bool precise) {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm utc{};
    gmtime_r(&ts.tv_sec, &utc);
    double seconds = utc.tm_hour * 3600.0 + utc.tm_min * 60.0 + utc.tm_sec;
    if (!precise) return seconds;
    return seconds + static_cast<double>(ts.tv_nsec) / 1e9;
}

uint32_t pack_zone(long offset_minutes) {
    // Hours and quarter hours are stored as magnitudes under the sign bit, so that an
    // offset of less than an hour keeps its sign (-0:30 is not +0:30).
    bool negative = offset_minutes < 0;
    long magnitude = negative ? -offset_minutes : offset_minutes;
    uint32_t hours = static_cast<uint32_t>(magnitude / 60) & 0x0F;
    uint32_t quarters = static_cast<uint32_t>((magnitude % 60) / 15) & 3;
    return (negative ? 0x40u : 0u) | hours << 2 | quarters;
}

uint32_t get_date(bool utc) {
    time_t now = time(nullptr);
    tm t{};
    uint32_t zone = 0;
    if (utc) {
        gmtime_r(&now, &t);
    } else {
        localtime_r(&now, &t);
        zone = pack_zone(t.tm_gmtoff / 60);
    }
    uint32_t year = static_cast<uint32_t>(t.tm_year + 1900);
    uint32_t month = static_cast<uint32_t>(t.tm_mon + 1);
    uint32_t day = static_cast<uint32_t>(t.tm_mday);
    return year << 17 | month << 12 | day << 7 | zone;
}

ClockReading read_clock(bool utc, bool precise) {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm t{};
    if (utc) gmtime_r(&ts.tv_sec, &t);
    else localtime_r(&ts.tv_sec, &t);
    double seconds = t.tm_hour * 3600.0 + t.tm_min * 60.0 + t.tm_sec;
    if (precise) seconds += static_cast<double>(ts.tv_nsec) / 1e9;
    return ClockReading{t.tm_year + 1900, static_cast<uint32_t>(t.tm_mon + 1), static_cast<uint32_t>(t.tm_mday), seconds,
                        utc ? 0 : static_cast<int32_t>(t.tm_gmtoff / 60)};
}

void sleep(double seconds) {
    // Anything below a millisecond (NaN included) sleeps one; a day is the longest sleep,
    // so that no duration overflows the conversion.
    constexpr double longest = 86400.0;
    double ms = seconds * 1000.0;
    if (!(ms >= 1.0)) ms = 1.0;
    if (ms > longest * 1000.0) ms = longest * 1000.0;
    long long whole_ms = static_cast<long long>(ms);
    // Ctrl+C may be delivered to another thread than the sleeping one, so the sleep goes in
    // slices of at most 50 ms towards a fixed end and stops once the interrupt flag is up.
    timespec end{};
    clock_gettime(CLOCK_MONOTONIC, &end);
    end.tv_sec += static_cast<time_t>(whole_ms / 1000);
    end.tv_nsec += static_cast<long>(whole_ms % 1000) * 1000000L;
    if (end.tv_nsec >= 1000000000L) {
        end.tv_nsec -= 1000000000L;
        ++end.tv_sec;
    }
    while (!interrupt_flag) {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        if (now.tv_sec > end.tv_sec || (now.tv_sec == end.tv_sec && now.tv_nsec >= end.tv_nsec)) break;
        timespec slice = now;
        slice.tv_nsec += 50000000L;
        if (slice.tv_nsec >= 1000000000L) {
            slice.tv_nsec -= 1000000000L;
            ++slice.tv_sec;
        }
        if (slice.tv_sec > end.tv_sec || (slice.tv_sec == end.tv_sec && slice.tv_nsec > end.tv_nsec)) slice = end;
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &slice, nullptr);
    }
}

int64_t monotonic_ns() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

}  // namespace kov::os
