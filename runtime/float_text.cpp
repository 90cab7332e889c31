// Float text. The exact work is done by the standard library's <charconv>, which is
// locale-free and exact: to_chars gives the shortest round-trip digits, or the correctly
// rounded digits of the exact binary value at a given precision (ties to even), and
// printf-style %g texts; from_chars reads decimal text with correct rounding, subnormals
// included. What is ours is the layout, the reading of our own number syntax (special
// texts, exponent adjustment, ranges that are not NUL-terminated) and the repair rules.
//
// %g texts of this platform write at least two exponent digits (1e+20) where other runtimes
// write three; the repair rules look only at the mantissa part and the clean-up strips the
// exponent's leading zeros, so the final texts do not depend on that width.
#include "runtime/float_text.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>

#include "runtime/runtime.h"

namespace kov {

namespace {

std::string_view put(FloatText& out, std::string_view text) {
    std::memcpy(out.text, text.data(), text.size());
    out.text[text.size()] = '\0';
    return {out.text, text.size()};
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_alpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

}  // namespace

// ---------------------------------------------------------------------------------------
// Digits

dtoa::Digits dtoa::format(double value, int32_t precision, bool dot_zero, FloatText& out) {
    if (std::isnan(value)) {
        put(out, "1.#NaN");
        return {out.text, special_point, false, 6};
    }
    bool negative = std::signbit(value);
    if (std::isinf(value)) {
        put(out, negative ? "-1.#INF" : "1.#INF");
        return {out.text, special_point, negative, 6};
    }
    if (value == 0.0) {
        std::string_view text = dot_zero ? "-0.0" : "-0";
        if (!negative) text.remove_prefix(1);
        put(out, text);
        return {out.text, zero_point, negative, dot_zero ? 3 : 1};
    }

    // Scientific notation gives the digits and the exponent in one fixed shape:
    // d[.ddd]e(+|-)xx, with exactly the digits asked for.
    char sci[64];
    double magnitude = std::fabs(value);
    std::to_chars_result r =
        precision <= 0
            ? std::to_chars(sci, sci + sizeof sci, magnitude, std::chars_format::scientific)
            : std::to_chars(sci, sci + sizeof sci, magnitude, std::chars_format::scientific,
                            std::min(precision, max_precision) - 1);
    const char* p = sci;
    char* digits = out.text + negative;
    int32_t n = 0;
    for (; p < r.ptr && *p != 'e'; ++p)
        if (*p != '.') digits[n++] = *p;
    int32_t exponent = 0;
    if (p + 2 < r.ptr) {
        std::from_chars(p + 2, r.ptr, exponent);
        if (p[1] == '-') exponent = -exponent;
    }
    while (n > 1 && digits[n - 1] == '0') --n;
    digits[n] = '\0';
    if (negative) out.text[0] = '-';
    return {out.text, exponent + 1, negative, n};
}

// ---------------------------------------------------------------------------------------
// Reading

namespace {

// Significant digits kept for the conversion. A midpoint between two doubles has at most 767
// significant digits, so cutting the text after more digits than that and putting a non-zero
// digit in place of a non-zero remainder keeps it on the same side of every midpoint.
constexpr int32_t kept_max = 800;

}  // namespace

double dtoa::parse(const char* start, const char* end, int32_t adjustment, std::size_t& left) {
    const char* p = start;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }

    // "1.#INF", "-1.#INF", "1.#NaN": one digit, a point and "#", then a letter that decides.
    if (end - p >= 4 && is_digit(p[0]) && p[1] == '.' && p[2] == '#') {
        char c = p[3];
        if (c == 'I' || c == 'i' || c == 'N' || c == 'n') {
            const char* q = p + 4;
            while (q < end && is_alpha(*q)) ++q;
            left = static_cast<std::size_t>(end - q);
            if (c == 'N' || c == 'n') return std::numeric_limits<double>::quiet_NaN();
            return negative ? -std::numeric_limits<double>::infinity()
                            : std::numeric_limits<double>::infinity();
        }
    }

