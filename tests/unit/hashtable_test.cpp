// Hash tables: the hash functions, table sizing, the hash! index and the map kind checked
// against a linear scan of their blocks across random changes, the integer kinds and the heap
// map against std::map, and the refresh limit. With the gc-stress preset every allocation
// collects and moves buffers, so stale pointers show up here.
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <vector>

#include "runtime/cells.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/families.h"
#include "runtime/hashtable.h"
#include "runtime/interpreter/actions.h"
#include "runtime/series_buffer.h"
#include "tests/unit/harness.h"

using namespace kov;
using namespace kov::test;
using memory::Node;
namespace ht = kov::hashtable;

namespace {

Cell* at(Node b, uint32_t i) { return cells::of(b) + i; }
void append(Node b, const Cell& c) {
    Cell copy = c;
    *series::append_cell(b) = copy;
}
Cell txt(const std::string& s) { return *str(s); }
// Text keys for the tables: string! has no comparison yet, symbol records compare as their
// texts (case folded under equal?, exact under strict-equal?).
Cell sym(const std::string& s) { return symbol::get(symbol::make(s.c_str())); }
std::string spelling(const Cell& c) {
    return std::string(reinterpret_cast<const char*>(memory::buffer(c.w3)->head_ptr()), memory::buffer(c.w3)->used());
}

// Buckets whose state is live, read from the flag array.
uint32_t live_buckets(Node t) {
    ht::Record* r = ht::record(t);
    auto f = reinterpret_cast<const uint32_t*>(memory::buffer(r->flags)->head_ptr());
    uint32_t n = 0;
    for (uint32_t i = 0; i < r->bucket_count; ++i) n += ((f[i >> 4] >> ((i & 15) * 2)) & 3) == 0;
    return n;
}

bool matches(const Cell& c, const Cell& key, int32_t op) {
    return cell::type(c) == cell::type(key) && actions::compare(c, key, op);
}

// The answer of the hash! search, computed by walking the block.
int32_t scan(Node b, const Cell& key, int32_t start, int32_t skip, int32_t op, bool backwards) {
    int64_t n = cells::count(b);
    if (!backwards) {
        for (int64_t i = start; i < n; i += skip)
            if (matches(*at(b, static_cast<uint32_t>(i)), key, op)) return static_cast<int32_t>(i);
    } else {
        for (int64_t i = int64_t(start) - 1; i >= 0; i -= skip)
            if (i < n && matches(*at(b, static_cast<uint32_t>(i)), key, op)) return static_cast<int32_t>(i);
    }
    return -1;
}

}  // namespace

using HashTable = Runtime;

TEST_F(HashTable, MurmurKnownVectors) {
    struct Case {
        const char* text;
        uint32_t seed, hash;
    } cases[] = {
        {"", 0, 0},
        {"", 1, 0x514E28B7},
        {"", 0xFFFFFFFF, 0x81F16F39},
        {"a", 0x9747B28C, 0x7FA09EA6},
        {"aa", 0x9747B28C, 0x5D211726},
        {"aaa", 0x9747B28C, 0x283E0130},
        {"aaaa", 0x9747B28C, 0x5A97808A},
        {"abcd", 0x9747B28C, 0xF0478627},
        {"Hello, world!", 0x9747B28C, 0x24884CBA},
        {"The quick brown fox jumps over the lazy dog", 0x9747B28C, 0x2FA826CD},
    };
    for (const Case& c : cases) EXPECT_EQ(ht::murmur3(c.text, std::strlen(c.text), c.seed), c.hash) << c.text;
    // The zero key: four zero bytes.
    EXPECT_EQ(ht::murmur3("\0\0\0\0", 4, 0), 0x2362F9DEu);
    EXPECT_EQ(ht::murmur3_lower("HeLLo", 5), ht::murmur3("hello", 5));
    EXPECT_EQ(ht::round_pow2(0), 1u);
    EXPECT_EQ(ht::round_pow2(5), 8u);
    EXPECT_EQ(ht::round_pow2(8), 8u);
    EXPECT_EQ(ht::round_pow2(0x40000001), 0x80000000u);
}

