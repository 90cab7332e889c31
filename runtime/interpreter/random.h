// The language's one pseudo-random generator, and its secure counterpart.
//
// The generator is a Mersenne Twister of the MT19937 family worked in signed 32-bit
// arithmetic: multiplications and additions wrap, and every right shift is arithmetic (it
// copies the sign bit). Seeded sequences are part of what programs rely on (a seed replays a
// run), so the arithmetic here must not be "corrected" to the unsigned textbook form.
//
// State: 624 words and a position 0..624 (words handed out since the last seeding or twist).
// Seeding leaves the position at 0, so the first 624 outputs after a seeding are the tempered
// seeded words; the first twist comes with the 625th. Every output lies in 0..2147483647.
//
// The secure generator keeps no state: each number is 4 fresh bytes of the kernel's generator
// with the top bit cleared. Seeding does not touch it.
//
// Moving memory: nothing here allocates series memory.
#pragma once
#include <cstdint>

namespace kov::random {

// Seeds the generator with 19650218; start-up calls it before anything can ask for a number.
void init();
void seed(int32_t s);
// The next number of the plain generator, 0..2147483647.
int32_t next();
// A number 0..2147483647 from the secure generator; internal/no-memory when the kernel
// refuses.
int32_t secure_next();
// A number drawn uniformly from 1..n (n > 0), n..-1 (n < 0), or 0 for 0.
int32_t integer(bool secure, int32_t n);
// A float from 0 to x, both included (the float! action's rule).
double scaled_float(bool secure, double x);

}  // namespace kov::random
