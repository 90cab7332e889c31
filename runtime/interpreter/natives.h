// The native table: the 107 natives by their fixed 1-based index (runtime/defs/natives.def),
// and the calling convention every native entry follows.
//
// A native's arguments lie on the value stack from the argument base: its fixed arguments in
// spec order, then the arguments of the refinements that were given, in the order the call
// wrote them. The entry gets one position per refinement of its spec, in spec order: -1 when
// the refinement was not given, else the index (from the argument base) of its first
// argument. It leaves its result in the argument-base cell.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace kov::natives {

using Entry = void (*)(const int32_t* refinements);

constexpr uint32_t capacity = 120;

// Native indexes by name: natives::index::if_ is 1.
namespace index {
enum Index : uint32_t {
#define NATIVE(n, word, ident) ident = n,
#include "runtime/defs/natives.def"
#undef NATIVE
};
}  // namespace index
constexpr uint32_t count = 107;

extern Entry table[capacity + 1];  // entry 0 is never used
extern const char* const words[count + 1];

// Set by print (true) and prin (false): whether the last console output ended its line.
extern bool last_line_feed;

void init();
// Registers the natives of one family (their entries by index).
void register_entry(uint32_t index, Entry entry);

// The argument cell k of the running native.
Cell* arg(uint32_t k);
inline bool given(const int32_t* refinements, uint32_t r) { return refinements[r] >= 0; }

}  // namespace kov::natives

namespace kov::actions {
// The entry function of each action slot (what an action! value runs); slot 7 has none.
extern natives::Entry entries[62];
void init_entries();
}  // namespace kov::actions
