// Record sorting: both sorts against a plain stable sort over many sizes, widths and shapes of
// input; what only a comparison counter sees (no comparison for 0 or 1 record, one pass over
// ordered or reversed input); comparisons that raise or answer at random.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "runtime/error.h"
#include "runtime/heap.h"
#include "runtime/sort.h"

using namespace kov;

namespace {

using Bytes = std::vector<uint8_t>;

// What the comparisons of one sort count and do; it travels in option word 2.
struct Probe {
    uint64_t calls = 0;
    uint64_t raise_at = 0;          // the comparison that raises (0: none)
    std::mt19937* random = nullptr; // answer at random when set
    std::vector<std::pair<uint32_t, uint32_t>> seen;  // the keys compared, when logging
    bool log = false;
};

uint32_t key_of(const void* record) {
    uint32_t k;
    std::memcpy(&k, record, 4);
    return k;
}

// By the 32-bit key at the start of the record; option word 1 set means descending.
int32_t by_key(const void* a, const void* b, uintptr_t descending, uintptr_t probe_word) {
    auto probe = reinterpret_cast<Probe*>(probe_word);
    if (probe) {
        ++probe->calls;
        if (probe->log) probe->seen.push_back({key_of(a), key_of(b)});
        if (probe->calls == probe->raise_at) error::fire(err::user_message);
        if (probe->random) {
            static const int32_t answers[] = {INT32_MIN, -1, 0, 1, INT32_MAX};
            return answers[(*probe->random)() % 5];
        }
    }
    uint32_t x = key_of(a), y = key_of(b);
    int32_t c = x < y ? -1 : x > y ? 1 : 0;
    return descending ? -c : c;
}

using SortFn = void (*)(void*, std::size_t, std::size_t, uintptr_t, uintptr_t, sort::Compare);
struct Sorter {
    const char* name;
    SortFn fn;
    bool stable;
};
const Sorter sorters[] = {{"merge-sort", sort::merge_sort, true}, {"quicksort", sort::quicksort, false}};

enum Shape { random_keys, ordered, reversed, mostly_ordered, mostly_reversed, few_keys, turning };
const char* const shape_names[] = {"random", "ordered", "reversed", "mostly ordered",
                                   "mostly reversed", "few keys", "turning"};

// n records of w bytes: the key, then the record's input position (so that every record is
// told apart and the stable order is the only right answer).
Bytes make_records(std::size_t n, std::size_t w, Shape shape, std::mt19937& rng) {
    std::vector<uint32_t> keys(n);
    for (std::size_t i = 0; i < n; ++i) {
        auto u = static_cast<uint32_t>(i);
        switch (shape) {
        case random_keys: keys[i] = rng(); break;
        case ordered: case mostly_ordered: keys[i] = u; break;
        case reversed: case mostly_reversed: keys[i] = static_cast<uint32_t>(n) - u; break;
        case few_keys: keys[i] = rng() % 4; break;
        case turning: keys[i] = i < 5 ? u : static_cast<uint32_t>(2 * n) - u; break;  // up, then down
        }
    }
    if ((shape == mostly_ordered || shape == mostly_reversed) && n > 1)
        for (std::size_t k = 0; k < n / 50 + 1; ++k) std::swap(keys[rng() % n], keys[rng() % n]);
    Bytes out(n * w);
    for (std::size_t i = 0; i < n; ++i) {
        uint8_t* r = out.data() + i * w;
        std::memcpy(r, &keys[i], 4);
        uint64_t tag = i * 0x9E3779B97F4A7C15ULL + 1;
        for (std::size_t b = 4; b < w; ++b) r[b] = static_cast<uint8_t>(tag >> (8 * ((b - 4) % 8)));
    }
    return out;
}

// The oracle: the input's records in stable key order.
Bytes stable_by_key(const Bytes& input, std::size_t w) {
    std::vector<std::size_t> order(input.size() / w);
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return key_of(&input[a * w]) < key_of(&input[b * w]); });
    Bytes out(input.size());
    for (std::size_t i = 0; i < order.size(); ++i) std::memcpy(&out[i * w], &input[order[i] * w], w);
    return out;
}

// Whether a and b hold the same records, in any order.
bool same_records(const Bytes& a, const Bytes& b, std::size_t w) {
    if (a.size() != b.size()) return false;
    auto in_byte_order = [w](const Bytes& x) {
        std::vector<const uint8_t*> p;
        for (std::size_t i = 0; i < x.size(); i += w) p.push_back(&x[i]);
        std::sort(p.begin(), p.end(), [w](const uint8_t* l, const uint8_t* r) { return std::memcmp(l, r, w) < 0; });
        return p;
    };
    auto x = in_byte_order(a), y = in_byte_order(b);
    for (std::size_t i = 0; i < x.size(); ++i)
        if (std::memcmp(x[i], y[i], w) != 0) return false;
    return true;
}

