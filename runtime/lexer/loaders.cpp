// The token loaders: one per value class, each checking its token's exact syntax and, in build
// mode, appending the value to the value buffer.
//
// A loader reserves its cell only once the token has been checked, then allocates what the
// value needs and stores the value at once, so that an unfinished value is never reachable.
// Cells are named by index (reserve may move the buffer); the text lies outside the series
// frames and never moves.
#include <cmath>
#include <cstring>
#include <limits>

#include "runtime/codecs/base_codecs.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/issue.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/time.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/url.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/float_text.h"
#include "runtime/lexer/scan_state.h"
#include "runtime/unicode.h"

namespace kov::lexer {

namespace {

bool digit_q(uint8_t c) { return c >= '0' && c <= '9'; }
bool letter_q(uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
uint8_t lower(uint8_t c) { return c >= 'A' && c <= 'Z' ? uint8_t(c + 32) : c; }
uint32_t unit_for(int32_t cp) { return cp > 0xFFFF ? 4 : cp > 0xFF ? 2 : 1; }

// Stores a scalar value in a new cell at the tail, keeping the cell's new-line flag.
void append(State& st, const Cell& value, bool new_line) {
    uint32_t i = reserve(st, new_line);
    Cell v = value;
    v.header |= at(i).header & cell::new_line;
    at(i) = v;
}
void append(State& st, const Cell& value) { append(st, value, st.line_delta > 0); }

// ---- characters and escapes ---------------------------------------------------------------------------

// After "^" at p: gives the position after the escape, or null when it is invalid. unit
// receives the width a "^(...)" group of hex digits asks for.
const uint8_t* decode_escape(const uint8_t* p, const uint8_t* e, int32_t& cp, uint32_t& unit) {
    ++p;
    if (p >= e) return nullptr;
    uint8_t c = *p;
    if (c == '(') {
        const uint8_t* q = p + 1;
        if (q < e && hex_digits[*q] != 255) {
            if (q + 1 < e && q[1] == ')') {
                cp = hex_digits[q[0]];
                return q + 2;
            }
            if (q + 2 < e && hex_digits[q[1]] != 255 && q[2] == ')') {
                cp = hex_digits[q[0]] << 4 | hex_digits[q[1]];
                return q + 3;
            }
        }
        for (const EscapeName& name : escape_names) {
            if (e - q < name.length) continue;
            bool same = true;
            for (uint32_t i = 0; i < name.length && same; ++i) same = lower(q[i]) == uint8_t(name.name[i]);
            if (!same) continue;
            if (q + name.length < e && q[name.length] == ')') {
                cp = name.code;
                return q + name.length + 1;
            }
            return nullptr;
        }
        // Up to six hex digits; a code point beyond Unicode is not a character.
        uint32_t v = 0;
        uint32_t n = 0;
        for (; q < e && *q != ')'; ++q) {
            if (hex_digits[*q] == 255 || n == 6) return nullptr;
            v = v << 4 | hex_digits[*q];
            ++n;
        }
        if (q >= e || n == 0 || v > uint32_t(char_::max_code_point)) return nullptr;
        unit = n > 4 ? 4 : n > 2 ? 2 : 1;
        cp = int32_t(v);
        return q + 1;
    }
    switch (c) {
    case '@': cp = 0; return p + 1;
    case '/': cp = 10; return p + 1;
    case '-': cp = 9; return p + 1;
    case '"': cp = 34; return p + 1;
    case '{': cp = 123; return p + 1;
    case '}': cp = 125; return p + 1;
    case '^': cp = 94; return p + 1;
    case '~': cp = 127; return p + 1;
    default: break;
    }
    if (c >= 'a' && c <= 'z') {
        cp = c - 'a' + 1;
        return p + 1;
    }
    if (c >= 'A' && c <= '_') {
        cp = c - '@';
        return p + 1;
    }
    // Any other character stands for itself, the whole of it.
    const uint8_t* next = unicode::decode_utf8_char(p, e, cp);
    return cp < 0 ? nullptr : next;
}

// One character (or escape) at p < e; null when it cannot be decoded.
const uint8_t* next_char(const uint8_t* p, const uint8_t* e, bool escapes, int32_t& cp, uint32_t& unit) {
    if (escapes && *p == '^') return decode_escape(p, e, cp, unit);
    if (*p < 0x80) {
        cp = *p;
        return p + 1;
    }
    const uint8_t* next = unicode::decode_utf8_char(p, e, cp);
    return cp < 0 ? nullptr : next;
}

bool has_high_byte(const uint8_t* s, const uint8_t* e) {
    for (; s < e; ++s)
        if (*s >= 0x80) return true;
    return false;
}

// ---- numbers --------------------------------------------------------------------------------------------

// Float syntax read by the float reader (apostrophes removed); adjustment -2 reads a percent.
bool parse_float(const uint8_t* s, const uint8_t* e, int32_t adjustment, double& out) {
    if (!float_syntax_q(s, e)) return false;
    char text[max_float_text + 1];
    uint32_t n = 0;
    for (const uint8_t* p = s; p < e; ++p)
        if (*p != '\'') text[n++] = char(*p);
    text[n] = 0;
    std::size_t left = 0;
    out = dtoa::parse(text, text + n, adjustment, left);
    return left == 0;
}

// "1.#INF", "-1.#INF", "1.#NaN" (letter case ignored after the "#").
bool parse_special(const uint8_t* s, const uint8_t* e, double& out) {
    bool negative = false;
    if (s < e && (*s == '+' || *s == '-')) negative = *s++ == '-';
    if (e - s != 6 || s[0] != '1' || s[1] != '.' || s[2] != '#') return false;
    const uint8_t* w = s + 3;
    if (lower(w[0]) == 'n' && lower(w[1]) == 'a' && lower(w[2]) == 'n') {
        out = std::numeric_limits<double>::quiet_NaN();
        return true;
    }
    if (lower(w[0]) == 'i' && lower(w[1]) == 'n' && lower(w[2]) == 'f') {
        out = negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
        return true;
    }
    return false;
}

enum class IntRead { ok, bad, overflow };

// An optional sign, then decimal digits with single apostrophes; the smallest integer is
// read as well.
IntRead read_integer(const uint8_t* s, const uint8_t* e, int32_t& out) {
    bool negative = false;
    if (s < e && (*s == '+' || *s == '-')) negative = *s++ == '-';
    if (s >= e) return IntRead::bad;
    uint64_t magnitude = 0;
    bool any = false;
    for (const uint8_t* p = s; p < e; ++p) {
        if (*p == '\'') {
            if (p > s && p[-1] == '\'') return IntRead::bad;
            continue;
        }
        if (!digit_q(*p)) return IntRead::bad;
        any = true;
        magnitude = magnitude * 10 + uint32_t(*p - '0');
        if (magnitude > 2147483648ULL) return IntRead::overflow;
    }
    if (!any) return IntRead::bad;
    if (magnitude == 2147483648ULL && !negative) return IntRead::overflow;
    out = negative ? int32_t(0u - uint32_t(magnitude)) : int32_t(magnitude);
    return IntRead::ok;
}

// Up to max (at most 9) decimal digits at p; gives how many were read.
int32_t read_digits(const uint8_t*& p, const uint8_t* e, int32_t max, int32_t& value) {
    int32_t n = 0;
    value = 0;
    while (p < e && n < max && digit_q(*p)) {
        value = value * 10 + (*p++ - '0');
        ++n;
    }
    return n;
}

// ---- strings and the types made of text ------------------------------------------------------------------

void load_string(State& st, const uint8_t* s, const uint8_t* e, uint32_t flags, bool build) {
    load_text(st, s + 1, e, flags, build, T_string, true, st.line_delta > 0);
    st.pos = e + 1;  // the closing quote
}

// Text whose "%XX" escapes are decoded (unquoted files, URLs containing "%").
void load_percent_text(State& st, const uint8_t* s, const uint8_t* e, uint32_t flags, bool build, uint32_t type) {
    load_text(st, s, e, flags, false, type, false, false);  // the raw text must be valid UTF-8
    if (!build) return;
    uint32_t unit = (flags & f_utf8_4) ? 4 : (flags & f_utf8_2_3) ? 2 : 1;
    uint32_t i = reserve(st);
    uint64_t room = uint64_t(e - s);
    memory::Node node = memory::alloc_series(room ? room : 1, unit, 0);
    at(i) = Cell{type | (at(i).header & cell::new_line), 0, node, 0};
    if (!url::decode_bytes(s, room, node)) throw_error(st, st.token_start, st.token_end, int32_t(type));
}

void load_file(State& st, const uint8_t* s, const uint8_t* e, uint32_t flags, bool build) {
    if (s + 1 < e && s[1] == '"') {
        if (e >= st.end || *e != '"') throw_error(st, s, e, T_file);
        load_text(st, s + 2, e, flags, build, T_file, true, st.line_delta > 0);
        st.pos = e + 1;
        return;
    }
    const uint8_t* text = s + 1;
    if (std::memchr(text, '%', size_t(e - text))) load_percent_text(st, text, e, flags, build, T_file);
    else load_text(st, text, e, flags, build, T_file, false, st.line_delta > 0);
    st.type = T_file;
}

void load_url(State& st, const uint8_t* s, const uint8_t* e, uint32_t flags, bool build) {
    if (*s == ':') throw_error(st, s, e, T_get_word);
    if (*s == '\'') throw_error(st, s, e, T_lit_word);
    if (std::memchr(s, '%', size_t(e - s))) load_percent_text(st, s, e, flags, build, T_url);
    else load_text(st, s, e, flags, build, T_url, false, st.line_delta > 0);
    st.type = T_url;
}

void load_email(State& st, const uint8_t* s, const uint8_t* e, uint32_t flags, bool build) {
    load_text(st, s, e, flags, build, T_email, false, st.line_delta > 0);
}

void load_tag(State& st, const uint8_t* s, const uint8_t* e, uint32_t flags, bool build) {
    if (*s != '<' || e >= st.end || *e != '>') throw_error(st, s, e, T_tag);
    load_text(st, s + 1, e, flags, build, T_tag, false, st.line_delta > 0);
    st.pos = e + 1;
}

void load_ref(State& st, const uint8_t* s, const uint8_t* e, uint32_t flags, bool build) {
    load_text(st, s + 1, e, flags, build, T_ref, false, st.line_delta > 0);
}

// %{...}%, with as many "%" after the "}" as before the "{"; a shorter closing run is part of
// the text, which then reaches to the first "}" followed by the whole run.
void load_raw_string(State& st, const uint8_t* s, const uint8_t* e, uint32_t flags, bool build) {
    const uint8_t* open = s;
    while (open < e && *open == '%') ++open;
    uint32_t n = uint32_t(open - s);
    const uint8_t* run = e;
    while (run > open && run[-1] == '%') --run;
    uint32_t m = uint32_t(e - run);
    const uint8_t* close = run - 1;  // the "}" before the closing run
    if (m > n || close <= open || *close != '}') throw_error(st, s, e, T_string);
    const uint8_t* after = e;
    if (m < n) {
        if (st.raw_miss_from && n >= st.raw_miss_run && e >= st.raw_miss_from) throw_error(st, s, e, T_string);
        const uint8_t* q = e;
        for (;; ++q) {
            if (q + n >= st.end || *q == 0) {
                st.raw_miss_run = n;
                st.raw_miss_from = e;
                throw_error(st, s, q, T_string);
            }
            if (*q != '}') continue;
            uint32_t k = 0;
            while (k < n && q[1 + k] == '%') ++k;
            if (k == n) break;
        }
        close = q;
        after = q + 1 + n;
        // The scan loop did not see these bytes: their line feeds count here, once.
        if (st.pos != after) st.line += count_lines(e, after);
    }
    st.pos = after;
    load_text(st, open + 1, close, flags | (has_high_byte(e, after) ? f_utf8 : 0), build, T_string, false,
              st.line_delta > 0);
}

void load_char(State& st, const uint8_t* s, const uint8_t* e, uint32_t flags, bool build) {
    const uint8_t* body = s + 2;  // after #"
    int32_t cp = -1;
    uint32_t unit = 1;
    const uint8_t* after = body < e ? next_char(body, e, true, cp, unit) : nullptr;
    if (!after || after != e || cp < 0 || cp > char_::max_code_point) throw_error(st, s, e + 1, T_char_);
    st.pos = e + 1;  // the closing quote
    st.type = T_char_;
    if (build) append(st, char_::make(cp));
}

// ---- numbers -------------------------------------------------------------------------------------------------

void load_float(State& st, const uint8_t* s, const uint8_t* e, uint32_t flags, bool build) {
    double v;
    if (!parse_float(s, e, 0, v)) throw_error(st, s, e, T_float_);
    st.type = T_float_;
    if (build) append(st, float_::make(v));
}

void load_integer(State& st, const uint8_t* s, const uint8_t* e, uint32_t flags, bool build) {
    const uint8_t* p = s;
    if (p < e && (*p == '+' || *p == '-')) ++p;
    if (p >= e) throw_error(st, s, e, T_pair);
    uint32_t digits = 0;
    for (const uint8_t* q = p; q < e; ++q) {
        if (*q == '\'') {
            if (q[-1] == '\'') throw_error(st, s, e, T_integer);
            continue;
        }
        if (!digit_q(*q)) throw_error(st, s, e, T_integer);
        ++digits;
    }
    int32_t v = 0;
    // Too long or too large for 32 bits: the number is a float.
    if (digits > 10 || read_integer(s, e, v) != IntRead::ok) {
        load_float(st, s, e, flags, build);
        return;
    }
    st.type = T_integer;
    if (build) append(st, integer::make(v));
}

void load_hex(State& st, const uint8_t* s, const uint8_t* e, uint32_t flags, bool build) {
    if (e - s == 1 && !digit_q(*s)) throw_error(st, s, e, T_word);
    const uint8_t* last = e - 1;  // the "h"
    if (*last != 'h') throw_error(st, s, e, T_integer);
    uint32_t v = 0;
    for (const uint8_t* p = s; p < last; ++p) {
        if (hex_digits[*p] == 255) throw_error(st, s, e, T_integer);
        v = v << 4 | hex_digits[*p];
    }
    if (last - s < 2 || last - s > 8) throw_error(st, s, e, T_integer);
    st.type = T_integer;
    if (build) append(st, integer::make(int32_t(v)));
}

void load_percent(State& st, const uint8_t* s, const uint8_t* e, uint32_t flags, bool build) {
    double v;
    if (!parse_float(s, e, -2, v)) throw_error(st, s, e + 1, T_percent);
    st.pos = e + 1;  // the "%"
    st.type = T_percent;
    if (build) append(st, percent::make(v));
}

void load_special_float(State& st, const uint8_t* s, const uint8_t* e, uint32_t flags, bool build) {
    double v;
    if (!parse_special(s, e, v)) throw_error(st, s, e, T_float_);
    st.type = T_float_;
    if (build) append(st, float_::make(v));
}

void load_tuple(State& st, const uint8_t* s, const uint8_t* e, uint32_t flags, bool build) {
    uint8_t bytes[tuple::max_length];
    uint32_t count = 0;
    const uint8_t* p = s;
    for (;;) {
        int32_t v;
        int32_t n = read_digits(p, e, 4, v);
        if (n == 0 || v > 255 || count == tuple::max_length) throw_error(st, s, e, T_tuple);
        bytes[count++] = uint8_t(v);
        if (p == e) break;
        if (*p != '.' || ++p == e) throw_error(st, s, e, T_tuple);
    }
    if (count < tuple::min_length) throw_error(st, s, e, T_tuple);
    st.type = T_tuple;
    if (build) {
        Cell v{T_unset, 0, 0, 0};
        tuple::make_at(v, bytes, count);
        append(st, v);
    }
}

void load_pair(State& st, const uint8_t* s, const uint8_t* e, uint32_t flags, bool build) {
    const uint8_t* x = s;
    while (x < e && *x != 'x' && *x != 'X') ++x;
    int32_t px, py;
    if ((flags & f_point) || x == e || read_integer(s, x, px) != IntRead::ok ||
        read_integer(x + 1, e, py) != IntRead::ok)
        throw_error(st, s, e, T_pair);
    st.type = T_pair;
    if (build) append(st, pair::make(px, py));
}

// The text from after "(" to the ")": two or three coordinates separated by ",".
void load_point(State& st, const uint8_t* s, const uint8_t* e, uint32_t flags, bool build) {
    float coords[3];
    uint32_t n = 0;
    const uint8_t* p = s;
    const uint8_t* paren = s - 1;
    for (;;) {
        int32_t kind = n < 2 ? T_point2d : T_point3d;
        while (p < e && (*p == ' ' || *p == '\t')) ++p;
        const uint8_t* c = p;
        while (p < e && *p != ',') ++p;
        const uint8_t* c_end = p;
        while (c_end > c && (c_end[-1] == ' ' || c_end[-1] == '\t')) --c_end;
        if (c_end == c || n == 3) throw_error(st, paren, e + 1, kind);
        double v;
        bool ok = std::memchr(c, '#', size_t(c_end - c)) ? parse_special(c, c_end, v) : parse_float(c, c_end, 0, v);
        if (!ok) throw_error(st, paren, e + 1, kind);
        coords[n++] = float(v);
        if (p == e) break;
        ++p;  // the ","
    }
    if (n < 2) throw_error(st, paren, e + 1, T_point2d);
    st.pos = e + 1;  // the ")"
    st.type = n == 2 ? T_point2d : T_point3d;
    if (build) {
        Cell v = n == 2 ? point2d::make(coords[0], coords[1]) : point3d::make(coords[0], coords[1], coords[2]);
        append(st, v, st.point_line_delta > 0);
    }
}

void load_time(State& st, const uint8_t* s, const uint8_t* e, uint32_t flags, bool build) {
    auto bad = [&] { throw_error(st, s, e, T_time); };
    if (flags & f_exponent) bad();
    const uint8_t* p = s;
    if (p < e && *p == '+') ++p;
    bool negative = false;
    if (p < e && *p == '-') {
        negative = true;
        ++p;
    }
    uint64_t hours = 0;
    bool any = false;
    for (; p < e && (digit_q(*p) || *p == '\''); ++p) {
        if (*p == '\'') continue;
        any = true;
        hours = hours * 10 + uint32_t(*p - '0');
        if (hours > 2147483648ULL) bad();
    }
    if (!any || (hours == 2147483648ULL && !negative) || p >= e || *p != ':') bad();
    ++p;
    int32_t minutes;
    if (read_digits(p, e, 9, minutes) == 0) bad();
    double seconds = 0;
    double total;
    if (p == e) {
        total = double(hours) * time::seconds_per_hour + minutes * time::seconds_per_minute;
    } else if (*p == ':') {
        if (++p == e || !parse_float(p, e, 0, seconds) || seconds < 0) bad();
        total = double(hours) * time::seconds_per_hour + minutes * time::seconds_per_minute + seconds;
    } else if (*p == '.' || *p == ',') {
        // Minutes and seconds: what was read as hours are minutes, the rest a fraction.
        char text[max_float_text + 1];
        int32_t len = 0;
        const uint8_t* m = p;
        while (m > s && digit_q(m[-1])) --m;
        for (const uint8_t* q = m; q < e && len < int32_t(max_float_text); ++q)
            text[len++] = *q == ',' ? '.' : char(*q);
        auto t = reinterpret_cast<const uint8_t*>(text);
        if (!parse_float(t, t + len, 0, seconds) || seconds < 0) bad();
        total = double(hours) * time::seconds_per_minute + seconds;
    } else {
        bad();
    }
    st.type = T_time;
    if (build) append(st, time::make(negative ? -total : total));
}

// The time after a date's "/" or "T": hour, ":", minutes, optional ":" seconds, optional "Z"
// or zone. False on a syntax error (ranges are checked by the caller).
bool read_time_of_day(const uint8_t*& p, const uint8_t* e, int32_t& hour, int32_t& minute, double& second,
                      int32_t& zone_hours, int32_t& zone_minutes) {
    if (read_digits(p, e, 2, hour) == 0 || p >= e || *p != ':') return false;
    ++p;
    if (read_digits(p, e, 2, minute) == 0) return false;
    second = 0;
    if (p < e && *p == ':') {
        const uint8_t* s = ++p;
        while (p < e && (digit_q(*p) || *p == '.')) ++p;
        if (p == s || !parse_float(s, p, 0, second)) return false;
    }
    zone_hours = zone_minutes = 0;
    if (p < e && (*p == 'Z' || *p == 'z')) {
        ++p;
    } else if (p < e && (*p == '+' || *p == '-')) {
        int32_t sign = *p++ == '-' ? -1 : 1;
        if (read_digits(p, e, 2, zone_hours) == 0) return false;
        if (p < e && *p == ':') ++p;
        if (p < e && digit_q(*p)) read_digits(p, e, 2, zone_minutes);
        zone_hours *= sign;
        zone_minutes *= sign;
    }
    return true;
}

void load_date(State& st, const uint8_t* s, const uint8_t* e, uint32_t flags, bool build) {
    auto bad = [&] { throw_error(st, s, e, T_date); };
    const uint8_t* p = s;
    bool negative = p < e && *p == '-';
    if (negative) ++p;
    int32_t first;
    int32_t first_digits = read_digits(p, e, 4, first);
    if (first_digits == 0) bad();

    int32_t year = 0, month = 0, day = 0;
    int32_t hour = 0, minute = 0, zone_hours = 0, zone_minutes = 0;
    double second = 0;
    bool has_time = false;
    auto time_after = [&] {
        if (p < e && (*p == 'T' || *p == 't')) {
            ++p;
            if (!read_time_of_day(p, e, hour, minute, second, zone_hours, zone_minutes)) bad();
            has_time = true;
        }
    };

    if (p < e && digit_q(*p)) {
        // yyyymmddThhmm, then Z or seconds, then an optional Z or a zone of a sign and 4 digits.
        if (first_digits != 4 || negative) bad();
        year = first;
        if (read_digits(p, e, 2, month) != 2 || read_digits(p, e, 2, day) != 2) bad();
        if (p >= e || *p != 'T') bad();
        ++p;
        if (read_digits(p, e, 2, hour) != 2 || read_digits(p, e, 2, minute) != 2) bad();
        has_time = true;
        if (p < e && (*p == 'Z' || *p == 'z')) {
            ++p;
        } else {
            const uint8_t* ss = p;
            while (p < e && (digit_q(*p) || *p == '.')) ++p;
            if (p == ss || !parse_float(ss, p, 0, second)) bad();
            if (p < e && (*p == 'Z' || *p == 'z')) {
                ++p;
            } else if (p < e && (*p == '+' || *p == '-')) {
                int32_t sign = *p++ == '-' ? -1 : 1;
                if (read_digits(p, e, 2, zone_hours) != 2 || read_digits(p, e, 2, zone_minutes) != 2) bad();
                zone_hours *= sign;
                zone_minutes *= sign;
            }
        }
    } else if (e - p >= 2 && p[0] == '-' && (p[1] == 'W' || p[1] == 'w')) {
        // Week date: yyyy-Www[-d]
        if (first_digits != 4 || negative) bad();
        p += 2;
        int32_t week, weekday = 1;
        if (read_digits(p, e, 2, week) != 2 || week < 1 || week > 53) bad();
        if (p < e && *p == '-') {
            ++p;
            if (read_digits(p, e, 1, weekday) != 1 || weekday < 1 || weekday > 7) bad();
        }
        int32_t days = date::week_start(date::pack(first, 1, 1, 0, false), nullptr) + (week - 1) * 7 + weekday - 1;
        uint32_t packed = date::from_days(days, 0, false);
        year = date::year_of(packed);
        month = int32_t(date::month_of(packed));
        day = int32_t(date::day_of(packed));
        time_after();
    } else if (e - p >= 4 && p[0] == '-' && digit_q(p[1]) && digit_q(p[2]) && digit_q(p[3]) &&
               (e - p == 4 || p[4] == 'T' || p[4] == 't')) {
        // Ordinal date: yyyy-ddd
        ++p;
        int32_t yday;
        read_digits(p, e, 3, yday);
        year = negative ? -first : first;
        int32_t length = date::leap_year_q(year) ? 366 : 365;
        if (yday < 1 || yday > length) bad();
        uint32_t packed = date::from_days(date::year_start(date::pack(year, 1, 1, 0, false)) + yday - 1, 0, false);
        month = int32_t(date::month_of(packed));
        day = int32_t(date::day_of(packed));
        time_after();
    } else {
        // day-month-year or year-month-day, with "-" or "/" and a month by number or name.
        if (p >= e || (*p != '-' && *p != '/')) bad();
        uint8_t separator = *p++;
        if (p < e && digit_q(*p)) {
            read_digits(p, e, 2, month);
        } else {
            const uint8_t* name = p;
            while (p < e && letter_q(*p)) ++p;
            size_t len = size_t(p - name);
            if (len < 3 || len > 9) bad();
            for (uint32_t m = 0; m < 12 && !month; ++m) {
                const char* full = month_names[m];
                if (len > std::strlen(full)) continue;
                bool same = true;
                for (size_t i = 0; i < len && same; ++i) same = lower(name[i]) == lower(uint8_t(full[i]));
                if (same) month = int32_t(m + 1);
            }
            if (!month) bad();
        }
        if (p >= e || *p != separator) bad();
        ++p;
        bool third_negative = p < e && *p == '-';
        if (third_negative) ++p;
        int32_t third;
        int32_t third_digits = read_digits(p, e, 4, third);
        if (third_digits == 0) bad();
        int32_t year_digits;
        if (!negative && first >= 100 && !third_negative && third <= 31) {
            year = first;
            day = third;
            year_digits = first_digits;
        } else {
            if (negative) bad();
            day = first;
            year = third_negative ? -third : third;
            year_digits = third_digits;
        }
        if (year_digits <= 2 && year >= 0) year += year < 50 ? 2000 : 1900;
        if (p < e && (*p == '/' || *p == 'T' || *p == 't')) {
            ++p;
            if (!read_time_of_day(p, e, hour, minute, second, zone_hours, zone_minutes)) bad();
            has_time = true;
        }
    }
    if (p != e) bad();
    if (year < -9999 || year > 9999 || month < 1 || month > 12 || day < 1 ||
        uint32_t(day) > date::month_length(year, uint32_t(month)))
        bad();
    if (has_time && (hour > 23 || minute > 59 || !(second < 60.0) || zone_hours < -15 || zone_hours > 15 ||
                     zone_minutes < -59 || zone_minutes > 59))
        bad();
    st.type = T_date;
    if (build) {
        Cell v{T_unset, 0, 0, 0};
        date::from_os_time(v, year, uint32_t(month), uint32_t(day), hour * 3600.0 + minute * 60.0 + second, zone_hours,
                           zone_minutes, has_time);
        append(st, v);
    }
}

void load_money(State& st, const uint8_t* s, const uint8_t* e, uint32_t flags, bool build) {
    auto bad = [&] { throw_error(st, s, e, T_money); };
    const uint8_t* p = s;
    bool negative = false;
    if (p < e && (*p == '+' || *p == '-')) negative = *p++ == '-';
    auto dollar = static_cast<const uint8_t*>(std::memchr(p, '$', size_t(e - p)));
    if (!dollar) bad();
    int32_t currency = 0;
    if (dollar != p) {
        if (dollar - p != 3 || !letter_q(p[0]) || !letter_q(p[1]) || !letter_q(p[2])) bad();
        currency = money::currency_index(p, 3);
        if (currency < 0) bad();
    }
    p = dollar + 1;
    if (p >= e || *p == '.' || *p == ',' || *p == '\'') bad();
    const uint8_t* int_start = p;
    uint32_t significant = 0;
    for (; p < e && (digit_q(*p) || *p == '\''); ++p) {
        if (*p == '\'') {
            if (p[-1] == '\'') bad();
            continue;
        }
        if (significant || *p != '0') ++significant;
    }
    const uint8_t* int_end = p;
    if (int_end[-1] == '\'') bad();
    const uint8_t* frac = p;
    if (p < e && (*p == '.' || *p == ',')) {
        frac = ++p;
        while (p < e && digit_q(*p)) ++p;
        if (p == frac || p - frac > int32_t(money::fraction_digits)) bad();
    }
    // The cell holds 17 integer digits: a longer amount would lose its leading digits.
    if (p != e || significant > money::integer_digits) bad();
    Cell v{T_unset, 0, 0, 0};
    if (!money::from_digits(v, negative, uint32_t(currency), int_start, int_end, frac, p)) bad();
    st.type = T_money;
    if (build) append(st, v);
}

// base#{...}: base 2, 16 (the default) or 64; white space and ";" comments to the end of a
// line are skipped. Gives null for valid text, else the byte that does not belong.
const uint8_t* check_binary(uint32_t base, const uint8_t* s, const uint8_t* e) {
    uint64_t digits = 0;
    uint32_t group = 0, pads = 0;
    for (const uint8_t* p = s; p < e; ++p) {
        uint8_t c = *p;
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
        if (c == ';') {
            while (p < e && *p != '\n') ++p;
            continue;
        }
        switch (base) {
        case 2:
            if (c != '0' && c != '1') return p;
            ++digits;
            break;
        case 16:
            if (hex_digits[c] == 255) return p;
            ++digits;
            break;
        default:
            if (c == '=') {
                // Padding after two or three characters of a group, and no more than fills it.
                if ((pads == 0 && group < 2) || pads + group >= 4) return p;
                ++pads;
            } else if (letter_q(c) || digit_q(c) || c == '+' || c == '/') {
                if (pads) return p;  // data after the padding
                group = (group + 1) % 4;
            } else {
                return p;
            }
            break;
        }
    }
    if (base == 2 && digits % 8) return e;
    if (base == 16 && digits % 2) return e;
    if (base == 64 && group && !pads) return e;  // a group cut short would lose its bytes
    return nullptr;
}

void load_binary(State& st, const uint8_t* s, const uint8_t* e, uint32_t flags, bool build) {
    const uint8_t* p = s;
    uint32_t base = 0;
    while (p < e && digit_q(*p)) {
        if (base < 1000) base = base * 10 + uint32_t(*p - '0');
        ++p;
    }
    if (p == s) base = 16;
    if ((base != 2 && base != 16 && base != 64) || e - p < 2 || p[0] != '#' || p[1] != '{')
        throw_error(st, s, e + 1, T_binary);
    const uint8_t* body = p + 2;
    if (const uint8_t* bad = check_binary(base, body, e)) throw_error(st, bad, e + 1, T_binary);
    st.pos = e + 1;  // the "}"
    st.type = T_binary;
    if (!build) return;
    uint64_t n = uint64_t(e - body);
    memory::Node node = base == 2 ? base2::decode(body, n, 1) : base == 16 ? base16::decode(body, n, 1)
                                                                           : base64::decode(body, n, 1);
    if (!node) throw_error(st, s, e + 1, T_binary);
    // Nothing allocates from the series frames between the decoder and the store.
    uint32_t i = reserve(st);
    at(i) = Cell{T_binary | (at(i).header & cell::new_line), 0, node, 0};
}

// ---- words ----------------------------------------------------------------------------------------------------

// A word of the kind over [s, e) (the decoration already stripped): words are bound in the
// global context, refinements are not bound, issues refer to the global context unbound.
void store_word(State& st, uint32_t type, const uint8_t* s, const uint8_t* e, bool build) {
    if (s >= e) throw_error(st, st.token_start, st.token_end, int32_t(type));
    st.type = int32_t(type);
    if (!build) return;
    uint32_t sym = symbol::search(s, uint32_t(e - s));
    Cell w;
    if (type == T_issue) w = issue::make(sym);
    else if (type == T_refinement) w = word::cell_of(T_refinement, sym);
    else cell::set_type(word::make_at(sym, w), type);
    append(st, w);
}

// The kind of a word token, and its end before any white space of Unicode.
void scan_word(State& st, const uint8_t* s, const uint8_t* e, uint32_t flags, bool build) {
    if (flags & f_utf8) {
        for (const uint8_t* p = s; p < e;) {
            int32_t cp;
            const uint8_t* next = unicode::decode_utf8_char(p, e, cp);
            if (cp < 0) throw_error(st, s, e, T_word);
            if (unicode_space_q(uint32_t(cp))) {
                e = st.token_end = st.pos = p;
                break;
            }
            p = next;
        }
    }
    bool colon = std::memchr(s, ':', size_t(e - s)) != nullptr;
    uint32_t type = T_word;
    if (*s == '\'') {
        if (e[-1] == ':') throw_error(st, s, e, T_lit_word);
        type = T_lit_word;
    } else if (colon) {
        if (*s == ':' && e[-1] != ':') type = T_get_word;
        else if (e[-1] == ':' && *s != ':') type = T_set_word;
        else throw_error(st, s, e, T_word);
    }
    st.type = int32_t(type);
}

void load_word(State& st, const uint8_t* s, const uint8_t* e, uint32_t flags, bool build) {
    scan_word(st, s, e, flags, false);
    e = st.token_end;
    switch (st.type) {
    case T_lit_word:
    case T_get_word: store_word(st, uint32_t(st.type), s + 1, e, build); break;
    case T_set_word: store_word(st, T_set_word, s, e - 1, build); break;
    default: store_word(st, uint32_t(st.type), s, e, build); break;
    }
}

void scan_issue(State& st, const uint8_t* s, const uint8_t* e, uint32_t flags, bool build) {
    if (e - s < 2 || *s != '#') throw_error(st, s, e, T_issue);
    if (flags & f_utf8) load_text(st, s + 1, e, flags, false, T_issue, false, false);
    st.type = T_issue;
}

void load_issue(State& st, const uint8_t* s, const uint8_t* e, uint32_t flags, bool build) {
    scan_issue(st, s, e, flags, false);
    store_word(st, T_issue, s + 1, e, build);
}

void load_refinement(State& st, const uint8_t* s, const uint8_t* e, uint32_t flags, bool build) {
    if (flags & f_utf8) load_text(st, s, e, flags, false, T_refinement, false, false);
    if (e - s == 1) {
        store_word(st, T_word, s, e, build);
    } else if (e - s == 2 && (*s == '\'' || *s == ':' || e[-1] == ':')) {
        uint32_t type = *s == '\'' ? T_lit_word : *s == ':' ? T_get_word : T_set_word;
        store_word(st, type, type == T_set_word ? s : s + 1, type == T_set_word ? e - 1 : e, build);
    } else {
        if (*s != '/') throw_error(st, s, e, T_refinement);
        store_word(st, T_refinement, s + 1, e, build);
    }
}

}  // namespace

// ---- shared entry points --------------------------------------------------------------------------------------

void load_text(State& st, const uint8_t* s, const uint8_t* e, uint32_t flags, bool build, uint32_t type,
               bool escapes, bool new_line) {
    const uint8_t* err = st.brace_start ? st.brace_start : st.token_start;
    uint32_t unit = (flags & f_utf8_4) ? 4 : (flags & f_utf8_2_3) ? 2 : 1;
    bool plain = !(escapes && (flags & f_caret)) && !has_high_byte(s, e);
    uint64_t count = 0;
    if (plain) {
        count = uint64_t(e - s);
    } else {
        for (const uint8_t* p = s; p < e; ++count) {
            int32_t cp;
            uint32_t wanted = 1;
            p = next_char(p, e, escapes, cp, wanted);
            if (!p) throw_error(st, err, e + 1, int32_t(type));
            if (wanted > unit) unit = wanted;
            if (unit_for(cp) > unit) unit = unit_for(cp);
        }
    }
    st.type = int32_t(type);
    if (!build) return;
    if (count * unit > memory::max_buffer_size) error::fire(err::internal_no_memory);
    uint32_t i = reserve(st, new_line);
    memory::Node node = memory::alloc_series(count ? count : 1, unit, 0);
    at(i) = Cell{type | (at(i).header & cell::new_line), 0, node, 0};
    memory::Buffer* b = memory::buffer(node);
    uint8_t* out = b->head_ptr();
    if (plain && unit == 1) {
        if (count) std::memcpy(out, s, count);
    } else {
        for (const uint8_t* p = s; p < e; out += unit) {
            int32_t cp;
            uint32_t wanted;
            p = next_char(p, e, escapes, cp, wanted);
            unicode::put_char(out, unit, uint32_t(cp));
        }
    }
    b->tail = b->head + uint32_t(count * unit);
}

void load_path_head(State& st, const uint8_t* s, const uint8_t* e, uint32_t flags, bool build) {
    if (flags & f_utf8) load_text(st, s, e, flags, false, T_word, false, false);
    if (*s == '\'' || *s == ':') ++s;
    store_word(st, T_word, s, e, build);
}

const Loader loaders[token_class_count] = {
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    load_string,         // 13 quoted string
    load_word,           // 14 word
    load_issue,          // 15 issue
    load_integer,        // 16 integer
    load_refinement,     // 17 refinement
    load_char,           // 18 character
    load_file,           // 19 file
    load_binary,         // 20 binary
    load_percent,        // 21 percent
    load_float,          // 22 float
    load_special_float,  // 23 float special
    load_tuple,          // 24 tuple
    load_date,           // 25 date
    load_pair,           // 26 pair
    load_point,          // 27 point
    load_time,           // 28 time
    load_money,          // 29 money
    load_tag,            // 30 tag
    load_url,            // 31 URL
    load_email,          // 32 e-mail
    load_hex,            // 33 hexadecimal integer
    load_raw_string,     // 34 raw string
    load_ref,            // 35 ref
};

const Loader value_scanners[token_class_count] = {
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    load_string,  // 13: checked (build off)
    scan_word,    // 14
    scan_issue,   // 15
};

}  // namespace kov::lexer