    // The value is 0.D x 10^position, D the significant digits (leading zeros skipped).
    char digits[kept_max + 40];
    int32_t kept = 0;
    bool sticky = false;      // a non-zero digit beyond the kept ones
    bool seen = false;        // any digit at all, zeros included
    bool significant = false; // the first non-zero digit was met
    int64_t position = 0;
    auto take = [&](char c, bool before_point) {
        seen = true;
        if (!significant) {
            if (c == '0') {
                if (!before_point) --position;
                return;
            }
            significant = true;
        }
        if (before_point) ++position;
        if (kept < kept_max)
            digits[kept++] = c;
        else if (c != '0')
            sticky = true;
    };
    for (; p < end && is_digit(*p); ++p) take(*p, true);
    if (p < end && *p == '.') {
        const char* q = p + 1;
        for (; q < end && is_digit(*q); ++q) take(*q, false);
        if (seen) p = q;
    }
    if (!seen) {
        left = static_cast<std::size_t>(end - start);
        return 0.0;
    }

    // The exponent counts only with at least one digit; otherwise reading stops at the "e".
    int64_t written = 0;
    if (p < end && (*p == 'e' || *p == 'E')) {
        const char* q = p + 1;
        bool exponent_negative = false;
        if (q < end && (*q == '+' || *q == '-')) {
            exponent_negative = *q == '-';
            ++q;
        }
        if (q < end && is_digit(*q)) {
            // Far beyond any double's range already; the rest of the digits cannot matter.
            constexpr int64_t saturated = int64_t{1} << 40;
            for (; q < end && is_digit(*q); ++q)
                if (written < saturated) written = written * 10 + (*q - '0');
            if (exponent_negative) written = -written;
            p = q;
        }
    }
    left = static_cast<std::size_t>(end - p);

    double zero = negative ? -0.0 : 0.0;
    double infinity = negative ? -std::numeric_limits<double>::infinity()
                               : std::numeric_limits<double>::infinity();
    if (kept == 0) return zero;
    position += written + adjustment;
    // 0.D x 10^position lies in [10^(position-1), 10^position).
    if (position > 310) return infinity;
    if (position < -330) return zero;