std::vector<uint32_t> keys(const Bytes& bytes, std::size_t w) {
    std::vector<uint32_t> out;
    for (std::size_t i = 0; i < bytes.size(); i += w) out.push_back(key_of(&bytes[i]));
    return out;
}

}  // namespace

TEST(Sort, AgreesWithStableSortOnEveryShape) {
    std::mt19937 rng(1234);
    for (std::size_t n : {0, 1, 7, 8, 23, 24, 25, 100, 1000, 100000}) {
        for (std::size_t w : {4, 6, 16, 48}) {
            for (int shape = random_keys; shape <= turning; ++shape) {
                Bytes input = make_records(n, w, static_cast<Shape>(shape), rng);
                Bytes expected = stable_by_key(input, w);
                for (const Sorter& s : sorters) {
                    SCOPED_TRACE(std::string(s.name) + " n=" + std::to_string(n) + " w=" + std::to_string(w) +
                                 " " + shape_names[shape]);
                    Bytes records = input;
                    Probe probe;
                    std::size_t blocks = heap::block_count();
                    s.fn(n ? records.data() : nullptr, n, w, 0, reinterpret_cast<uintptr_t>(&probe), by_key);
                    EXPECT_EQ(heap::block_count(), blocks);
                    if (n < 2) {
                        EXPECT_EQ(probe.calls, 0u);
                    }
                    if (s.stable) {
                        ASSERT_TRUE(records == expected);
                    } else {
                        ASSERT_TRUE(keys(records, w) == keys(expected, w));
                        ASSERT_TRUE(same_records(records, input, w));
                    }
                }
            }
        }
    }
}

// Ordered and reversed input cost one comparison per neighbouring pair and nothing else: for
// the merge sort that is one run (reversed once) and no merge at all.
TEST(Sort, OrderedOrReversedInputIsOnePass) {
    std::mt19937 rng(7);
    for (Shape shape : {ordered, reversed}) {
        Bytes input = make_records(1000, 8, shape, rng);
        for (const Sorter& s : sorters) {
            SCOPED_TRACE(std::string(s.name) + " " + shape_names[shape]);
            Bytes records = input;
            Probe probe;
            s.fn(records.data(), 1000, 8, 0, reinterpret_cast<uintptr_t>(&probe), by_key);
            EXPECT_EQ(probe.calls, 999u);
            EXPECT_TRUE(records == stable_by_key(input, 8));
        }
    }
}

// Input that is nearly in order, either way, is repaired rather than sorted from scratch: far
// fewer comparisons than the 17 per record a full sort of 100000 records needs. A stray record
// ahead of its place must not stop the repair (the largest record first, or one stray record
// at the end of the leading run).
TEST(Sort, QuicksortRepairsNearlyOrderedInput) {
    const std::size_t n = 100000;
    std::mt19937 rng(3);
    auto shaped = [&](Shape shape, int stray_at) {
        Bytes records = make_records(n, 8, shape, rng);
        if (stray_at >= 0) {
            auto big = static_cast<uint32_t>(4 * n);
            std::memcpy(&records[8 * stray_at], &big, 4);
        }
        return records;
    };
    struct Case {
        const char* name;
        Bytes input;
    };
    const Case cases[] = {
        {"mostly ordered", shaped(mostly_ordered, -1)},
        {"mostly reversed", shaped(mostly_reversed, -1)},
        {"largest first", shaped(ordered, 0)},
        {"stray after 30", shaped(ordered, 30)},
        {"turning", shaped(turning, -1)},
    };
    for (const Case& c : cases) {
        Bytes records = c.input;
        Probe probe;
        sort::quicksort(records.data(), n, 8, 0, reinterpret_cast<uintptr_t>(&probe), by_key);
        EXPECT_LT(probe.calls, 4 * n) << c.name;
        EXPECT_TRUE(keys(records, 8) == keys(stable_by_key(c.input, 8), 8)) << c.name;
    }
}

// Pairs sorted by their first element keep the input order of equal ones, in either direction
// (option word 1 reaches the comparison untouched).
TEST(Sort, MergeSortIsStable) {
    std::mt19937 rng(99);
    for (std::size_t n : {30, 1000, 100000}) {
        for (uintptr_t descending : {0, 1}) {
            std::vector<uint32_t> pairs(2 * n);
            for (std::size_t i = 0; i < n; ++i) {
                pairs[2 * i] = rng() % 10;
                pairs[2 * i + 1] = static_cast<uint32_t>(i);
            }
            sort::merge_sort(pairs.data(), n, 8, descending, 0, by_key);
            for (std::size_t i = 1; i < n; ++i) {
                uint32_t a = pairs[2 * i - 2], b = pairs[2 * i];
                ASSERT_TRUE(descending ? a >= b : a <= b) << i;
                if (a == b) {
                    ASSERT_LT(pairs[2 * i - 1], pairs[2 * i + 1]) << i;
                }
            }
        }
    }
}

