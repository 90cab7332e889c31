// Symbols: interning and aliases of case variants, any-case interning, the text cache, a
// large table, the text of symbols in string routines, and the runtime's own words.
#include <algorithm>
#include <string>
#include <vector>

#include "runtime/datatypes/context.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/hashtable.h"
#include "runtime/interpreter/actions.h"
#include "runtime/words.h"
#include "tests/unit/harness.h"

using namespace kov;
using namespace kov::test;

namespace {

std::string spelled(uint32_t id) {
    symbol::Spelling s = symbol::spelling(id);
    return std::string(reinterpret_cast<const char*>(s.bytes), s.length);
}

struct Collecting {
    explicit Collecting(uint32_t interval) {
        collector::set_stress_interval(interval);
        collector::enable(true);
    }
    ~Collecting() {
        collector::enable(false);
        collector::set_stress_interval(1);
    }
};

}  // namespace

using SymbolTest = Runtime;

TEST_F(SymbolTest, CaseVariantsShareTheFirstOne) {
    uint32_t foo = symbol::make("symfoo");
    EXPECT_EQ(symbol::make("symfoo"), foo);
    uint32_t Foo = symbol::make("Symfoo");
    uint32_t FOO = symbol::make("SYMFOO");
    EXPECT_NE(Foo, foo);
    EXPECT_NE(FOO, foo);
    EXPECT_NE(FOO, Foo);
    EXPECT_EQ(symbol::get_alias_id(foo), -1);
    EXPECT_EQ(symbol::get_alias_id(Foo), static_cast<int32_t>(foo));
    EXPECT_EQ(symbol::get_alias_id(FOO), static_cast<int32_t>(foo));
    for (uint32_t id : {foo, Foo, FOO}) EXPECT_EQ(symbol::resolve(id), foo);
    EXPECT_EQ(spelled(Foo), "Symfoo");
    // Unknown ids resolve to themselves and have no alias.
    EXPECT_EQ(symbol::resolve(0), 0u);
    EXPECT_EQ(symbol::resolve(symbol::count() + 5), symbol::count() + 5);
    EXPECT_EQ(error_of([] { symbol::get(0); }), "script/invalid-arg");
}

TEST_F(SymbolTest, AnyCaseInterning) {
    uint32_t top = symbol::make("symtop");
    uint32_t n = symbol::count();
    EXPECT_EQ(symbol::make_alt("SYMTOP"), top);
    EXPECT_EQ(symbol::count(), n);
    uint32_t fresh = symbol::make_alt("Fresh-Alt-Sym");
    EXPECT_EQ(symbol::count(), n + 1);
    EXPECT_EQ(symbol::get_alias_id(fresh), -1);
    EXPECT_EQ(symbol::find(reinterpret_cast<const uint8_t*>("fresh-alt-sym"), 13), 0u);  // exact: absent
}

TEST_F(SymbolTest, OnlyAsciiLettersFold) {
    uint32_t upper = symbol::make("\u00c9sym");  // É
    uint32_t lower = symbol::make("\u00e9sym");  // é
    EXPECT_NE(upper, lower);
    EXPECT_EQ(symbol::get_alias_id(lower), -1);
    EXPECT_EQ(symbol::resolve(lower), lower);
    // The ASCII letters around them still fold.
    uint32_t a = symbol::make("\u00c9symX");
    uint32_t b = symbol::make("\u00c9symx");
    EXPECT_EQ(symbol::resolve(b), a);
}

TEST_F(SymbolTest, TextCacheIsMadeOnce) {
    uint32_t id = symbol::make("h\u00e9llo-cache");
    EXPECT_EQ(symbol::record(id)->w2, 0u);
    Cell first = symbol::get(id);
    ASSERT_NE(first.w2, 0u);
    EXPECT_EQ(symbol::get(id).w2, first.w2);
    EXPECT_EQ(text(symbol::c_string(first)), "h\u00e9llo-cache");
    // A record copy made before the cache existed finds the same cache.
    Cell stale = first;
    stale.w2 = 0;
    EXPECT_EQ(symbol::c_string(stale).w2, first.w2);
}

TEST_F(SymbolTest, HundredThousandSymbolsResolveIgnoringCase) {
    Collecting on(997);
    const uint32_t n = 100000;
    std::vector<uint32_t> ids(n);
    for (uint32_t i = 0; i < n; ++i) ids[i] = symbol::make(("big-" + std::to_string(i)).c_str());
    for (uint32_t i = 0; i < n; ++i) {
        std::string upper = "BIG-" + std::to_string(i);
        uint32_t variant = symbol::make(upper.c_str());
        ASSERT_NE(variant, ids[i]);
        ASSERT_EQ(symbol::resolve(variant), ids[i]) << upper;
        ASSERT_EQ(symbol::make_alt(("Big-" + std::to_string(i)).c_str()), ids[i]);
    }
    for (uint32_t i = 0; i < n; i += 997) ASSERT_EQ(spelled(ids[i]), "big-" + std::to_string(i));
    for (uint32_t i = 0; i < n; ++i) ASSERT_EQ(symbol::make(("big-" + std::to_string(i)).c_str()), ids[i]);
    EXPECT_EQ(memory::verify(), nullptr);
}

TEST_F(SymbolTest, FindStringReadsFromTheIndex) {
    Cell s = *str("abc def");
    s.w1 = 4;
    EXPECT_EQ(symbol::find_string(s, -1), symbol::make("def"));
    EXPECT_EQ(symbol::find_string(s, 2), symbol::make("de"));
    EXPECT_EQ(symbol::find_string(s, 0), symbol::make(""));
    Cell* wide = str("\u00e9t\u00e9");
    string::append_char(wide->w2, 0x263A);
    EXPECT_EQ(symbol::find_string(*wide, -1), symbol::make("\u00e9t\u00e9\u263a"));
}

