// Type families: which datatypes make up series!, any-string!, any-word! and the other
// typesets of the language, for the C++ side. One bit mask per type id, built at compile time
// from runtime/defs/families.def and the family column of runtime/defs/datatypes.def, so a
// test is one load and an AND. These are the language's own typesets: code that needs a set
// that differs from one (a family plus or minus a type) writes the difference out at the call
// site with the reason. Debug builds check at start-up that the typesets the boot definitions
// build hold exactly these members.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace kov {

enum Family : uint32_t {
#define FAMILY(bit, name, IDENT, contains) IDENT = 1u << (bit),
#include "runtime/defs/families.def"
#undef FAMILY
};

namespace families {

struct Info {
    const char* name;   // the typeset's word
    uint32_t bit;       // the Family value
    uint32_t contains;  // the families whose members are members of this one
};
inline constexpr Info list[] = {
#define FAMILY(bit, name, IDENT, contains) {name, IDENT, static_cast<uint32_t>(contains)},
#include "runtime/defs/families.def"
#undef FAMILY
};

// A type's direct families and every family containing one of them.
constexpr uint32_t closure(uint32_t direct) {
    uint32_t m = direct;
    for (bool grew = true; grew;) {
        grew = false;
        for (const Info& f : list)
            if ((m & f.contains) && !(m & f.bit)) m |= f.bit, grew = true;
    }
    return m;
}

// Indexed by any type byte, so the test needs no range check; ids outside the list (the
// internal ones above 54) belong to no family.
struct Table {
    uint32_t mask[256];
};
constexpr Table make_table() {
    Table t{};
#define DATATYPE(id, name, ident, parent, direct) t.mask[id] = closure(static_cast<uint32_t>(direct));
#include "runtime/defs/datatypes.def"
#undef DATATYPE
    return t;
}
inline constexpr Table table = make_table();

static_assert(closure(ANY_LIST) & SERIES, "families are closed under containment");

}  // namespace families

// True when the type belongs to the family (or to any of several families or-ed together).
constexpr bool in(uint32_t type, uint32_t family) { return (families::table.mask[type & 0xFF] & family) != 0; }

}  // namespace kov
