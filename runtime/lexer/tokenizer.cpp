#include "runtime/lexer/tokenizer.h"

#include <cstring>

namespace kov::tokenizer {

namespace {
uint32_t char_at(const uint8_t* p, uint32_t i, uint32_t unit) {
    switch (unit) {
    case 2: return p[2 * i] | p[2 * i + 1] << 8;
    case 4: {
        uint32_t v;
        std::memcpy(&v, p + 4 * i, 4);
        return v;
    }
    default: return p[i];
    }
}
}  // namespace

bool scan_integer(const uint8_t* start, uint32_t count, uint32_t unit, int32_t& out) {
    uint32_t i = 0;
    bool negative = false;
    if (i < count && (char_at(start, i, unit) == '-' || char_at(start, i, unit) == '+')) {
        negative = char_at(start, i, unit) == '-';
        ++i;
    }
    if (i >= count) return false;
    // Accumulate as a negative number, which also holds -2147483648.
    int64_t n = 0;
    for (; i < count; ++i) {
        uint32_t c = char_at(start, i, unit);
        if (c < '0' || c > '9') return false;
        n = n * 10 - static_cast<int64_t>(c - '0');
        if (n < -2147483648LL) return false;
    }
    if (!negative && n == -2147483648LL) return false;
    out = static_cast<int32_t>(negative ? n : -n);
    return true;
}

}  // namespace kov::tokenizer