TEST_F(SymbolTest, ComparedAndConcatenatedAsText) {
    Cell abc = symbol::get(symbol::make("abc"));
    Cell ABC = symbol::get(symbol::make("ABC"));
    Cell abd = symbol::get(symbol::make("abd"));
    EXPECT_TRUE(actions::compare(abc, ABC, actions::equal));
    EXPECT_FALSE(actions::compare(abc, ABC, actions::strict_equal));
    EXPECT_TRUE(actions::compare(abc, abd, actions::lesser));
    EXPECT_EQ(actions::compare_direct(abc, Cell{T_integer, 0, 1, 0}, actions::equal), actions::not_comparable);

    // String routines take a symbol as the text of its spelling.
    Cell* out = str("x-");
    Cell sym = *symbol::record(symbol::make("s\u00fcm"));  // text cache not made yet
    sym.w2 = 0;
    string::concatenate(*out, sym, -1, 0, false, string::append_mode);
    EXPECT_EQ(text(*out), "x-s\u00fcm");
    EXPECT_EQ(string::compare_values(*str("S\u00dcM"), sym, actions::equal, false), 0);
}

TEST_F(SymbolTest, RuntimeWordsKeepTheirOrderAndSpelling) {
    // The new spellings of the symbol list got consecutive ids in list order; spellings seen
    // before (datatype names, repeated entries) kept theirs.
    std::vector<uint32_t> ids = {
#define WORD_SYMBOL(ident, text) words::symbols::ident,
#define WORD_GLOBAL(ident, text)
#define WORD_LOAD(ident, text)
#define WORD_REFINEMENT(ident, text)
#include "runtime/defs/words.def"
#undef WORD_SYMBOL
#undef WORD_GLOBAL
#undef WORD_LOAD
#undef WORD_REFINEMENT
    };
    ASSERT_EQ(ids.size(), 113u);
    uint32_t next = words::symbols::spec;
    uint32_t fresh = 0;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        bool repeated = std::find(ids.begin(), ids.begin() + i, ids[i]) != ids.begin() + i;
        if (repeated || ids[i] < words::symbols::spec) continue;
        ASSERT_EQ(ids[i], next) << i;
        ++next;
        ++fresh;
    }
    EXPECT_GT(fresh, 100u);
    EXPECT_LT(words::symbols::logic, words::symbols::spec);  // the datatype name came first
    EXPECT_EQ(spelled(words::symbols::logic), "logic!");

    // Repeated names: the same symbol, each global holding it.
    EXPECT_EQ(words::symbols::code, words::symbols::code_2);
    EXPECT_EQ(words::globals::collect.w2, words::globals::collect_2.w2);
    EXPECT_EQ(words::globals::collect.w3, words::globals::collect_2.w3);
    EXPECT_EQ(words::loaded::throw_.w2, words::loaded::throw_2.w2);
    struct Twice {
        uint32_t symbol;
        const Cell& word;
    } twice[] = {{words::symbols::head, words::loaded::head},     {words::symbols::put, words::loaded::put},
                 {words::symbols::skip, words::loaded::skip},     {words::symbols::exit, words::loaded::exit},
                 {words::symbols::return_, words::loaded::return_}, {words::symbols::type, words::loaded::type},
                 {words::symbols::user, words::loaded::user}};
    for (const Twice& t : twice) EXPECT_EQ(t.symbol, t.word.w2) << spelled(t.symbol);
    EXPECT_EQ(words::refinements::local.w2, words::loaded::local.w2);

    EXPECT_EQ(spelled(words::loaded::put_ed.w2), "put-ed");
    EXPECT_EQ(spelled(words::loaded::swaped.w2), "swaped");
    EXPECT_EQ(spelled(words::loaded::anon_tag.w2), "<anon>");
    EXPECT_EQ(spelled(words::symbols::bar), "|");

    // Global words are bound to the global context at their own slot.
    for (const Cell* w : {&words::globals::Linux, &words::loaded::appended, &words::loaded::on_deep_change_x}) {
        EXPECT_EQ(cell::type(*w), uint32_t(T_word));
        EXPECT_EQ(w->w1, context::global());
        EXPECT_EQ(context::find_word(context::global(), w->w2, false), static_cast<int32_t>(w->w3));
    }
    EXPECT_EQ(cell::type(words::refinements::extern_), uint32_t(T_refinement));
    EXPECT_EQ(words::refinements::extern_.w1, 0u);
    EXPECT_EQ(cell::type(words::ooo_issue), uint32_t(T_issue));
    EXPECT_EQ(spelled(words::ooo_issue.w2), "ooo");
}

TEST_F(SymbolTest, DatatypeNameWords) {
    for (uint32_t id : {uint32_t(T_datatype), uint32_t(T_integer), uint32_t(T_symbol), uint32_t(T_set_word)}) {
        uint32_t sym = datatype::types[id].name_symbol;
        ASSERT_NE(sym, 0u) << id;
        EXPECT_EQ(spelled(sym), datatype::types[id].name);
        EXPECT_GE(context::find_word(context::global(), sym, false), 0);
    }
    // A type registered once the global context exists gets its word at once.
    datatype::register_type({.id = 55, .parent = 0, .name = "late-type!", .rest = datatype::Rest::empty,
                             .mark = nullptr, .actions = {}});
    ASSERT_NE(datatype::types[55].name_symbol, 0u);
    EXPECT_EQ(spelled(datatype::types[55].name_symbol), "late-type!");
}