    // A sticky digit must stay right after the last kept digit, zeros included.
    if (sticky)
        digits[kept++] = '1';
    else
        while (kept > 1 && digits[kept - 1] == '0') --kept;
    char* w = digits + kept;
    *w++ = 'e';
    w = std::to_chars(w, digits + sizeof digits, position - kept).ptr;
    double value = 0.0;
    std::from_chars_result r = std::from_chars(digits, w, value);
    if (r.ec == std::errc::result_out_of_range) return position > 0 ? infinity : zero;
    return negative ? -value : value;
}

// ---------------------------------------------------------------------------------------
// Layout

std::string_view float_::form_mold(double value, int32_t precision, bool dot_zero, FloatText& out) {
    FloatText scratch;
    dtoa::Digits d = dtoa::format(value, precision, dot_zero, scratch);
    if (d.point >= dtoa::zero_point) return put(out, d.text);

    const char* digits = d.text + d.negative;
    int32_t n = d.count;
    int32_t k = d.point;
    char* w = out.text;
    if (d.negative) *w++ = '-';
    if (k > 17 || k < -6) {
        *w++ = digits[0];
        if (n > 1) {
            *w++ = '.';
            std::memcpy(w, digits + 1, n - 1);
            w += n - 1;
        } else if (dot_zero) {
            *w++ = '.';
            *w++ = '0';
        }
        *w++ = 'e';
        w = std::to_chars(w, out.text + sizeof out.text, k - 1).ptr;
    } else if (k <= 0) {
        *w++ = '0';
        *w++ = '.';
        std::memset(w, '0', -k);
        w += -k;
        std::memcpy(w, digits, n);
        w += n;
    } else if (n <= k) {
        std::memcpy(w, digits, n);
        std::memset(w + n, '0', k - n);
        w += k;
        if (dot_zero) {
            *w++ = '.';
            *w++ = '0';
        }
    } else {
        std::memcpy(w, digits, k);
        w += k;
        *w++ = '.';
        std::memcpy(w, digits + k, n - k);
        w += n - k;
    }
    *w = '\0';
    return {out.text, static_cast<std::size_t>(w - out.text)};
}

// ---------------------------------------------------------------------------------------
// Text by kind

namespace {

std::atomic<int32_t> pretty_switch{1};
std::atomic<int32_t> full_switch{0};

// The %g precisions of each kind; 0 as the first stands for form_mold's 6 digits.
struct KindFormat {
    int first;
    int retry;
};
constexpr KindFormat kind_formats[] = {
    {7, 5},    // float32
    {16, 14},  // float64
    {7, 14},   // percent32
    {13, 14},  // percent64
    {0, 5},    // seconds
    {7, 5},    // point
};

std::size_t print_g(double x, int precision, FloatText& out) {
    std::to_chars_result r = std::to_chars(out.text, out.text + sizeof out.text - 1, x,
                                           std::chars_format::general, precision);
    *r.ptr = '\0';
    return static_cast<std::size_t>(r.ptr - out.text);
}

// A %g text whose last mantissa digits look like the tail of a binary fraction
// (434.9999999999999, 0.30000000000000001) rather than a number someone wrote.
bool suspect(const char* text, std::size_t length) {
    const char* e = static_cast<const char*>(std::memchr(text, 'e', length));
    std::size_t mantissa = e ? static_cast<std::size_t>(e - text) : length;
    bool long_enough;
    if (e) {
        long_enough = mantissa > 16;
    } else {
        char first = text[text[0] == '-' ? 1 : 0];
        long_enough = length > 16 && (first != '0' || length > 17);
    }
    if (!long_enough) return false;
    const char* tail = text + mantissa - 2;
    return (tail[0] == '0' && tail[1] == '1') || (tail[0] == '9' && tail[1] == '9');
}

// 1e+20 becomes 1e20, 1.5e-07 becomes 1.5e-7.
std::size_t clean_exponent(char* text, std::size_t length) {
    char* e = static_cast<char*>(std::memchr(text, 'e', length));
    if (!e) return length;
    char* end = text + length;
    char* w = e + 1;
    const char* r = w;
    if (r < end && *r == '+') ++r;
    else if (r < end && *r == '-') *w++ = *r++;
    while (r + 1 < end && *r == '0') ++r;
    while (r < end) *w++ = *r++;
    *w = '\0';
    return static_cast<std::size_t>(w - text);
}

}  // namespace

bool float_::pretty_q() { return pretty_switch.load(std::memory_order_relaxed) != 0; }
void float_::set_pretty(bool on) { pretty_switch.store(on ? 1 : 0, std::memory_order_relaxed); }
bool float_::full_q() { return full_switch.load(std::memory_order_relaxed) != 0; }
void float_::set_full(bool on) { full_switch.store(on ? 1 : 0, std::memory_order_relaxed); }

std::string_view float_::format(double x, Kind kind, FloatText& out) {
    if (std::isnan(x)) return put(out, "1.#NaN");
    if (std::isinf(x)) return put(out, x > 0 ? "1.#INF" : "-1.#INF");

    bool percent = kind == Kind::percent32 || kind == Kind::percent64;
    bool pretty = pretty_q();
    if (pretty && std::fabs(x) < std::numeric_limits<double>::epsilon())
        return put(out, percent ? "0%" : kind == Kind::point ? "0" : "0.0");

    auto index = static_cast<std::size_t>(kind);
    if (index >= std::size(kind_formats)) runtime::no_switch_matched();
    KindFormat f = kind_formats[index];
    std::size_t length = f.first ? print_g(x, f.first, out) : form_mold(x, 6, false, out).size();
    if (pretty && suspect(out.text, length)) length = print_g(x, f.retry, out);
    length = clean_exponent(out.text, length);

    if (percent) {
        out.text[length++] = '%';
        out.text[length] = '\0';
    } else if (kind != Kind::seconds && kind != Kind::point && !std::memchr(out.text, '.', length)) {
        char* e = static_cast<char*>(std::memchr(out.text, 'e', length));
        char* at = e ? e : out.text + length;
        std::memmove(at + 2, at, static_cast<std::size_t>(out.text + length - at) + 1);
        at[0] = '.';
        at[1] = '0';
        length += 2;
    }
    return {out.text, length};
}

}  // namespace kov
