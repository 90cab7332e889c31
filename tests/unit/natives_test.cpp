// The native table: the stored numbering of the natives, and an entry for every native built.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "runtime/interpreter/natives.h"
#include "tests/unit/harness.h"

using namespace kov;

using NativeTable = test::Runtime;

// A native! value and the boot image hold a native's index: no native may move.
TEST(Natives, IndexesArePinned) {
    const char* pinned =
        "if unless either any all while until loop repeat forever foreach forall remove-each func function does "
        "has switch case do get set print prin equal? not-equal? strict-equal? lesser? greater? lesser-or-equal? "
        "greater-or-equal? same? not type? reduce compose stats bind in parse union intersect unique difference "
        "exclude complement? dehex enhex negative? positive? max min shift to-hex sine cosine tangent arcsine "
        "arccosine arctangent arctangent2 NaN? log-2 log-10 log-e exp square-root construct value? try uppercase "
        "lowercase as-pair as-point2D as-point3D as-money break continue exit return throw catch extend debase "
        "to-local-file wait checksum unset new-line new-line? enbase context? set-env get-env list-env now sign? as "
        "call zero? size? browse compress decompress recycle transcode apply";
    std::string joined;
    for (uint32_t i = 1; i <= natives::count; ++i) joined += std::string(i > 1 ? " " : "") + natives::words[i];
    EXPECT_EQ(joined, pinned);
    EXPECT_EQ(natives::index::if_, 1u);
    EXPECT_EQ(natives::index::apply, 107u);
}

// Registration follows the family column: a family whose entries were never registered would
// leave its natives raising not-done; a native marked not built must not have an entry.
TEST_F(NativeTable, EveryNativeBuiltHasAnEntry) {
#define NATIVE(n, word, ident, family) \
    EXPECT_EQ(natives::table[n] != nullptr, std::strcmp(#family, "later") != 0) << word;
#include "runtime/defs/natives.def"
#undef NATIVE
    for (uint32_t i = natives::count + 1; i <= natives::capacity; ++i) EXPECT_EQ(natives::table[i], nullptr) << i;
}

// Every action slot runs from an action! value, but the internal ones (path steps and
// comparisons), which the runtime calls directly.
TEST(Natives, EveryActionSlotButTheInternalOnesHasAnEntry) {
    for (uint32_t s = 0; s < actions::slot_count; ++s) {
        bool internal = s == actions::slot::eval_path || s == actions::slot::set_path || s == actions::slot::compare;
        EXPECT_EQ(actions::entries[s] != nullptr, !internal) << actions::words[s];
    }
}
