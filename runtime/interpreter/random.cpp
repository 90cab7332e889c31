#include "runtime/interpreter/random.h"

#include "runtime/error.h"
#include "runtime/platform/os.h"

namespace kov::random {

namespace {

constexpr int32_t words = 624;
constexpr int32_t shift_offset = 397;

// The state as unsigned words, so that wrapping arithmetic is defined; every right shift goes
// through `sar`, which is the arithmetic shift of the signed word.
uint32_t state[words];
int32_t position = words;

inline uint32_t sar(uint32_t v, int n) { return static_cast<uint32_t>(static_cast<int32_t>(v) >> n); }

void twist() {
    position = 0;
    for (int32_t k = 0; k < words; ++k) {
        uint32_t y = (state[k] & 0x80000000u) | (state[(k + 1) % words] & 0x7FFFFFFFu);
        uint32_t v = state[(k + shift_offset) % words] ^ sar(y, 1);
        if (y & 1) v ^= 0x9908B0DFu;
        state[k] = v;
    }
}

}  // namespace

void init() { seed(19650218); }

void seed(int32_t s) {
    state[0] = static_cast<uint32_t>(s);
    for (int32_t i = 1; i < words; ++i) {
        uint32_t x = state[i - 1];
        state[i] = 1812433253u * (x ^ sar(x, 30)) + static_cast<uint32_t>(i);
    }
    position = 0;
}

int32_t next() {
    if (position == words) twist();
    uint32_t y = state[position++];
    y ^= sar(y, 11);
    y ^= (y << 7) & 0x9D2C5680u;
    y ^= (y << 15) & 0xEFC60000u;
    y ^= sar(y, 18);
    return static_cast<int32_t>(y);
}

int32_t secure_next() {
    uint32_t v = 0;
    if (!os::secure_random(&v, sizeof v)) error::fire(err::internal_no_memory);
    return static_cast<int32_t>(v & 0x7FFFFFFFu);
}

int32_t integer(bool secure, int32_t n) {
    if (n == 0) return 0;
    auto draw = [secure] { return secure ? secure_next() : next(); };
    if (n == INT32_MIN) return -1 - draw();
    bool negative = n < 0;
    if (negative) n = -n;
    int32_t limit = (INT32_MAX / n) * n;
    int32_t r;
    do r = draw();
    while (r >= limit);
    int32_t result = r % n + 1;
    return negative ? -result : result;
}

double scaled_float(bool secure, double x) {
    if (!secure) return static_cast<double>(next()) / 2147483647.0 * x;
    double r1 = secure_next();
    double r2 = secure_next();
    return (r2 + r1 / 2147483647.0) / 2147483648.0 * x;
}

}  // namespace kov::random