TEST_F(HashTable, ValueHashes) {
    Cell none{T_none, 0, 0, 0}, unset{T_unset, 0, 0, 0};
    EXPECT_EQ(ht::hash_value(none, false), 0xFFFFFFFFu);
    EXPECT_EQ(ht::hash_value(unset, false), 0xFFFFFFFEu);

    Cell pz{T_float_, 0, 0, 0}, nz{T_float_, 0, 0, 0};
    cell::set_double(pz, 0.0);
    cell::set_double(nz, -0.0);
    EXPECT_EQ(ht::hash_value(pz, false), ht::hash_value(nz, false));
    Cell pct = nz;
    cell::set_type(pct, T_percent);
    EXPECT_EQ(ht::hash_value(pct, false), ht::hash_value(pz, false));

    // Strings: case folded unless asked, independent of the unit width.
    EXPECT_EQ(ht::hash_value(txt("abc"), false), ht::hash_value(txt("ABC"), false));
    EXPECT_NE(ht::hash_value(txt("abc"), true), ht::hash_value(txt("ABC"), true));
    Cell* wide = str("\u00e9t\u00e9");
    string::append_char(wide->w2, 0x100);
    string::remove_char(*wide, 3);  // back to the same three characters, now 2 bytes each
    ASSERT_EQ(unit_of(*wide), 2u);
    EXPECT_EQ(ht::hash_value(*wide, true), ht::hash_value(txt("\u00e9t\u00e9"), true));
    // From the index on; a partial range hashes only its count.
    Cell s = txt("xxabc");
    s.w1 = 2;
    EXPECT_EQ(ht::hash_value(s, false), ht::hash_value(txt("abc"), false));
    Cell part = txt("abcdef");
    part.header = string::partial_type;
    part.w3 = 3;
    EXPECT_EQ(ht::hash_value(part, false), ht::hash_value(txt("abc"), false));

    // Blocks hash by identity: same content, different series, different hash.
    Node b1 = memory::alloc_cells(2), b2 = memory::alloc_cells(2);
    append(b1, integer::make(1));
    append(b2, integer::make(1));
    EXPECT_NE(ht::hash_value(Cell{T_block, 0, b1, 0}, false), ht::hash_value(Cell{T_block, 0, b2, 0}, false));

    // Word types hash by their case-folded symbol.
    uint32_t foo = symbol::make("hashfoo"), Foo = symbol::make("HashFoo");
    EXPECT_EQ(ht::hash_value(Cell{T_word, 0, foo, 0}, false), ht::hash_value(Cell{T_set_word, 0, Foo, 0}, false));
}

