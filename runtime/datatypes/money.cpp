#include "runtime/datatypes/money.h"

#include <cstring>

#include "runtime/interpreter/stack.h"
#include "runtime/series_buffer.h"

namespace kov::money {

namespace {

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

uint8_t upper(uint8_t c) { return c >= 'a' && c <= 'z' ? uint8_t(c - 32) : c; }

void set_digit(uint8_t* bytes, uint32_t k, uint32_t d) {
    uint8_t& b = bytes[(k - 1) / 2];
    b = (k & 1) ? uint8_t((b & 0x0F) | d << 4) : uint8_t((b & 0xF0) | d);
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

int32_t currency_index(const uint8_t* code, uint32_t length) {
    if (length != 3) return -1;
    for (uint32_t i = 0; i < currency_total; ++i) {
        const char* c = currencies[i];
        if (upper(code[0]) == uint8_t(c[0]) && upper(code[1]) == uint8_t(c[1]) && upper(code[2]) == uint8_t(c[2]))
            return static_cast<int32_t>(i + 1);
    }
    return -1;
}

uint32_t currency_count() { return currency_total; }
const char* currency_code(uint32_t index) {
    return index >= 1 && index <= currency_total ? currencies[index - 1] : nullptr;
}

// ---- constructors -------------------------------------------------------------------------------

Cell& make_at(Cell& c, bool negative, uint32_t currency_index, const uint8_t* digit_bytes) {
    c.header = (c.header & ~(0xFFu | sign_bit)) | T_money | (negative ? sign_bit : 0);
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
        set_digit(bytes, k--, uint32_t(ch - '0'));
    }
    k = integer_digits + 1;
    for (const uint8_t* p = frac_start; p < frac_end && k <= digit_count; ++p)
        set_digit(bytes, k++, uint32_t(*p - '0'));
    make_at(c, negative, currency_index, bytes);
    return true;
}

}  // namespace kov::money
