// Checked conversions between doubles and 32- and 64-bit integers. Every float-to-integer conversion
// in the runtime goes through these, so that no out-of-range or NaN value ever reaches an
// undefined cast.
#pragma once
#include <cstdint>

namespace kov::numeric {

// Truncates toward zero; false when the result does not fit 32 bits or d is NaN.
inline bool to_int32(double d, int32_t& out) {
    if (!(d > -2147483649.0 && d < 2147483648.0)) return false;
    out = static_cast<int32_t>(d);
    return true;
}

// Truncates toward zero, clamping to the 32-bit range; NaN gives 0.
inline int32_t clamp_to_int32(double d) {
    if (d != d) return 0;
    if (d >= 2147483647.0) return 2147483647;
    if (d <= -2147483648.0) return -2147483647 - 1;
    return static_cast<int32_t>(d);
}

// Truncates toward zero, clamping to the 64-bit range; NaN gives 0.
inline int64_t clamp_to_int64(double d) {
    if (d != d) return 0;
    if (d >= 0x1p63) return INT64_MAX;
    if (d <= -0x1p63) return INT64_MIN;
    return static_cast<int64_t>(d);
}

// Shifts that are defined for every count: 32 or more gives 0 (or the sign for >>).
inline uint32_t shift_left(uint32_t v, uint32_t n) { return n >= 32 ? 0 : v << n; }
inline uint32_t shift_right(uint32_t v, uint32_t n) { return n >= 32 ? 0 : v >> n; }
inline int32_t shift_right_signed(int32_t v, uint32_t n) { return n >= 32 ? (v < 0 ? -1 : 0) : v >> n; }

}  // namespace kov::numeric
