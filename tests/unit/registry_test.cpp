// The datatype registry: stored numbering, typed slots, snapshot inheritance.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/datatypes/registry.h"
#include "runtime/error.h"

using namespace kov;

TEST(Registry, DatatypeIdsAndActionSlotsArePinned) {
    // These numbers are a stored format (Kovbin, boot image): they never change.
    const char* names[] = {nullptr, "datatype!", "unset!", "none!", "logic!", "block!", "paren!", "string!",
        "file!", "url!", "char!", "integer!", "float!", "symbol!", "context!", "word!", "set-word!", "lit-word!",
        "get-word!", "refinement!", "issue!", "native!", "action!", "op!", "function!", "path!", "lit-path!",
        "set-path!", "get-path!", "routine!", "bitset!", "triple!", "object!", "typeset!", "error!", "vector!",
        "hash!", "pair!", "percent!", "tuple!", "map!", "binary!", "series!", "time!", "tag!", "email!", "handle!",
        "date!", "port!", "money!", "ref!", "point2D!", "point3D!", "image!", "event!"};
    std::vector<std::string> from_defs(55);
#define DATATYPE(id, name, ident, parent, families) from_defs[id] = name;
#include "runtime/defs/datatypes.def"
#undef DATATYPE
    for (int id = 1; id <= 54; ++id) EXPECT_EQ(from_defs[id], names[id]) << id;

    const char* slots = "make random reflect to form mold eval-path set-path compare absolute add divide multiply "
        "negate power remainder round subtract even? odd? and~ complement or~ xor~ append at back change clear "
        "copy find head head? index? insert length? move next pick poke put remove reverse select sort skip swap "
        "tail tail? take trim create close delete modify open open? query read rename update write";
    std::string joined;
    for (uint32_t i = 0; i < actions::slot_count; ++i) joined += std::string(i ? " " : "") + actions::words[i];
    EXPECT_EQ(joined, slots);
    EXPECT_EQ(actions::slot::find, 30);
    EXPECT_EQ(actions::slot::put, 40);
    EXPECT_EQ(actions::slot::write, 61);
}

TEST(Registry, ErrorCodesFollowTheCatalogue) {
    EXPECT_EQ(err::code(err::script_no_value), 300u);
    EXPECT_EQ(err::code(err::script_not_defined), 302u);
    EXPECT_EQ(err::code(err::math_zero_divide), 400u);
    EXPECT_EQ(err::code(err::throw_break), 0u);
    EXPECT_EQ(err::code(err::user_message), 800u);
    EXPECT_STREQ(err::defs[err::internal_too_deep].word, "too-deep");
    EXPECT_STREQ(err::category_words[err::cat_internal], "internal");
}

namespace {
int32_t parent_compare(Cell*, Cell*, int32_t) { return 1; }
int32_t child_compare(Cell*, Cell*, int32_t) { return 2; }
Cell* parent_clear(Cell* c) { return c; }
Cell* later_clear(Cell* c) { return c + 1; }
}  // namespace

// Inheritance copies the parent's slots as they stand when the child registers: a slot the
// parent leaves empty stays empty in the child, and a later change to the parent is not seen.
TEST(Registry, InheritanceIsASnapshot) {
    using namespace datatype;
    // Ids 55 and 56 are the spare ones the tables hold beyond the list's 54.
    static_assert(T_LAST == 54 && actions::max_types == 57);
    register_type({.id = 55, .parent = 0, .name = "parent!", .rest = Rest::empty, .mark = nullptr,
                   .actions = {.compare = parent_compare, .clear = parent_clear}});
    register_type({.id = 56, .parent = 55, .name = "child!", .rest = Rest::inherit, .mark = nullptr,
                   .actions = {.form = empty, .find = inherit}});
    EXPECT_EQ(actions::lookup<actions::slot::compare>(56), parent_compare);
    EXPECT_EQ(actions::lookup<actions::slot::clear>(56), parent_clear);
    EXPECT_EQ(actions::lookup<actions::slot::find>(56), nullptr);  // inherited hole
    EXPECT_EQ(actions::lookup<actions::slot::form>(56), nullptr);  // explicitly empty

    // Re-registering the parent later does not reach the child already registered.
    register_type({.id = 55, .parent = 0, .name = "parent!", .rest = Rest::empty, .mark = nullptr,
                   .actions = {.compare = child_compare, .clear = later_clear}});
    EXPECT_EQ(actions::lookup<actions::slot::clear>(56), parent_clear);
    // An own entry overrides; the rest of an empty-by-default record is empty.
    register_type({.id = 56, .parent = 55, .name = "child!", .rest = Rest::empty, .mark = nullptr,
                   .actions = {.compare = child_compare}});
    EXPECT_EQ(actions::lookup<actions::slot::compare>(56), child_compare);
    EXPECT_EQ(actions::lookup<actions::slot::clear>(56), nullptr);
    EXPECT_EQ(types[56].name_length, 5);  // "child" without the "!"
    EXPECT_STREQ(name_of(56), "child!");
}
