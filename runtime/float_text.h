// Float text: exact conversion between 64-bit doubles and decimal text, and the layouts in
// which the datatypes print floating-point numbers.
//
// - dtoa::format gives the digits of a double: the shortest digits that read back as the
//   same double, or a given number of significant digits correctly rounded (ties to even).
// - dtoa::parse reads decimal text into the nearest double (ties to even), never reading
//   outside the byte range it is given.
// - float_::form_mold lays the digits out (plain or exponent notation, optional ".0");
//   float_::format chooses the text by kind of number and repairs binary-to-decimal tails
//   while the pretty? switch is on.
//
// Every routine writes into the caller's FloatText, so nested or interleaved conversions
// never clobber each other, and none depends on the locale. Nothing here allocates or
// touches series: no function of this module moves memory.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kov {

// Room for the longest text any routine here writes, with its terminating NUL: the
// longest is form_mold at dtoa::max_precision digits, "-0.00000" followed by the digits.
struct FloatText {
    char text[64];
};

}  // namespace kov

namespace kov::dtoa {

// The point positions that mark a fixed text instead of digits.
constexpr int32_t zero_point = 9998;     // +0 and -0
constexpr int32_t special_point = 9999;  // infinities and NaN

// More significant digits than this are not asked for (money uses 22); larger precisions
// are treated as this one.
constexpr int32_t max_precision = 40;

struct Digits {
    // The NUL-terminated text in the caller's FloatText: "-" for a negative value, then the
    // digits d1 d2 ... without a point; or the fixed text of a zero, infinity or NaN.
    const char* text;
    // value = 0.d1d2... x 10^point; zero_point or special_point for the fixed texts.
    int32_t point;
    // The text starts with "-" (every NaN counts as unsigned, its text has no sign).
    bool negative;
    // Characters of the text after the sign: the number of digits for a finite non-zero value.
    int32_t count;
};

// Precision 0 or less: the shortest digits that read back as the same value. Above 0: that
// many significant digits, correctly rounded, trailing zeros removed. The dot-zero flag only
// chooses between "0.0" and "0" (and "-0.0", "-0") for the zeros.
Digits format(double value, int32_t precision, bool dot_zero, FloatText& out);

// Reads [start, end): an optional sign, digits with an optional point, an optional exponent
// ("e" or "E", an optional sign, at least one digit), or the special texts "1.#INF",
// "-1.#INF", "1.#NaN". `adjustment` is added to the decimal exponent (a percent's number is
// read with -2). The result is the nearest double: overflow gives an infinity, underflow a
// zero or a subnormal, both with the text's sign. `left` receives the number of bytes from
// where reading stopped to the end; a text without digits reads as 0 with nothing consumed.
double parse(const char* start, const char* end, int32_t adjustment, std::size_t& left);

}  // namespace kov::dtoa

namespace kov::float_ {

// The layout of dtoa::format's digits: exponent notation when the point position is above
// 17 or below -6 (1.2345e20, 1.0e-8), plain notation otherwise (0.0000001, 123.45,
// 100000.0); ".0" ends a whole number, or a single-digit mantissa, only with the dot-zero
// flag. Zeros, infinities and NaN give their fixed texts.
std::string_view form_mold(double value, int32_t precision, bool dot_zero, FloatText& out);

// Which number is being printed; the values are those of the vector and datatype callers.
enum class Kind : int32_t {
    float32 = 0,    // 32-bit float vector elements
    float64 = 1,    // float!, 64-bit float vector elements
    percent32 = 2,  // 32-bit percent vector elements
    percent64 = 3,  // percent! (already times 100), 64-bit percent vector elements
    seconds = 4,    // the seconds of time!
    point = 5,      // point2D! and point3D! coordinates
};

// The text of a number of the given kind: "1.#INF", "-1.#INF", "1.#NaN" for the special
// values; otherwise a printf-style %g text with at most one retry at a lower precision to
// repair a binary-to-decimal tail (pretty? on), the exponent without "+" or leading zeros,
// and then "%" for percents or ".0" for a float text without a point.
std::string_view format(double x, Kind kind, FloatText& out);

// The pretty? switch (on by default): tiny magnitudes print as zero and suspect tails are
// repaired. The full? switch (off by default) is kept for the system options; no text here
// reads it.
bool pretty_q();
void set_pretty(bool on);
bool full_q();
void set_full(bool on);

}  // namespace kov::float_