TEST(Sort, FindRunReversesOnlyStrictDescents) {
    struct Case {
        std::vector<uint32_t> keys;
        std::size_t run;
        std::vector<uint32_t> after;
    };
    const Case cases[] = {
        {{5}, 1, {5}},
        {{2, 1}, 2, {1, 2}},
        {{1, 2, 2, 3, 1}, 4, {1, 2, 2, 3, 1}},
        {{3, 2, 1, 1, 0}, 3, {1, 2, 3, 1, 0}},  // an equal pair ends a descent
        {{4, 3, 2, 1}, 4, {1, 2, 3, 4}},
    };
    const sort::Order order{4, 0, 0, by_key};
    for (const Case& c : cases) {
        std::vector<uint32_t> k = c.keys;
        auto start = reinterpret_cast<uint8_t*>(k.data());
        uint8_t* end = sort::find_run(start, start + 4 * k.size(), order);
        EXPECT_EQ(static_cast<std::size_t>(end - start) / 4, c.run);
        EXPECT_EQ(k, c.after);
    }
}

// Both directions of merging keep equal records in input order, and need room for the shorter
// range only (the buffer is exactly that large, so an overrun is caught by the sanitizer).
TEST(Sort, MergeIsStableAndUsesTheShorterRange) {
    struct Case {
        std::vector<uint32_t> first, second;  // keys; the record's second word is its position
    };
    const Case cases[] = {
        {{1, 2, 2, 5, 7}, {2, 2, 6}},  // second shorter: merged from the back
        {{2, 2}, {1, 2, 2, 3}},        // first shorter: from the front
        {{2, 4}, {1, 3}},
        {{9}, {1, 2, 3}},
        {{1, 2, 3}, {0}},
    };
    const sort::Order order{8, 0, 0, by_key};
    for (const Case& c : cases) {
        std::vector<uint32_t> records;
        uint32_t position = 0;
        for (uint32_t k : c.first) records.insert(records.end(), {k, position++});
        for (uint32_t k : c.second) records.insert(records.end(), {k, position++});
        std::vector<std::pair<uint32_t, uint32_t>> expected;
        for (std::size_t i = 0; i < records.size(); i += 2) expected.push_back({records[i], records[i + 1]});
        std::stable_sort(expected.begin(), expected.end(), [](auto& a, auto& b) { return a.first < b.first; });

        Bytes work(8 * std::min(c.first.size(), c.second.size()));
        auto start = reinterpret_cast<uint8_t*>(records.data());
        sort::merge(start, start + 8 * c.first.size(), start + 4 * records.size(), work.data(), order);
        for (std::size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(records[2 * i], expected[i].first);
            EXPECT_EQ(records[2 * i + 1], expected[i].second);
        }
    }
}

// Seven records go straight to insertion sort (the first comparison is of the first two);
// eight are partitioned first (the middle record is brought to second place for the median).
TEST(Sort, PartitioningStartsAtEightRecords) {
    const sort::Order plain{4, 0, 0, by_key};
    for (std::size_t n : {7, 8}) {
        std::vector<uint32_t> k = {50, 20, 70, 10, 40, 60, 30, 80};
        k.resize(n);
        Probe probe;
        probe.log = true;
        sort::Order order = plain;
        order.option2 = reinterpret_cast<uintptr_t>(&probe);
        sort::partition_sort(reinterpret_cast<uint8_t*>(k.data()), n, 0, order);
        ASSERT_FALSE(probe.seen.empty());
        auto first = std::make_pair(50u, n == 7 ? 20u : 40u);
        EXPECT_EQ(probe.seen[0], first) << n;
        EXPECT_TRUE(std::is_sorted(k.begin(), k.end())) << n;
    }
}

TEST(Sort, WorkBufferSizeIsChecked) {
    struct Case {
        std::size_t n, w;
        err::Id id;
    };
    const Case cases[] = {
        {(std::size_t(1) << 32) + 2, 1, err::script_too_long},  // n / 2 × w needs 32 bits
        {SIZE_MAX, 16, err::script_too_long},                    // overflows 64 bits
        {2 * std::size_t(0x0FFFFFFF), 8, err::internal_no_memory},  // fits 31 bits, too big a block
    };
    for (const Case& c : cases) {
        uint8_t dummy[16] = {};
        Probe probe;
        try {
            sort::merge_sort(dummy, c.n, c.w, 0, reinterpret_cast<uintptr_t>(&probe), by_key);
            ADD_FAILURE() << "no error for n=" << c.n;
        } catch (const Error& e) {
            EXPECT_EQ(e.id, c.id);
        }
        EXPECT_EQ(probe.calls, 0u);
    }
}