// The hash of every type id is part of the behaviour (the order a map or hash! gives back
// depends on it): pinned for one payload per type, so that a change to how a type hashes
// shows up here rather than in the order of some program's output.
TEST_F(HashTable, HashOfEveryTypeIsPinned) {
    // One payload for the types that read only their cell; ids past the list hash as 0.
    const std::map<uint32_t, uint32_t> pinned = {
        {1, 0x924BF7ADu},  {2, 0xFFFFFFFEu},  {3, 0xFFFFFFFFu},  {4, 0x924BF7ADu},  {5, 0x4DD0769Fu},
        {6, 0x4DD0769Fu},  {10, 0x7446B176u}, {11, 0x7446B176u}, {12, 0xA5CA0987u}, {14, 0x00000000u},
        {21, 0x8A5B0F9Cu}, {22, 0x8A5B0F9Cu}, {23, 0x00000000u}, {24, 0x00000000u}, {25, 0x4DD0769Fu},
        {26, 0x4DD0769Fu}, {27, 0x4DD0769Fu}, {28, 0x4DD0769Fu}, {29, 0x00000000u}, {30, 0x00000000u},
        {31, 0x00000000u}, {32, 0x924BF7ADu}, {33, 0x00000000u}, {34, 0x924BF7ADu},
        {36, 0x4DD0769Fu}, {37, 0xA5CA0987u}, {38, 0xA5CA0987u}, {39, 0x00000000u}, {40, 0x7446B176u},
        {42, 0x00000000u}, {43, 0xA5CA0987u}, {46, 0x7446B176u}, {47, 0x00000000u}, {48, 0x924BF7ADu},
        {49, 0x00000000u}, {51, 0x00000000u}, {52, 0x00000000u}, {53, 0x4DD0769Fu}, {54, 0x7446B176u},
        {55, 0x00000000u}, {57, 0x00000000u}, {60, 0x00000000u}, {255, 0x00000000u},
    };
    for (auto [t, h] : pinned)
        EXPECT_EQ(ht::hash_value(Cell{t, 0x01020304u, 0x0A0B0C0Du, 0x3FF80000u}, false), h) << "type " << t;

    // Texts from their index (a partial range only its count), folded unless asked.
    Cell s = txt("K\u00f6v-Text");
    s.w1 = 1;
    for (uint32_t t : std::initializer_list<uint32_t>{T_string, T_file, T_url, T_tag, T_email, T_ref}) {
        cell::set_type(s, t);
        EXPECT_EQ(ht::hash_value(s, false), 0x7D7B5E3Fu) << "type " << t;
        EXPECT_EQ(ht::hash_value(s, true), 0x5E07D25Du) << "type " << t;
    }
    cell::set_type(s, string::partial_type);
    s.w3 = 4;
    EXPECT_EQ(ht::hash_value(s, false), 0x1DEDFE57u);
    EXPECT_EQ(ht::hash_value(s, true), 0x27C83055u);

    EXPECT_EQ(ht::hash_value(sym("Hash-Pin"), false), 0x58B25748u);
    Node bin = memory::alloc_bytes(4);
    std::memcpy(memory::buffer(bin)->head_ptr(), "\x01\x02\xFE\xFF", 4);
    memory::buffer(bin)->tail = memory::buffer(bin)->head + 4;
    EXPECT_EQ(ht::hash_value(Cell{T_binary, 1, bin, 0}, false), 0x78005BF7u);
    // Vectors by their elements' values from the index: equal vectors of two widths alike.
    Node v32 = memory::alloc_series(3, 4, 0);
    const int32_t words[3] = {7, 1, -1};
    std::memcpy(memory::buffer(v32)->head_ptr(), words, 12);
    memory::buffer(v32)->tail = memory::buffer(v32)->head + 12;
    Node v8 = memory::alloc_series(3, 1, 0);
    std::memcpy(memory::buffer(v8)->head_ptr(), "\x09\x01\xFF", 3);
    memory::buffer(v8)->tail = memory::buffer(v8)->head + 3;
    EXPECT_EQ(ht::hash_value(Cell{T_vector, 1, v32, T_integer}, false), 0x47FC78DAu);
    EXPECT_EQ(ht::hash_value(Cell{T_vector, 1, v8, T_integer}, false), 0x47FC78DAu);

    // Every word type hashes as the integer of its canonical symbol, whatever its spelling.
    uint32_t spelled = symbol::make("Hash-Pin-Word");
    uint32_t canonical = ht::hash_value(Cell{T_integer, 0, symbol::resolve(symbol::make("hash-pin-word")), 0}, false);
    for (uint32_t t = 1; t <= 56; ++t) {
        if (!in(t, ALL_WORD)) continue;
        EXPECT_EQ(ht::hash_value(Cell{t, 0, spelled, 0}, false), canonical) << "type " << t;
    }
}

TEST_F(HashTable, SizingOfSmallTables) {
    for (uint64_t n : {0u, 3u}) {
        Node t = ht::make(n, 0, ht::map, 0);
        EXPECT_EQ(ht::record(t)->bucket_count, 8u);
        EXPECT_EQ(ht::record(t)->upper, 6u);
    }
    Node t = ht::make(1000, 0, ht::ownership, 3);
    EXPECT_EQ(ht::record(t)->aux, 64u);  // key cell and three values
    EXPECT_EQ(ht::record(t)->stamp, 1 + ht::evacuations());
}

