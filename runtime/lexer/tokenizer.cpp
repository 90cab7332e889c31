#include "runtime/lexer/tokenizer.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "runtime/datatypes/money.h"
#include "runtime/float_text.h"
#include "runtime/lexer/tables.h"

namespace kov::tokenizer {

namespace {
uint32_t char_at(const uint8_t* p, uint64_t i, uint32_t unit) {
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

bool digit_q(uint32_t c) { return c >= '0' && c <= '9'; }
bool letter_q(uint32_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
}  // namespace

int32_t scan_integer(const uint8_t* text, int64_t count, uint32_t unit, int32_t* error) {
    *error = 0;
    int64_t i = 0;
    bool negative = false;
    if (count > 0 && (char_at(text, 0, unit) == '-' || char_at(text, 0, unit) == '+')) {
        negative = char_at(text, 0, unit) == '-';
        i = 1;
    }
    uint64_t magnitude = 0;
    bool any = false;
    for (; i < count; ++i) {
        uint32_t c = char_at(text, uint64_t(i), unit);
        if (c == '\'') continue;
        if (!digit_q(c)) {
            *error = bad_text;
            break;
        }
        any = true;
        magnitude = magnitude * 10 + (c - '0');
        // The magnitude of the smallest integer is one past the largest.
        if (magnitude > (negative ? 2147483648ULL : 2147483647ULL)) {
            *error = overflow;
            return 0;
        }
    }
    if (!any && *error == 0) *error = bad_text;
    return negative ? static_cast<int32_t>(0 - static_cast<uint32_t>(magnitude)) : static_cast<int32_t>(magnitude);
}

double scan_float(const uint8_t* text, int64_t count, uint32_t unit, int32_t* error) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    *error = bad_text;
    if (count < 0 || count > int64_t(lexer::max_float_text)) return nan;
    // Room for the longest text and its terminating NUL.
    uint8_t buffer[lexer::max_float_text + 1];
    for (int64_t i = 0; i < count; ++i) {
        uint32_t c = char_at(text, uint64_t(i), unit);
        if (c > 127) return nan;
        buffer[i] = c == ',' ? '.' : static_cast<uint8_t>(c);
    }
    buffer[count] = 0;
    if (!lexer::float_syntax_q(buffer, buffer + count)) return nan;
    int64_t n = 0;
    for (int64_t i = 0; i < count; ++i)
        if (buffer[i] != '\'') buffer[n++] = buffer[i];
    buffer[n] = 0;
    std::size_t left = 0;
    auto chars = reinterpret_cast<const char*>(buffer);
    double d = dtoa::parse(chars, chars + n, 0, left);
    *error = left ? static_cast<int32_t>(left) : 0;
    return left ? nan : d;
}

bool scan_money(const uint8_t* text, int64_t count, uint32_t unit, int32_t* error, Cell& result) {
    *error = bad_text;
    if (count < 1) return false;
    int64_t i = 0;
    bool negative = false;
    uint32_t c = char_at(text, 0, unit);
    if (c == '+' || c == '-') {
        negative = c == '-';
        ++i;
    }
    int32_t currency = 0;
    if (i < count && letter_q(char_at(text, uint64_t(i), unit))) {
        // A code of exactly three letters, then "$" and at least one more character.
        if (count - i < 5) return false;
        uint8_t code[3];
        for (int k = 0; k < 3; ++k) {
            uint32_t l = char_at(text, uint64_t(i + k), unit);
            if (!letter_q(l)) return false;
            code[k] = static_cast<uint8_t>(l);
        }
        i += 3;
        if (char_at(text, uint64_t(i), unit) != '$') return false;
        currency = money::currency_index(code, 3);
        if (currency < 0) return false;
    }
    bool dollar = i < count && char_at(text, uint64_t(i), unit) == '$';
    if (dollar) ++i;
    if (i >= count) return false;

    // The amount, copied as ASCII for the constructor: digits, apostrophes, one ".".
    uint8_t digits[64];
    int64_t n = 0, point = -1;
    uint32_t before = dollar ? '$' : 0;  // what the current character follows
    for (; i < count; ++i) {
        c = char_at(text, uint64_t(i), unit);
        bool last = i == count - 1;
        if (c == '\'') {
            if (before == '\'' || before == '$' || before == 0 || last || point >= 0) return false;
        } else if (c == '.') {
            if (point >= 0 || before == '$' || before == '\'' || last) return false;
            point = n;
        } else if (!digit_q(c)) {
            return false;
        }
        if (n == int64_t(sizeof digits)) return false;
        digits[n++] = static_cast<uint8_t>(c);
        before = c;
    }
    const uint8_t* int_end = point >= 0 ? digits + point : digits + n;
    const uint8_t* frac = point >= 0 ? digits + point + 1 : digits + n;
    if (int_end == digits && frac == digits + n) return false;  // no digit at all
    // More fraction digits than a money! value holds: refused as the literal is, not cut.
    if (digits + n - frac > int64_t(money::fraction_digits)) return false;
    Cell made = result;
    if (!money::from_digits(made, negative, uint32_t(currency), digits, int_end, frac, digits + n)) return false;
    result = made;
    *error = 0;
    return true;
}

}  // namespace kov::tokenizer