// A comparison that raises, at the first, a middle or the last comparison a sort needs: the
// error passes through, the records are still the input's, and the work buffer is freed.
TEST(Sort, RaisingComparisonKeepsEveryRecord) {
    std::mt19937 rng(5);
    for (const Sorter& s : sorters) {
        for (std::size_t n : {100, 3000}) {
            for (Shape shape : {random_keys, mostly_ordered, few_keys}) {
                Bytes input = make_records(n, 12, shape, rng);
                Probe count;
                Bytes sorted = input;
                s.fn(sorted.data(), n, 12, 0, reinterpret_cast<uintptr_t>(&count), by_key);
                for (uint64_t at : {uint64_t(1), uint64_t(2), count.calls / 7, count.calls / 2, count.calls}) {
                    SCOPED_TRACE(std::string(s.name) + " n=" + std::to_string(n) + " " + shape_names[shape] +
                                 " raise at " + std::to_string(at));
                    Bytes records = input;
                    Probe probe;
                    probe.raise_at = at;
                    std::size_t blocks = heap::block_count();
                    EXPECT_THROW(s.fn(records.data(), n, 12, 0, reinterpret_cast<uintptr_t>(&probe), by_key), Error);
                    EXPECT_EQ(probe.calls, at);
                    EXPECT_EQ(heap::block_count(), blocks);
                    EXPECT_TRUE(same_records(records, input, 12));
                }
            }
        }
    }
}

// Random answers: the sorts end, stay inside the records and lose or duplicate nothing.
TEST(Sort, RandomComparisonKeepsEveryRecord) {
    std::mt19937 rng(11);
    for (const Sorter& s : sorters) {
        for (std::size_t n : {2, 8, 30, 100, 1000, 100000}) {
            for (std::size_t w : {5, 16}) {
                for (Shape shape : {random_keys, ordered}) {
                    SCOPED_TRACE(std::string(s.name) + " n=" + std::to_string(n) + " w=" + std::to_string(w));
                    Bytes input = make_records(n, w, shape, rng);
                    Bytes records = input;
                    Probe probe;
                    probe.random = &rng;
                    s.fn(records.data(), n, w, 0, reinterpret_cast<uintptr_t>(&probe), by_key);
                    EXPECT_TRUE(same_records(records, input, w));
                }
            }
        }
    }
}

namespace {
// By the signed 32-bit key at byte offset option1 >> 1; the low bit of option1 set: descending.
int32_t by_signed_key(const void* a, const void* b, uintptr_t option, uintptr_t) {
    int32_t x, y;
    std::memcpy(&x, static_cast<const uint8_t*>(a) + (option >> 1), 4);
    std::memcpy(&y, static_cast<const uint8_t*>(b) + (option >> 1), 4);
    if (option & 1) std::swap(x, y);
    return x < y ? -1 : x > y ? 1 : 0;
}
}  // namespace

// The quicksort over a signed 32-bit key reads the key itself; it must leave the records in
// exactly the order the quicksort gives with that comparison (equal keys included, as the
// records differ in their other bytes).
TEST(Sort, Int32KeyQuicksortMatchesTheComparisonQuicksort) {
    std::mt19937 rng(99);
    for (std::size_t n : {0, 1, 2, 7, 8, 9, 100, 1000, 30000}) {
        for (std::size_t w : {4, 16, 48}) {
            for (std::size_t offset : {0, 8}) {
                if (offset + 4 > w) continue;
                for (int shape = random_keys; shape <= turning; ++shape) {
                    Bytes input = make_records(n, w, static_cast<Shape>(shape), rng);
                    if (offset) {
                        // The key moves to the offset; the bytes before it keep the record apart.
                        for (std::size_t i = 0; i < n; ++i) std::swap_ranges(&input[i * w], &input[i * w] + 4, &input[i * w + offset]);
                    }
                    for (bool descending : {false, true}) {
                        SCOPED_TRACE("n=" + std::to_string(n) + " w=" + std::to_string(w) + " offset=" +
                                     std::to_string(offset) + " " + shape_names[shape] + (descending ? " descending" : ""));
                        Bytes expected = input;
                        sort::quicksort(n ? expected.data() : nullptr, n, w, (offset << 1) | (descending ? 1 : 0), 0,
                                        by_signed_key);
                        Bytes records = input;
                        sort::quicksort_int32(n ? records.data() : nullptr, n, w, offset, descending);
                        ASSERT_TRUE(records == expected);
                    }
                }
            }
        }
    }
}