// The hash! index against a scan of its block: inserts, removals, moves, re-indexing and
// searches forwards, in reverse and from the last cell, with skips and comparison codes.
TEST_F(HashTable, HashIndexMatchesLinearScan) {
    CollectorOn on;
    std::mt19937 rng(7);
    Node block = memory::alloc_cells(8);
    collector::RootNode keep_block(block);
    Node keys = memory::alloc_cells(16);
    collector::RootNode keep_keys(keys);
    for (const char* k : {"k1", "K1", "k2", "K2", "kk", "x"}) append(keys, sym(k));
    for (int i = 0; i < 6; ++i) append(keys, integer::make(i));
    auto random_key = [&] { return *at(keys, rng() % cells::count(keys)); };

    for (int i = 0; i < 10; ++i) append(block, random_key());
    Node t = ht::make(cells::count(block), block, ht::hash_index, 0);
    ht::Root keep_table(t);

    auto index_new = [&](uint32_t from, uint32_t to) {
        for (uint32_t i = from; i < to; ++i) {
            int32_t out = 0;
            ht::get(t, i, &out);
            if (out == 2) break;  // rebuilt over the whole block
        }
    };
    const int ops = 1200;
    for (int op = 0; op < ops; ++op) {
        uint32_t n = cells::count(block);
        switch (rng() % 7) {
        case 0: case 1: {  // append
            uint32_t k = 1 + rng() % 3;
            for (uint32_t j = 0; j < k; ++j) append(block, random_key());
            index_new(n, n + k);
            break;
        }
        case 2: {  // insert in the middle
            uint32_t k = 1 + rng() % 3, p = n ? rng() % (n + 1) : 0;
            series::reserve(block, k * sizeof(Cell));
            std::memmove(at(block, p + k), at(block, p), (n - p) * sizeof(Cell));
            for (uint32_t j = 0; j < k; ++j) *at(block, p + j) = random_key();
            ASSERT_EQ(ht::refresh(t, static_cast<int32_t>(k), p, n - p, true), 0);
            index_new(p, p + k);
            break;
        }
        case 3: {  // remove (the tail included)
            if (n == 0) break;
            uint32_t p = rng() % n, k = 1 + rng() % 3;
            if (p + k > n) k = n - p;
            std::memmove(at(block, p), at(block, p + k), (n - p - k) * sizeof(Cell));
            memory::buffer(block)->tail -= k * sizeof(Cell);
            ASSERT_EQ(ht::refresh(t, -static_cast<int32_t>(k), p + k, n - p - k, true), 0);
            break;
        }
        case 4: {  // move a run of cells elsewhere
            if (n < 2) break;
            uint32_t count = 1 + rng() % std::min(3u, n - 1);
            uint32_t from = rng() % (n - count + 1), to = rng() % (n - count + 1);
            std::vector<Cell> all(at(block, 0), at(block, n));
            std::vector<Cell> run(all.begin() + from, all.begin() + from + count);
            if (to > from && to < from + count) break;
            all.erase(all.begin() + from, all.begin() + from + count);
            all.insert(all.begin() + to, run.begin(), run.end());
            std::copy(all.begin(), all.end(), at(block, 0));
            ht::move_range(t, from, to, count);
            break;
        }
        case 5: {  // re-order a tail and index it again (as sort does)
            if (n == 0) break;
            uint32_t p = rng() % n;
            std::vector<Cell> part(at(block, p), at(block, n));
            std::shuffle(part.begin(), part.end(), rng);
            ht::remove_range(t, p, n - p);
            std::copy(part.begin(), part.end(), at(block, p));
            index_new(p, n);
            break;
        }
        case 6:  // searches only
            break;
        }
        ASSERT_EQ(live_buckets(t), ht::record(t)->size) << "op " << op;
        for (int s = 0; s < 4; ++s) {
            Cell key = random_key();
            int32_t start = static_cast<int32_t>(rng() % (cells::count(block) + 2));
            int32_t skip = 1 + static_cast<int32_t>(rng() % 3);
            int32_t codes[] = {actions::equal, actions::strict_equal, actions::find_equal};
            int32_t code = codes[rng() % 3];
            bool reverse = rng() % 3 == 0, last = !reverse && rng() % 3 == 0;
            if (last) start = static_cast<int32_t>(cells::count(block));
            int32_t want = scan(block, key, start, skip, code, reverse || last);
            ASSERT_EQ(ht::search(t, key, start, skip, code, reverse, last), want)
                << "op " << op << " start " << start << " skip " << skip << " code " << code << " reverse " << reverse
                << " last " << last;
        }
    }
    // Removing every cell leaves an empty table of the same size.
    uint32_t buckets = ht::record(t)->bucket_count;
    ht::remove_range(t, 0, cells::count(block));
    EXPECT_EQ(ht::record(t)->size, 0u);
    EXPECT_EQ(ht::record(t)->occupied, 0u);
    EXPECT_EQ(ht::record(t)->bucket_count, buckets);
    EXPECT_EQ(ht::search(t, *at(block, 0), 0, 1, actions::equal, false, false), -1);
    EXPECT_EQ(memory::verify(), nullptr);
}

