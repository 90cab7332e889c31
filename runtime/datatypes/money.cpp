#include "runtime/datatypes/money.h"

#include <cmath>
#include <cstring>

#include "runtime/cells.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/scalar.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/interpreter/random.h"
#include "runtime/families.h"
#include "runtime/float_text.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/stack.h"
#include "runtime/lexer/tokenizer.h"
#include "runtime/series_buffer.h"
#include "runtime/words.h"

namespace kov::money {

namespace {

using scalar::datatype_of;

// The currency list as it stands at start-up; the index of a code is its position here.
constexpr const char* currencies[] = {
    "AED", "AFN", "ALL", "AMD", "ANG", "AOA", "ARS", "AUD", "AWG", "AZN", "BAM", "BBD", "BDT", "BTC", "BGN",
    "BHD", "BIF", "BMD", "BND", "BOB", "BRL", "BSD", "BTN", "BWP", "BYN", "BZD", "CAD", "CDF", "CHF", "CKD",
    "CLP", "CNY", "COP", "CRC", "CUC", "CUP", "CVE", "CZK", "DJF", "DKK", "DOP", "DZD", "EGP", "ERN", "ETB",
    "ETH", "EUR", "FJD", "FKP", "FOK", "GBP", "GEL", "GGP", "GHS", "GIP", "GMD", "GNF", "GTQ", "GYD", "HKD",
    "HNL", "HRK", "HTG", "HUF", "IDR", "ILS", "IMP", "INR", "IQD", "IRR", "ISK", "JEP", "JMD", "JOD", "JPY",
    "KES", "KGS", "KHR", "KID", "KMF", "KPW", "KRW", "KWD", "KYD", "KZT", "LAK", "LBP", "LKR", "LRD", "LSL",
    "LYD", "MAD", "MDL", "MGA", "MKD", "MMK", "MNT", "MOP", "MRU", "MUR", "MVR", "MWK", "MXN", "MYR", "MZN",
    "NAD", "NGN", "NIO", "NOK", "NPR", "NZD", "OMR", "PAB", "PEN", "PGK", "PHP", "PKR", "PLN", "PND", "PRB",
    "PYG", "QAR", "KOV", "RON", "RSD", "RUB", "RWF", "SAR", "SBD", "SCR", "SDG", "SEK", "SGD", "SHP", "SLL",
    "SLS", "SOS", "SRD", "SSP", "STN", "SYP", "SZL", "THB", "TJS", "TMT", "TND", "TOP", "TRY", "TTD", "TVD",
    "TWD", "TZS", "UAH", "UGX", "USD", "UYU", "UZS", "VES", "VND", "VUV", "WST", "CFA", "XAF", "XCD", "XOF",
    "CFP", "XPF", "YER", "ZAR", "ZMW",
};
constexpr uint32_t currency_total = sizeof currencies / sizeof currencies[0];
static_assert(currency_total == 170, "the start-up currency list has 170 codes");

constexpr Amount unit = 100000;  // 1 in 0.00001 units

constexpr Amount power10(uint32_t n) {
    Amount p = 1;
    while (n--) p *= 10;
    return p;
}
constexpr Amount limit = power10(digit_count);  // every magnitude is below this

uint8_t upper(uint8_t c) { return c >= 'a' && c <= 'z' ? uint8_t(c - 32) : c; }

void put_digit(uint8_t* bytes, uint32_t k, uint32_t d) {
    uint8_t& b = bytes[(k - 1) / 2];
    b = (k & 1) ? uint8_t((b & 0x0F) | d << 4) : uint8_t((b & 0xF0) | d);
}

[[noreturn]] void type_limit() { error::fire(err::script_type_limit, datatype_of(T_money)); }

// A field of an object value by name, found without interning or allocating.
const Cell* field(const Cell* holder, const char* name) {
    if (!holder || !cell::is(*holder, T_object)) return nullptr;
    uint32_t sym = symbol::find(reinterpret_cast<const uint8_t*>(name), uint32_t(std::strlen(name)));
    return sym ? object::select_word(*holder, word::cell_of(T_word, sym)) : nullptr;
}

const Cell* system_object() {
    // Before start-up has made the symbol table and the global context there is none.
    if (!symbol::table() || !context::global()) return nullptr;
    uint32_t sym = symbol::find(reinterpret_cast<const uint8_t*>("system"), 6);
    return sym ? context::get_any(sym, context::global()) : nullptr;
}

// system/locale/currencies/list, or null while there is none.
const Cell* live_list() {
    const Cell* list = field(field(field(system_object(), "locale"), "currencies"), "list");
    return list && cell::is(*list, T_block) ? list : nullptr;
}

// The cells of the live list from its index and their count (at most 255: the index byte).
const Cell* list_cells(const Cell& list, uint32_t& count) {
    memory::Buffer* buf = memory::buffer(list.w2);
    uint64_t used = buf->used() / sizeof(Cell);
    count = used > list.w1 ? uint32_t(std::min<uint64_t>(used - list.w1, 255)) : 0;
    return cells::of(buf) + list.w1;
}

// The number of decimals form and mold write.
int32_t decimals(bool all) {
    const Cell* d = field(field(system_object(), "options"), "money-digits");
    int32_t n = d && cell::is(*d, T_integer) ? integer::get(*d) : 2;
    return all || n > int32_t(fraction_digits) ? int32_t(fraction_digits) : n;
}

}  // namespace

// ---- cell helpers -------------------------------------------------------------------------------

void digits(const Cell& c, uint8_t* out) {
    std::memcpy(out, reinterpret_cast<const uint8_t*>(&c) + 5, digit_bytes);
}

uint32_t get_digit(const Cell& c, uint32_t k) {
    if (k < 1 || k > digit_count) return 0;
    uint8_t b = reinterpret_cast<const uint8_t*>(&c)[5 + (k - 1) / 2];
    return (k & 1) ? b >> 4 : b & 0xF;
}

uint32_t significant_digits(const Cell& c) {
    for (uint32_t k = 1; k <= digit_count; ++k)
        if (get_digit(c, k)) return digit_count - k + 1;
    return 1;
}

Amount magnitude(const Cell& c) {
    Amount m = 0;
    for (uint32_t k = 1; k <= digit_count; ++k) m = m * 10 + get_digit(c, k);
    return m;
}

void set_magnitude(Cell& c, Amount m) {
    uint8_t bytes[digit_bytes] = {};
    for (uint32_t k = digit_count; k >= 1 && m; --k) {
        put_digit(bytes, k, uint32_t(m % 10));
        m /= 10;
    }
    std::memcpy(reinterpret_cast<uint8_t*>(&c) + 5, bytes, digit_bytes);
}

bool zero_q(const Cell& c) {
    uint8_t d[digit_bytes];
    digits(c, d);
    for (uint8_t b : d)
        if (b) return false;
    return true;
}

int32_t sign_of(const Cell& c) { return zero_q(c) ? 0 : negative_q(c) ? -1 : 1; }

int32_t currency_index(const uint8_t* code, uint32_t length) {
    if (length != 3) return -1;
    if (const Cell* list = live_list()) {
        uint32_t count;
        const Cell* cells = list_cells(*list, count);
        for (uint32_t i = 0; i < count; ++i) {
            if (!in(cell::type(cells[i]), ALL_WORD)) continue;
            symbol::Spelling sp = symbol::spelling(word::symbol_of(cells[i]));
            if (sp.length == 3 && upper(sp.bytes[0]) == upper(code[0]) && upper(sp.bytes[1]) == upper(code[1]) &&
                upper(sp.bytes[2]) == upper(code[2]))
                return int32_t(i + 1);
        }
        return -1;
    }
    for (uint32_t i = 0; i < currency_total; ++i) {
        const char* c = currencies[i];
        if (upper(code[0]) == uint8_t(c[0]) && upper(code[1]) == uint8_t(c[1]) && upper(code[2]) == uint8_t(c[2]))
            return static_cast<int32_t>(i + 1);
    }
    return -1;
}

uint32_t currency_count() {
    if (const Cell* list = live_list()) {
        uint32_t count;
        list_cells(*list, count);
        return count;
    }
    return currency_total;
}

const char* currency_code(uint32_t index) {
    if (const Cell* list = live_list()) {
        uint32_t count;
        const Cell* cells = list_cells(*list, count);
        if (index < 1 || index > count || !in(cell::type(cells[index - 1]), ALL_WORD)) return nullptr;
        return reinterpret_cast<const char*>(symbol::spelling(word::symbol_of(cells[index - 1])).bytes);
    }
    return index >= 1 && index <= currency_total ? currencies[index - 1] : nullptr;
}

Cell currency_value(const Cell& c) {
    uint32_t index = currency(c);
    if (!index) return none::value;
    if (const Cell* list = live_list()) {
        uint32_t count;
        const Cell* cells = list_cells(*list, count);
        if (index <= count && in(cell::type(cells[index - 1]), ALL_WORD))
            return word::cell_of(T_word, word::symbol_of(cells[index - 1]));
        return none::value;
    }
    const char* code = currency_code(index);
    return code ? word::load(code) : none::value;
}

// ---- constructors -------------------------------------------------------------------------------

Cell& make_at(Cell& c, bool negative, uint32_t currency_index, const uint8_t* digit_bytes) {
    c.header = cell::retyped(c.header, T_money) | (negative ? sign_bit : 0);
    auto bytes = reinterpret_cast<uint8_t*>(&c);
    bytes[4] = static_cast<uint8_t>(currency_index);
    std::memcpy(bytes + 5, digit_bytes, money::digit_bytes);
    return c;
}

Cell* make_in(memory::Node block, bool negative, uint32_t currency_index, const uint8_t* digit_bytes) {
    return &make_at(*series::append_cell(block), negative, currency_index, digit_bytes);
}

Cell* push(bool negative, uint32_t currency_index, const uint8_t* digit_bytes) {
    return &make_at(*stack::reserve(), negative, currency_index, digit_bytes);
}

Cell make_amount(bool negative, uint32_t currency_index, Amount m) {
    Cell c{T_money, 0, 0, 0};
    uint8_t bytes[digit_bytes] = {};
    make_at(c, negative, currency_index, bytes);
    set_magnitude(c, m);
    return c;
}

bool from_digits(Cell& c, bool negative, uint32_t currency_index, const uint8_t* int_start, const uint8_t* int_end,
                 const uint8_t* frac_start, const uint8_t* frac_end) {
    uint8_t bytes[digit_bytes] = {};
    // Integer digits from the units backwards; leading zeros take no place.
    uint32_t k = integer_digits;
    const uint8_t* first = int_start;
    while (first < int_end && (*first == '0' || *first == '\'')) ++first;
    for (const uint8_t* p = int_end; p > first;) {
        uint8_t ch = *--p;
        if (ch == '\'') continue;
        if (k == 0) return false;
        put_digit(bytes, k--, uint32_t(ch - '0'));
    }
    k = integer_digits + 1;
    for (const uint8_t* p = frac_start; p < frac_end && k <= digit_count; ++p)
        put_digit(bytes, k++, uint32_t(*p - '0'));
    make_at(c, negative, currency_index, bytes);
    return true;
}

// ---- conversions --------------------------------------------------------------------------------

Cell from_int32(int32_t n) {
    uint32_t m = n < 0 ? 0u - uint32_t(n) : uint32_t(n);  // -2147483648 too
    return make_amount(n < 0, 0, Amount(m) * unit);
}

int32_t to_integer(const Cell& c) {
    Amount whole = magnitude(c) / unit;
    bool negative = negative_q(c);
    if (whole > (negative ? Amount(2147483648u) : Amount(2147483647u)))
        error::fire(err::script_type_limit, datatype_of(T_integer));
    uint32_t w = uint32_t(whole);
    return negative ? int32_t(0u - w) : int32_t(w);
}

Cell from_float(double d, bool strict) {
    auto refuse = [d]() { error::fire(err::script_bad_make_arg, float_::make(d), datatype_of(T_money)); };
    double a = std::fabs(d);
    if (!std::isfinite(d) || a >= 1e17 || (a != 0 && a < 1e-5)) refuse();
    if (a == 0) return from_int32(0);
    FloatText ft;
    dtoa::Digits dg = dtoa::format(a, 22, true, ft);
    const char* text = dg.text;
    int32_t count = dg.count;
    // value = 0.d1d2... x 10^point; digit i is worth 10^(point - 1 - i), in units 10^(point + 4 - i).
    if (strict && count - dg.point > int32_t(fraction_digits)) refuse();
    Amount m = 0;
    for (int32_t i = 0; i < count; ++i) {
        int32_t e = dg.point + 4 - i;
        if (e < 0) break;
        m += Amount(uint32_t(text[i] - '0')) * power10(uint32_t(e));
    }
    return make_amount(d < 0, 0, m);
}

double to_float(const Cell& c) {
    Amount m = magnitude(c);
    if (m == 0) return 0.0;
    char text[32];
    char* p = text + sizeof text;
    *--p = '\0';
    for (uint32_t i = 0; i < fraction_digits; ++i) {
        *--p = char('0' + uint32_t(m % 10));
        m /= 10;
    }
    *--p = '.';
    do {
        *--p = char('0' + uint32_t(m % 10));
        m /= 10;
    } while (m);
    std::size_t left = 0;
    double d = dtoa::parse(p, text + sizeof text - 1, 0, left);
    return negative_q(c) ? -d : d;
}

// ---- arithmetic and comparison ------------------------------------------------------------------

int32_t compare_amounts(const Cell& a, const Cell& b) {
    int32_t s1 = sign_of(a), s2 = sign_of(b);
    if (s1 != s2) return s1 < s2 ? -1 : 1;
    Amount m1 = magnitude(a), m2 = magnitude(b);
    int32_t r = m1 < m2 ? -1 : (m1 > m2 ? 1 : 0);
    return s1 < 0 ? -r : r;
}

bool same_currency_q(const Cell& a, const Cell& b, bool strict) {
    if (strict) return currency(a) == currency(b);
    return !currency(a) || !currency(b) || currency(a) == currency(b);
}

namespace {

// A value without currency first; two currencies by their codes; then by amount.
int32_t compare_with_currency(const Cell& a, const Cell& b) {
    uint32_t ca = currency(a), cb = currency(b);
    if (ca != cb) {
        if (!ca || !cb) return ca ? 1 : -1;
        const char* x = currency_code(ca);
        const char* y = currency_code(cb);
        if (x && y) {
            for (; *x && *y && upper(uint8_t(*x)) == upper(uint8_t(*y)); ++x, ++y) {
            }
            int32_t d = int32_t(upper(uint8_t(*x))) - int32_t(upper(uint8_t(*y)));
            if (d) return d < 0 ? -1 : 1;
        }
    }
    return compare_amounts(a, b);
}

// The signed amount of a cell in units, as a signed 128-bit number.
__extension__ typedef __int128 Signed;
Signed signed_amount(const Cell& c) { return negative_q(c) ? -Signed(magnitude(c)) : Signed(magnitude(c)); }

// Stores a signed result; a magnitude of 10^22 or more overflows.
void store(Cell& c, Signed v) {
    Amount m = v < 0 ? Amount(-v) : Amount(v);
    if (m >= limit) type_limit();
    set_sign(c, v < 0);
    set_magnitude(c, m);
}

Cell to_money(const Cell& v, bool strict) {
    switch (cell::type(v)) {
    case T_money: return v;
    case T_integer: return from_int32(integer::get(v));
    case T_float_:
    case T_percent: return from_float(cell::get_double(v), strict);
    default: error::fire(err::script_invalid_type, datatype_of(cell::type(v)));
    }
}

}  // namespace

Cell* math(Cell* a, Cell* b, int32_t op) {
    bool a_money = cell::is(*a, T_money), b_money = cell::is(*b, T_money);
    if ((op == integer::multiply && a_money && b_money) ||
        ((op == integer::divide || op == integer::remainder) && !a_money))
        error::fire(err::script_invalid_type, datatype_of(cell::type(*a)));
    Cell x = to_money(*a, false);
    Cell y = to_money(*b, false);
    if (!same_currency_q(x, y, false)) error::fire(err::script_wrong_denom, *a, *b);
    uint32_t cur = currency(x) ? currency(x) : currency(y);
    Signed p = signed_amount(x), q = signed_amount(y);
    Signed r = 0;
    switch (op) {
    case integer::add: r = p + q; break;
    case integer::subtract: r = p - q; break;
    case integer::multiply: {
        if (p == 0 || q == 0) break;
        if (significant_digits(x) + significant_digits(y) > 28) type_limit();
        r = p * q / Signed(unit);
        if (r == 0) type_limit();
        break;
    }
    case integer::divide:
    case integer::remainder: {
        if (q == 0) error::fire(err::math_zero_divide);
        if (p == 0) break;
        if (op == integer::remainder) {
            r = p % q;
            break;
        }
        r = p * Signed(unit) / q;
        if (r == 0) type_limit();
        if (b_money) {
            // Money divided by money is a plain number: the quotient of five decimals.
            Cell quotient = make_amount(false, 0, 0);
            store(quotient, r);
            float_::make_at(*a, to_float(quotient));
            return a;
        }
        break;
    }
    default: error::fire(err::script_invalid_type, datatype_of(cell::type(*a)));
    }
    Cell result = make_amount(false, cur, 0);
    store(result, r);
    *a = result;
    return a;
}

int32_t compare(Cell* value, Cell* other, int32_t op) {
    uint32_t t = cell::type(*other);
    if ((op == actions::strict_equal || op == actions::same || op == actions::find_equal) && t != T_money) return 1;
    Cell y;
    switch (t) {
    case T_money: {
        if (op == actions::sort_order || op == actions::sort_order_case) return compare_with_currency(*value, *other);
        bool ordering = !actions::equality_code(op);
        if (ordering && !same_currency_q(*value, *other, false))
            error::fire(err::script_wrong_denom, *value, *other);
        bool strict = op == actions::find_equal && currency(*other);
        if (!ordering && !same_currency_q(*value, *other, strict)) return 1;
        y = *other;
        break;
    }
    case T_integer: y = from_int32(integer::get(*other)); break;
    case T_float_: {
        // Floats beyond the range of money are still ordered against it.
        double d = cell::get_double(*other);
        double a = std::fabs(d);
        if (a >= 1e17 && a == a) return d > 0 ? -1 : 1;
        if (a != 0 && a < 1e-5) {
            int32_t s = sign_of(*value);
            return s ? s : (d > 0 ? -1 : 1);
        }
        y = from_float(d, true);
        break;
    }
    default: return actions::not_comparable;
    }
    return compare_amounts(*value, y);
}

// ---- text ---------------------------------------------------------------------------------------

int32_t format_text(const Cell& c, Cell& out, int32_t part, bool all) {
    char text[64];
    char* p = text;
    if (negative_q(c)) *p++ = '-';
    if (const char* code = currency(c) ? currency_code(currency(c)) : nullptr) {
        std::memcpy(p, code, 3);
        p += 3;
    }
    *p++ = '$';
    uint32_t n = significant_digits(c);
    if (n > fraction_digits) {
        for (uint32_t k = digit_count - n + 1; k <= integer_digits; ++k) *p++ = char('0' + get_digit(c, k));
    } else {
        *p++ = '0';
    }
    int32_t places = decimals(all);
    if (places > 0) {
        *p++ = '.';
        for (int32_t k = 0; k < places; ++k) *p++ = char('0' + get_digit(c, integer_digits + 1 + uint32_t(k)));
    }
    *p = '\0';
    return string::emit(out, text, part);
}

// ---- actions ------------------------------------------------------------------------------------

namespace {

[[noreturn]] void bad_make(const Cell& spec) { error::fire(err::script_bad_make_arg, datatype_of(T_money), spec); }
[[noreturn]] void bad_to(const Cell& spec) { error::fire(err::script_bad_to_arg, datatype_of(T_money), spec); }

int32_t word_currency(const Cell& w) {
    symbol::Spelling sp = symbol::spelling(word::symbol_of(w));
    return currency_index(sp.bytes, sp.length);
}

Cell* to(Cell*, Cell* spec, uint32_t) {
    uint32_t t = cell::type(*spec);
    switch (t) {
    case T_money: return stack::push(*spec);
    case T_integer: return stack::push(from_int32(integer::get(*spec)));
    case T_float_: return stack::push(from_float(cell::get_double(*spec), true));
    default: break;
    }
    if (!in(t, ANY_STRING)) bad_to(*spec);
    Cell text = *spec;
    int32_t count = string::rs_length_q(text);
    Cell result{T_none, 0, 0, 0};
    int32_t fault = 0;
    if (!tokenizer::scan_money(string::rs_head(text), count, memory::buffer(text.w2)->unit(), &fault, result))
        bad_to(*spec);
    return stack::push(result);
}

// [currency amount fraction], the currency and the fraction optional.
Cell make_from_block(const Cell& spec) {
    memory::Buffer* buf = memory::buffer(spec.w2);
    int64_t count = int64_t(buf->used() / sizeof(Cell)) - int64_t(spec.w1);
    if (count < 1 || count > 3) bad_make(spec);
    const Cell* items = cells::of(buf) + spec.w1;
    int64_t i = 0;
    int32_t cur = 0;
    if (cell::is(items[0], T_word)) {
        cur = word_currency(items[0]);
        if (cur < 0 || count < 2) bad_make(spec);
        i = 1;
    }
    Cell m;
    const Cell& amount = items[i++];
    if (cell::is(amount, T_integer)) {
        m = from_int32(integer::get(amount));
        if (i < count) {
            const Cell& f = items[i++];
            if (!cell::is(f, T_integer) || integer::get(f) < 0 || integer::get(f) > max_fraction) bad_make(spec);
            store(m, signed_amount(m) + (negative_q(m) ? -1 : 1) * Signed(integer::get(f)));
        }
    } else if (cell::is(amount, T_float_)) {
        m = from_float(cell::get_double(amount), true);
    } else {
        bad_make(spec);
    }
    if (i != count) bad_make(spec);
    set_currency(m, uint32_t(cur));
    return m;
}

Cell* make_action(Cell* proto, Cell* spec, uint32_t type) {
    if (cell::is(*spec, T_word)) {
        int32_t cur = word_currency(*spec);
        if (cur < 0) bad_make(*spec);
        return stack::push(make_amount(false, uint32_t(cur), 0));
    }
    if (cell::is(*spec, T_block)) return stack::push(make_from_block(*spec));
    return to(proto, spec, type);
}

// An amount of the limit's sign and currency, at most its magnitude, drawn digit by digit
// over the limit's significant digits. While the digits drawn so far equal the limit's, the
// next is drawn from 0 to the limit's digit, and a draw equal to it stands only when two more
// draws agree modulo 1000; once a digit falls below, the rest are drawn from 0 to 9.
Cell* random(Cell* value, const RandomArgs& how) {
    bool seed = how.seed, secure = how.secure;
    if (seed) {
        random::seed(static_cast<int32_t>(value->w1 ^ value->w2 ^ value->w3 ^ (negative_q(*value) ? 1u : 0u)));
        return &unset::make_at(*value);
    }
    auto draw = [secure] { return secure ? random::secure_next() : random::next(); };
    auto digit_upto = [secure](uint32_t d) { return static_cast<uint32_t>(random::integer(secure, int32_t(d) + 1) - 1); };
    Amount m = 0;
    bool tight = true;
    for (uint32_t k = digit_count + 1 - significant_digits(*value); k <= digit_count; ++k) {
        uint32_t v;
        if (!tight) {
            v = digit_upto(9);
        } else {
            uint32_t d = get_digit(*value, k);
            for (;;) {
                v = digit_upto(d);
                if (v < d) {
                    tight = false;
                    break;
                }
                if (draw() % 1000 == draw() % 1000) break;
            }
        }
        m = m * 10 + v;
    }
    set_magnitude(*value, m);
    return value;
}

int32_t form(Cell* value, Cell* out, Cell*, int32_t part) { return format_text(*value, *out, part, false); }

int32_t mold(Cell* value, Cell* out, const MoldArgs& how, int32_t part) {
    return format_text(*value, *out, part, how.all);
}

int32_t compare_a(Cell* value, Cell* other, int32_t op) { return compare(value, other, op); }

Cell* absolute(Cell* value) {
    set_sign(*value, false);
    return value;
}

Cell* negate(Cell* value) {
    flip_sign(*value);
    return value;
}

Cell* add_a(Cell* a, Cell* b) { return money::math(a, b, integer::add); }
Cell* subtract_a(Cell* a, Cell* b) { return money::math(a, b, integer::subtract); }
Cell* multiply_a(Cell* a, Cell* b) { return money::math(a, b, integer::multiply); }
Cell* divide_a(Cell* a, Cell* b) { return money::math(a, b, integer::divide); }
Cell* remainder_a(Cell* a, Cell* b) { return money::math(a, b, integer::remainder); }

bool even_q(Cell* value) { return get_digit(*value, integer_digits) % 2 == 0; }
bool odd_q(Cell* value) { return get_digit(*value, integer_digits) % 2 != 0; }

Cell* round(Cell* n, Cell* scale, const RoundArgs& how) {
    if (zero_q(*n)) return n;
    Amount s = unit;
    if (scale) {
        switch (cell::type(*scale)) {
        case T_money: s = magnitude(*scale); break;
        case T_integer: s = magnitude(from_int32(integer::get(*scale))); break;
        case T_float_: s = magnitude(from_float(cell::get_double(*scale), true)); break;
        default: error::fire(err::script_not_related, scalar::calling_word(), datatype_of(cell::type(*scale)));
        }
    }
    if (s == 0) return n;
    bool negative = negative_q(*n);
    Amount m = magnitude(*n);
    Amount r = m % s;
    if (r == 0) return n;
    Amount lower = m - r;
    Amount upper_ = m + (s - r);
    // A tie is a remainder of exactly half the scale.
    bool tie = 2 * r == s;
    bool up;
    auto half_up = [&] { return r >= s - r; };
    if (how.down) up = false;
    else if (how.floor) up = negative;
    else if (how.ceiling) up = !negative;
    else if (how.even) up = tie ? (m / s) % 2 != 0 : half_up();
    else if (how.half_down) up = tie ? false : half_up();
    else if (how.half_ceiling) up = tie ? !negative : half_up();
    else up = half_up();
    Amount result = up ? upper_ : lower;
    if (result >= limit) type_limit();
    set_magnitude(*n, result);
    return n;
}

Cell field_value(const Cell& value, int32_t index) {
    if (index == 1) return currency_value(value);
    Cell amount = value;
    set_currency(amount, 0);
    return amount;
}

Cell* eval_path(Cell* parent, const PathStep& step) {
    const Cell& element = *step.element;
    int32_t index = -1;
    if (cell::is(element, T_integer)) index = integer::get(element);
    else if (scalar::selector_word_q(element))
        index = scalar::word_is(element, words::symbols::code) ? 1 : scalar::word_is(element, words::symbols::amount) ? 2 : -1;
    if (index != 1 && index != 2) error::fire(err::script_invalid_path, step.path ? *step.path : element, element);
    if (step.value) error::fire(err::script_bad_path_set, element, *step.value);
    return stack::push(field_value(*parent, index));
}

Cell* pick(Cell* value, int32_t index, Cell* boxed) {
    if (boxed && scalar::selector_word_q(*boxed))
        index = scalar::word_is(*boxed, words::symbols::code) ? 1 : scalar::word_is(*boxed, words::symbols::amount) ? 2 : -1;
    else if (boxed && !cell::is(*boxed, T_integer)) index = -1;
    if (index != 1 && index != 2) error::fire(err::script_out_of_range, boxed ? *boxed : integer::make(index));
    *value = field_value(*value, index);
    return value;
}

// Identity: equal amounts, and currencies that agree (either has none, or both the same).
bool same_q(const Cell& a, const Cell& b) {
    uint32_t ca = currency(a), cb = currency(b);
    if (ca && cb && ca != cb) return false;
    int32_t sa = sign_of(a);
    if (sa != sign_of(b)) return false;
    if (sa == 0) return true;
    uint8_t da[digit_bytes], db[digit_bytes];
    digits(a, da);
    digits(b, db);
    return std::memcmp(da, db, digit_bytes) == 0;
}

}  // namespace

void init() {
    datatype::register_type({.id = T_money, .name = "money!", .rest = datatype::Rest::empty,
                             .mark = nullptr, .same = same_q,
                             .actions = {.make = make_action, .random = random, .to = to, .form = form,
                                         .mold = mold, .eval_path = eval_path, .compare = compare_a,
                                         .absolute = absolute, .add = add_a, .divide = divide_a,
                                         .multiply = multiply_a, .negate = negate, .remainder = remainder_a,
                                         .round = round, .subtract = subtract_a, .even_q = even_q, .odd_q = odd_q,
                                         .pick = pick}});
}

}  // namespace kov::money