// The map kind against a scan of its pair block: new keys, updates, removals (value header
// 0), revivals, growth, and searches under equal? and strict-equal?.
TEST_F(HashTable, MapKindMatchesLinearScan) {
    CollectorOn on;
    std::mt19937 rng(11);
    Node pairs = memory::alloc_cells(4);
    collector::RootNode keep_pairs(pairs);
    Node keys = memory::alloc_cells(16);
    collector::RootNode keep_keys(keys);
    std::vector<std::string> names;
    for (int i = 0; i < 40; ++i) {
        std::string s = "key" + std::to_string(i % 20);
        if (i >= 20) s[0] = 'K';
        append(keys, sym(s));
    }
    for (int i = 0; i < 20; ++i) append(keys, integer::make(i * 7));
    auto random_key = [&] { return *at(keys, rng() % cells::count(keys)); };
    Node t = ht::make(2, pairs, ht::map, 0);
    ht::Root keep_table(t);

    auto scan_map = [&](const Cell& key, int32_t op) {
        for (uint32_t i = 0; i + 1 < cells::count(pairs); i += 2)
            if (matches(*at(pairs, i), key, op)) return static_cast<int32_t>(i);
        return -1;
    };
    auto live = [&] {
        uint32_t n = 0;
        for (uint32_t i = 1; i < cells::count(pairs); i += 2) n += at(pairs, i)->header != 0;
        return n;
    };
    for (int op = 0; op < 1500; ++op) {
        Cell key = random_key();
        if (rng() % 3) {  // put
            int32_t found = ht::search(t, key, 0, 1, actions::strict_equal, false, false);
            Cell value = integer::make(op);
            if (found >= 0) {
                if (at(pairs, found + 1)->header == 0) ++ht::record(t)->size;  // revived in place
                *at(pairs, found + 1) = value;
            } else {
                append(pairs, key);
                append(pairs, value);
                ASSERT_EQ(ht::enter(t, cells::count(pairs) - 2), static_cast<int32_t>(cells::count(pairs) - 2));
            }
        } else {  // remove
            int32_t found = ht::search(t, key, 0, 1, actions::strict_equal, false, false);
            if (found >= 0) ht::remove_cell(t, static_cast<uint32_t>(found));
        }
        ASSERT_EQ(ht::record(t)->size, live()) << "op " << op;
        Cell probe = random_key();
        for (int32_t code : {actions::equal, actions::strict_equal})
            ASSERT_EQ(ht::search(t, probe, 0, 1, code, false, false), scan_map(probe, code)) << "op " << op;
        // The resumable search yields every equal key once.
        std::set<int32_t> got, want;
        ht::Probe state;
        for (int32_t i; (i = ht::find_next(t, probe, state)) >= 0;) ASSERT_TRUE(got.insert(i).second);
        for (uint32_t i = 0; i + 1 < cells::count(pairs); i += 2)
            if (matches(*at(pairs, i), probe, actions::equal)) want.insert(static_cast<int32_t>(i));
        ASSERT_EQ(got, want) << "op " << op;
    }
    EXPECT_GT(ht::record(t)->bucket_count, 8u);  // it grew
    EXPECT_EQ(memory::verify(), nullptr);
}

TEST_F(HashTable, MapBuiltFromBlockKeepsLastValueOfRepeatedKey) {
    Node pairs = memory::alloc_cells(8);
    collector::RootNode keep(pairs);
    append(pairs, sym("a"));
    append(pairs, integer::make(1));
    append(pairs, sym("b"));
    append(pairs, integer::make(2));
    append(pairs, sym("a"));
    append(pairs, integer::make(3));
    append(pairs, sym("A"));  // only equal, not strictly: a separate entry
    append(pairs, integer::make(4));
    Node t = ht::make(4, pairs, ht::map, 0);
    ASSERT_EQ(cells::count(pairs), 6u);
    EXPECT_EQ(ht::record(t)->size, 3u);
    EXPECT_EQ(spelling(*at(pairs, 0)), "a");
    EXPECT_EQ(integer::get(*at(pairs, 1)), 3);
    EXPECT_EQ(spelling(*at(pairs, 2)), "b");
    EXPECT_EQ(spelling(*at(pairs, 4)), "A");
    EXPECT_EQ(ht::search(t, sym("A"), 0, 1, actions::strict_equal, false, false), 4);
    EXPECT_EQ(ht::search(t, sym("A"), 0, 1, actions::equal, false, false), 0);
}

TEST_F(HashTable, CopyOfIndexIsIndependent) {
    Node block = memory::alloc_cells(8);
    collector::RootNode keep(block);
    for (int v : {1, 2, 1, 3}) append(block, integer::make(v));
    Node t = ht::make(4, block, ht::hash_index, 0);
    ht::Root keep_t(t);
    Node block2 = memory::copy_series(block);
    collector::RootNode keep2(block2);
    Node t2 = ht::copy(t, block2);
    ht::Root keep_t2(t2);
    // Un-index the second 1 in the copy only.
    ht::remove_cell(t2, 2);
    EXPECT_EQ(ht::search(t, integer::make(1), 1, 1, actions::equal, false, false), 2);
    EXPECT_EQ(ht::search(t2, integer::make(1), 1, 1, actions::equal, false, false), -1);
    EXPECT_EQ(ht::search(t2, integer::make(1), 0, 1, actions::equal, false, false), 0);
    ht::clear(t2);
    EXPECT_EQ(ht::record(t2)->size, 0u);
    EXPECT_EQ(cells::count(block2), 0u);
    EXPECT_EQ(ht::search(t, integer::make(3), 0, 1, actions::equal, false, false), 3);
}

TEST_F(HashTable, GrowKeepsEveryEntry) {
    Node block = memory::alloc_cells(40);
    collector::RootNode keep(block);
    for (int pass = 0; pass < 2; ++pass)
        for (int v = 0; v < 20; ++v) append(block, integer::make(v));
    Node t = ht::make(40, block, ht::hash_index, 0);
    ht::Root keep_t(t);
    uint32_t before = ht::record(t)->bucket_count;
    ht::grow(t, before / 2);  // not larger: nothing
    EXPECT_EQ(ht::record(t)->bucket_count, before);
    ht::grow(t, 1000);
    EXPECT_EQ(ht::record(t)->bucket_count, 1024u);
    EXPECT_EQ(live_buckets(t), 20u);
    for (int v = 0; v < 20; ++v) {
        EXPECT_EQ(ht::search(t, integer::make(v), 0, 1, actions::equal, false, false), v);
        EXPECT_EQ(ht::search(t, integer::make(v), v + 1, 1, actions::equal, false, false), v + 20);
        EXPECT_EQ(ht::search(t, integer::make(v), 40, 1, actions::equal, false, true), v + 20);
    }

    Node pairs = memory::alloc_cells(8);
    collector::RootNode keep_pairs(pairs);
    for (int v = 0; v < 10; ++v) {
        append(pairs, integer::make(v * 3));
        append(pairs, integer::make(v));
    }
    Node m = ht::make(10, pairs, ht::map, 0);
    ht::Root keep_m(m);
    ht::grow(m, 100);
    EXPECT_EQ(ht::record(m)->bucket_count, 128u);
    for (int v = 0; v < 10; ++v) EXPECT_EQ(ht::search(m, integer::make(v * 3), 0, 1, actions::strict_equal, false, false), 2 * v);

    Node ints = ht::make(8, 0, ht::integer, 1);
    ht::Root keep_ints(ints);
    for (uint32_t k = 0; k < 50; ++k) *ht::put_int_key(ints, k) = integer::make(static_cast<int32_t>(k));
    for (uint32_t k = 0; k < 50; k += 5) ht::remove_int_key(ints, k);
    ht::grow(ints, 500);
    EXPECT_EQ(ht::record(ints)->bucket_count, 512u);
    EXPECT_EQ(live_buckets(ints), 40u);
    for (uint32_t k = 0; k < 50; ++k) {
        Cell* v = ht::get_int_key(ints, k);
        ASSERT_EQ(v != nullptr, k % 5 != 0) << k;
        if (v) {
            EXPECT_EQ(integer::get(*v), static_cast<int32_t>(k));
        }
    }
}

TEST_F(HashTable, RefreshLimit) {
    const uint32_t n = ht::refresh_limit + 1;
    Node block = memory::alloc_cells(n + 1);
    collector::RootNode keep(block);
    for (uint32_t i = 0; i < n; ++i) append(block, integer::make(static_cast<int32_t>(i)));
    Node t = ht::make(n + 1, block, ht::hash_index, 0);
    ht::Root keep_t(t);
    // Inserting before all n cells: too many to adjust, nothing is changed.
    uint32_t size = ht::record(t)->size;
    EXPECT_EQ(ht::refresh(t, 1, 0, n, true), 1);
    EXPECT_EQ(ht::record(t)->size, size);
    EXPECT_EQ(ht::search(t, integer::make(0), 0, 1, actions::equal, false, false), 0);
    // Exactly the limit is adjusted in place.
    series::reserve(block, sizeof(Cell));
    std::memmove(at(block, 2), at(block, 1), (n - 1) * sizeof(Cell));
    *at(block, 1) = integer::make(-5);
    EXPECT_EQ(ht::refresh(t, 1, 1, ht::refresh_limit, true), 0);
    ht::enter(t, 1);
    EXPECT_EQ(ht::search(t, integer::make(1), 0, 1, actions::equal, false, false), 2);
    EXPECT_EQ(ht::search(t, integer::make(30000), 0, 1, actions::equal, false, false), 30001);
    EXPECT_EQ(ht::search(t, integer::make(-5), 0, 1, actions::equal, false, false), 1);
}

// Integer keys against std::map, with enough deletions to force compaction, and a re-hash
// after node ids were declared moved.
TEST_F(HashTable, IntegerKindMatchesMap) {
    CollectorOn on;
    std::mt19937 rng(3);
    Node t = ht::make(8, 0, ht::integer, 1);
    ht::Root keep(t);
    std::map<uint32_t, int32_t> model;
    for (int op = 0; op < 4000; ++op) {
        uint32_t key = rng() % 300;
        if (rng() % 3) {
            Cell* v = ht::put_int_key(t, key);
            EXPECT_EQ(cell::type(*v), uint32_t(T_unset));
            *v = integer::make(op);
            model[key] = op;
        } else {
            Cell* v = ht::remove_int_key(t, key);
            EXPECT_EQ(v != nullptr, model.erase(key) == 1);
        }
        if (op == 2000) ht::note_evacuation();  // the next operation re-hashes in place
        ASSERT_EQ(ht::record(t)->size, model.size());
        ASSERT_EQ(live_buckets(t), model.size()) << "op " << op;
    }
    EXPECT_EQ(ht::record(t)->stamp, 1 + ht::evacuations());
    for (uint32_t key = 0; key < 300; ++key) {
        Cell* v = ht::get_int_key(t, key);
        auto it = model.find(key);
        ASSERT_EQ(v != nullptr, it != model.end()) << key;
        if (v) {
            EXPECT_EQ(integer::get(*v), it->second);
        }
    }
    uint32_t visited = 0;
    ht::for_each_int(t, [&](uint32_t key, Cell* v) {
        ++visited;
        EXPECT_EQ(integer::get(*v), model[key]);
    });
    EXPECT_EQ(visited, model.size());
}

TEST_F(HashTable, IntegerKindKeepsItsValuesAlive) {
    CollectorOn on;
    Node t = ht::make(8, 0, ht::integer, 1);
    ht::Root keep(t);
    // A word bound to a context that nothing else reaches.
    Node ctx = 0, dropped = 0;
    {
        ctx = context::create(2, false, false, 0, context::object_kind);
        collector::RootNode hold(ctx);
        *ht::put_int_key(t, 1) = Cell{T_word, ctx, symbol::make("kept"), 0};
    }
    {
        dropped = context::create(2, false, false, 0, context::object_kind);
        collector::RootNode hold(dropped);
        *ht::put_int_key(t, 2) = Cell{T_word, dropped, symbol::make("kept"), 0};
    }
    ht::remove_int_key(t, 2);
    collector::collect();
    EXPECT_TRUE(context::is_context(ctx));
    EXPECT_FALSE(memory::valid_node(dropped));
}

TEST_F(HashTable, HeapMapMatchesMap) {
    std::mt19937 rng(5);
    ht::HeapMap* m = ht::heap_make(0);
    std::map<uint32_t, uint32_t> model;
    for (int op = 0; op < 20000; ++op) {
        uint32_t key = rng() % 2000;
        if (rng() % 4) {
            ht::heap_put(m, key, op);
            model[key] = op;
        } else {
            EXPECT_EQ(ht::heap_remove(m, key), model.erase(key) == 1);
        }
    }
    ASSERT_EQ(m->size, model.size());
    for (uint32_t key = 0; key < 2000; ++key) {
        uint32_t v = 0;
        bool found = ht::heap_get(m, key, v);
        ASSERT_EQ(found, model.count(key) == 1);
        if (found) {
            EXPECT_EQ(v, model[key]);
            EXPECT_EQ(*ht::find_int_value(m, key), v);
        }
    }
    ht::heap_clear(m);
    EXPECT_EQ(m->size, 0u);
    EXPECT_EQ(ht::find_int_value(m, 1), nullptr);
    ht::heap_free(m);
}
