// Sorting of fixed-size records (see sort.h for the contract with callers).
//
// Both sorts move records only by swapping or, in a merge, by copying between the records and
// the work buffer, so a comparison that raises midway can at worst interrupt a merge: the
// merge's guard then puts the buffered records back into the gap they left, and the records
// stay a permutation of the input. Every loop bound depends on positions alone, never on what
// the comparison answered, so inconsistent answers cost order, not safety.
//
// merge_sort and sort_int32_values allocate their work buffers on the tracked heap; nothing
// else allocates.
#include "runtime/sort.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "runtime/error.h"
#include "runtime/heap.h"
#include "runtime/memory.h"

namespace kov::sort {

namespace {

constexpr std::size_t min_run = 24;             // shorter natural runs are extended by insertion
constexpr std::size_t probe_step = 97;          // quicksort pre-scan: one probe per this many pairs
constexpr std::size_t ordered_share = 512;      // |score| above n / this: mostly ordered
constexpr std::size_t repair_step = 10;         // the repair pass looks at stretches this long
constexpr std::size_t repair_min_stretch = 4;   // shorter ordered stretches stay behind
constexpr std::size_t median_window = 63;       // median of three taken among this many records
constexpr std::size_t median_window_from = 512; // ... when the range has at least this many
constexpr std::size_t sample_reach = 256;       // a sample of h covers up to this many × h records
constexpr std::size_t sample_growth = 16;       // a span grows the sample to 16 × h − 1 records
constexpr std::size_t insertion_below = 8;      // smaller ranges are finished by insertion
constexpr std::size_t min_sample = 3;           // fewer sorted records: median of three instead
constexpr uint64_t work_size_limit = 0x7FFFFFFF;  // the work buffer's size must fit in 31 bits

// How records are ordered: by the caller's comparison...
struct ByFunction {
    Order order;
    int32_t operator()(const uint8_t* a, const uint8_t* b) const { return order.compare(a, b, order.option1, order.option2); }
};

// ... or by a signed 32-bit key at a byte offset, answering as such a comparison would. Sorting
// with it gives exactly the order the same comparison through a function gives, only faster.
struct ByInt32Key {
    std::size_t offset;
    bool descending;
    int32_t operator()(const uint8_t* a, const uint8_t* b) const {
        int32_t x, y;
        std::memcpy(&x, a + offset, 4);
        std::memcpy(&y, b + offset, 4);
        if (descending) std::swap(x, y);
        return (x > y) - (x < y);
    }
};

inline void swap_records(uint8_t* p, uint8_t* q, std::size_t w, bool bytewise) {
    if (p == q) return;
    if (w == 16) {
        // One value cell, the commonest record: two words each way.
        uint64_t x[2], y[2];
        std::memcpy(x, p, 16);
        std::memcpy(y, q, 16);
        std::memcpy(p, y, 16);
        std::memcpy(q, x, 16);
        return;
    }
    std::size_t k = 0;
    if (!bytewise) {
        for (; k + 4 <= w; k += 4) {
            uint32_t x, y;
            std::memcpy(&x, p + k, 4);
            std::memcpy(&y, q + k, 4);
            std::memcpy(p + k, &y, 4);
            std::memcpy(q + k, &x, 4);
        }
    }
    for (; k < w; ++k) std::swap(p[k], q[k]);
}

// The records of one sort: addressing, comparing and swapping by index from a base.
template <class Cmp>
struct Records {
    uint8_t* base;
    std::size_t w;
    bool bytewise;
    Cmp cmp;

    Records(uint8_t* base_, std::size_t w_, const Cmp& cmp_) : base(base_), w(w_), bytewise(w_ % 4 != 0), cmp(cmp_) {}
    Records at_offset(std::size_t i) const { return Records(at(i), w, cmp); }

    uint8_t* at(std::size_t i) const { return base + i * w; }
    int32_t compare(std::size_t i, std::size_t j) const { return compare_at(at(i), at(j)); }
    int32_t compare_at(const uint8_t* a, const uint8_t* b) const { return cmp(a, b); }
    void exchange(std::size_t i, std::size_t j) const { swap_records(at(i), at(j), w, bytewise); }

    void reverse(std::size_t first, std::size_t last) const {
        while (last > first + 1) exchange(first++, --last);
    }
    // [middle, last) comes to stand before [first, middle), both keeping their order.
    void rotate(std::size_t first, std::size_t middle, std::size_t last) const {
        if (first == middle || middle == last) return;
        reverse(first, middle);
        reverse(middle, last);
        reverse(first, last);
    }
    // Moves the len records at `from` to `to`, keeping their order; the records they displace
    // stay within the two ranges' union, in some order. Linear in len and the distance.
    void place(std::size_t from, std::size_t to, std::size_t len) const {
        if (from == to || len == 0) return;
        std::size_t distance = from > to ? from - to : to - from;
        if (distance >= len) {
            for (std::size_t k = 0; k < len; ++k) exchange(from + k, to + k);
        } else if (from > to) {
            rotate(to, from, from + len);
        } else {
            rotate(from, from + len, to + len);
        }
    }
    // Insertion by swaps; records before `from` are known to be in order.
    void insertion_sort(std::size_t count, std::size_t from) const {
        for (std::size_t i = std::max<std::size_t>(from, 1); i < count; ++i)
            for (std::size_t j = i; j > 0 && compare(j - 1, j) > 0; --j) exchange(j - 1, j);
    }
};
using FunctionRecords = Records<ByFunction>;

// ---- merge sort ---------------------------------------------------------------------------

// The work buffer, released however the sort ends.
class WorkBuffer {
public:
    explicit WorkBuffer(std::size_t size) : data_(static_cast<uint8_t*>(heap::allocate(size))) {}
    ~WorkBuffer() { heap::free(data_); }
    WorkBuffer(const WorkBuffer&) = delete;
    WorkBuffer& operator=(const WorkBuffer&) = delete;
    uint8_t* data() const { return data_; }

private:
    uint8_t* data_;
};

// The first binary digit in which the midpoints of the runs [s1, e1) and [e1, e2), as fractions
// of n, differ. a and b are twice the midpoints; they stay below 2n, and their difference
// doubles each round while staying below n, so the loop ends within the bit length of n.
unsigned boundary_power(uint64_t s1, uint64_t e1, uint64_t e2, uint64_t n) {
    uint64_t a = s1 + e1, b = e1 + e2;
    unsigned power = 0;
    while ((a < n) == (b < n)) {
        ++power;
        if (a >= n) {
            a -= n;
            b -= n;
        }
        a *= 2;
        b *= 2;
    }
    return power + 1;
}

// The run starting at `start`, extended by insertion to the minimum run length (or the end).
std::size_t next_run(const FunctionRecords& r, std::size_t start, std::size_t n) {
    std::size_t end = static_cast<std::size_t>(find_run(r.at(start), r.at(n), r.cmp.order) - r.base) / r.w;
    std::size_t target = std::min(start + min_run, n);
    for (; end < target; ++end)
        for (std::size_t j = end; j > start && r.compare(j - 1, j) > 0; --j) r.exchange(j - 1, j);
    return end;
}

// ---- quicksort ----------------------------------------------------------------------------

// Grows the ordered leading run [0, run) (direction dir: 1 ascending, −1 descending; the run
// may be empty) over the rest of the records. The rest is read in ordered stretches of at most 10 records; the part of
// a stretch that continues the run is moved next to it when it is at least 4 records long (or
// ends the input); everything else is gathered, unordered, right after the run.
//
// A stray record taken into the run would turn away everything after it, so the last record
// before a break is never taken with its stretch (it starts the next one), and a whole ordered
// stretch lying before the run's last record hands that record back to the gathered ones,
// one record of the run for each record of the stretch at most. The run never shrinks below
// the pre-scan's run less its own last record, which ended at a break too.
//
// Linear: each stretch costs a few comparisons and moves per record.
template <class R>
std::size_t repair(const R& r, std::size_t n, std::size_t run, int dir) {
    auto ordered = [&](std::size_t i, std::size_t j) {
        int32_t c = r.compare(i, j);
        return dir > 0 ? c <= 0 : c >= 0;
    };
    if (run > 1) --run;
    const std::size_t floor = run;
    std::size_t p = run;  // [run, p): records gathered as breaking the order
    while (p < n) {
        std::size_t q = p + 1;
        while (q < n && q - p <= repair_step && ordered(q - 1, q)) ++q;
        if (q - p > repair_step || (q < n && q - p > 1)) --q;
        if (q - p >= repair_min_stretch)
            for (std::size_t k = p; k < q && run > floor && !ordered(run - 1, q - 1); ++k) --run;
        std::size_t s = p;
        while (s < q && run > 0 && !ordered(run - 1, s)) ++s;
        std::size_t len = q - s;
        if (len >= repair_min_stretch || (q == n && len > 0)) {
            r.place(s, run, len);
            run += len;
        }
        p = q;
    }
    return run;
}

// Three-way partition of [m + 1, e) against the pivot at m. Equal records are gathered at the
// front of the range as they are met and swapped next to the pivot at the end. Gives the end of
// the lower records and the start of the upper ones; the pivot and its equals lie between.
template <class R>
std::pair<std::size_t, std::size_t> partition(const R& r, std::size_t m, std::size_t e) {
    const uint8_t* pivot = r.at(m);
    std::size_t eq = m + 1, i = m + 1, j = e;  // [m+1, eq) equal, [eq, i) lower, [j, e) upper
    for (;;) {
        while (i < j) {
            int32_t c = r.compare_at(r.at(i), pivot);
            if (c > 0) break;
            if (c == 0) r.exchange(i, eq++);
            ++i;
        }
        if (i == j) break;
        // The record at i belongs above; find one from the top that does not.
        int32_t c = 1;
        while (j - 1 > i) {
            c = r.compare_at(r.at(j - 1), pivot);
            if (c <= 0) break;
            --j;
        }
        if (j - 1 == i) {
            j = i;
            break;
        }
        r.exchange(i, --j);
        if (c == 0) r.exchange(i, eq++);
        ++i;
    }
    std::size_t equal = eq - m, lower = i - eq, k = std::min(equal, lower);
    for (std::size_t t = 0; t < k; ++t) r.exchange(m + t, i - k + t);
    return {m + lower, i};
}

// The partitioning sort. `sorted` records are known in order: at the front when positive, at
// the end when negative. The smaller side of each partition is sorted by a recursive call and
// the larger one by the next round, so the native stack grows with the logarithm of the count
// even when the comparison answers at random.
template <class R>
void sort_range(R r, std::size_t count, std::ptrdiff_t sorted) {
    for (;;) {
        std::size_t h = sorted < 0 ? static_cast<std::size_t>(-sorted) : static_cast<std::size_t>(sorted);
        if (h >= count) return;
        if (count < insertion_below) {
            r.insertion_sort(count, sorted > 0 ? h : 0);
            return;
        }
        std::size_t m, e;  // pivot at m; [m + 1, e) to partition; [e, count) known to lie above
        if (h < min_sample) {
            std::size_t l = count >= median_window_from ? median_window : count;
            if (l < count) {
                // Sort a window of records first: it becomes the sample of the next round.
                sort_range(r, l, 0);
                sorted = static_cast<std::ptrdiff_t>(l);
                continue;
            }
            r.exchange(1, l / 2);
            if (r.compare(0, 1) > 0) r.exchange(0, 1);
            if (r.compare(1, l - 1) > 0) r.exchange(1, l - 1);
            if (r.compare(0, 1) > 0) r.exchange(0, 1);
            // The first record is a one-record sample below the pivot, the last one above.
            m = 1;
            e = l - 1;
        } else {
            std::size_t span = count / sample_reach < h ? count : sample_growth * h - 1;
            if (span < count) {
                // Spread records over the whole range join the sample, and sorting them with its
                // help gives a larger sample for the next round.
                if (sorted < 0) r.place(count - h, 0, h);
                std::size_t step = count / span;
                for (std::size_t i = 1; i < span - h; ++i) r.exchange(h + i, h + i * step);
                sort_range(r, span, static_cast<std::ptrdiff_t>(h));
                sorted = static_cast<std::ptrdiff_t>(span);
                continue;
            }
            // The lower half of the sample at the front, the upper half at the end; the pivot is
            // the last of the lower half.
            std::size_t upper = h / 2, lower = h - upper;
            if (sorted > 0)
                r.place(lower, count - upper, upper);
            else
                r.place(count - h, 0, lower);
            m = lower - 1;
            e = count - upper;
        }
        auto [low_end, high_start] = partition(r, m, e);
        std::size_t low_count = low_end, high_count = count - high_start;
        auto low_sorted = static_cast<std::ptrdiff_t>(m);
        auto high_sorted = -static_cast<std::ptrdiff_t>(count - e);
        if (low_count <= high_count) {
            sort_range(r, low_count, low_sorted);
            r = r.at_offset(high_start);
            count = high_count;
            sorted = high_sorted;
        } else {
            sort_range(r.at_offset(high_start), high_count, high_sorted);
            count = low_count;
            sorted = low_sorted;
        }
    }
}

// The quicksort proper, for n >= 2 records.
template <class R>
void quicksort_records(const R& r, std::size_t n) {
    // The leading run: neighbours equal or in the direction set by the first unequal pair.
    int dir = 0;
    std::size_t run = n;
    for (std::size_t i = 0; i + 1 < n; ++i) {
        int32_t c = r.compare(i, i + 1);
        if (c == 0) continue;
        int d = c < 0 ? 1 : -1;
        if (dir == 0) {
            dir = d;
        } else if (d != dir) {
            run = i + 1;
            break;
        }
    }
    if (run < n) {
        // Probe the rest sparsely; a clear majority in one direction makes repair worthwhile.
        int64_t score = dir * static_cast<int64_t>(run);
        for (std::size_t p = run; p + 1 < n; p += probe_step) {
            int32_t c = r.compare(p, p + 1);
            if (c < 0) ++score;
            else if (c > 0) --score;
        }
        if ((score < 0 ? -score : score) > static_cast<int64_t>(n / ordered_share)) {
            int want = score > 0 ? 1 : -1;
            if (want != dir) {
                dir = want;
                run = 0;
            }
            run = repair(r, n, run, dir);
        }
    }
    if (dir < 0) r.reverse(0, run);
    if (run < n) sort_range(r, n, static_cast<std::ptrdiff_t>(run));
}

}  // namespace

void swap(void* a, void* b, std::size_t w, bool bytewise) {
    swap_records(static_cast<uint8_t*>(a), static_cast<uint8_t*>(b), w, bytewise);
}

uint8_t* find_run(uint8_t* start, uint8_t* end, const Order& order) {
    FunctionRecords r(start, order.width, ByFunction{order});
    std::size_t n = static_cast<std::size_t>(end - start) / order.width;
    if (n < 2) return end;
    std::size_t i = 1;
    if (r.compare(0, 1) > 0) {
        while (i + 1 < n && r.compare(i, i + 1) > 0) ++i;
        r.reverse(0, i + 1);
    } else {
        while (i + 1 < n && r.compare(i, i + 1) <= 0) ++i;
    }
    return r.at(i + 1);
}

void merge(uint8_t* start, uint8_t* middle, uint8_t* end, uint8_t* work, const Order& order) {
    const std::size_t w = order.width;
    std::size_t first = static_cast<std::size_t>(middle - start) / w;
    std::size_t second = static_cast<std::size_t>(end - middle) / w;
    if (first == 0 || second == 0) return;
    auto compare = [&](const uint8_t* a, const uint8_t* b) {
        return order.compare(a, b, order.option1, order.option2);
    };
    // Between steps the records still in the buffer are exactly as many as the gap they left
    // in the range; the guard copies them into it, at the end or when a comparison raises.
    struct Refill {
        uint8_t*& gap;
        uint8_t* const& from;
        const std::size_t& left;
        std::size_t w;
        ~Refill() { std::memcpy(gap, from, left * w); }
    };
    if (second < first) {
        // From the back: the buffer holds the second range; ties place the buffer's (later)
        // record first, so equal records keep their order.
        std::memcpy(work, middle, second * w);
        std::size_t i = first, j = second;
        uint8_t* gap = start + i * w;
        uint8_t* from = work;
        Refill refill{gap, from, j, w};
        while (i > 0 && j > 0) {
            uint8_t* a = start + (i - 1) * w;
            uint8_t* b = work + (j - 1) * w;
            uint8_t* to = start + (i + j - 1) * w;
            if (compare(a, b) <= 0) {
                std::memcpy(to, b, w);
                --j;
            } else {
                std::memcpy(to, a, w);
                --i;
                gap = start + i * w;
            }
        }
    } else {
        // From the front: the buffer holds the first range; ties place the buffer's (earlier)
        // record first.
        std::memcpy(work, start, first * w);
        std::size_t i = 0, k = 0, left = first;
        uint8_t* gap = start;
        uint8_t* from = work;
        Refill refill{gap, from, left, w};
        while (i < first && k < second) {
            uint8_t* a = work + i * w;
            uint8_t* b = middle + k * w;
            if (compare(a, b) <= 0) {
                std::memcpy(gap, a, w);
                ++i;
                --left;
                from = work + i * w;
            } else {
                std::memcpy(gap, b, w);
                ++k;
            }
            gap += w;
        }
    }
}

void merge_sort(void* base, std::size_t n, std::size_t w, uintptr_t option1, uintptr_t option2,
                Compare compare) {
    if (n < 2 || w == 0) return;
    uint64_t bytes;
    if (__builtin_mul_overflow(static_cast<uint64_t>(n / 2), static_cast<uint64_t>(w), &bytes) ||
        bytes > work_size_limit)
        error::fire(err::script_too_long);
    // The tracked heap ends the process when it cannot deliver; refuse beforehand what is
    // larger than the runtime ever hands out in one block.
    if (bytes > memory::max_buffer_size) error::fire(err::internal_no_memory);
    WorkBuffer work(static_cast<std::size_t>(bytes));

    const Order order{w, option1, option2, compare};
    const FunctionRecords r(static_cast<uint8_t*>(base), w, ByFunction{order});
    auto merge_runs = [&](std::size_t s, std::size_t m, std::size_t e) {
        merge(r.at(s), r.at(m), r.at(e), work.data(), order);
    };

    // Pending runs, each with the power of the boundary at its end; entry 0 is a sentinel.
    // Powers on the stack strictly increase and never exceed the bit length of 2n, so 66
    // entries cover any count; the capacity check only guards that reasoning.
    struct Pending {
        std::size_t start;
        unsigned power;
    };
    constexpr std::size_t capacity = 68;
    Pending stack[capacity] = {};
    std::size_t top = 0;

    std::size_t s1 = 0, e1 = next_run(r, 0, n);
    while (e1 < n) {
        std::size_t e2 = next_run(r, e1, n);
        unsigned power = boundary_power(s1, e1, e2, n);
        while (stack[top].power > power || top + 1 == capacity) {
            merge_runs(stack[top].start, s1, e1);
            s1 = stack[top--].start;
        }
        stack[++top] = {s1, power};
        s1 = e1;
        e1 = e2;
    }
    for (; top > 0; --top) {
        merge_runs(stack[top].start, s1, n);
        s1 = stack[top].start;
    }
}

void quicksort(void* base, std::size_t n, std::size_t w, uintptr_t option1, uintptr_t option2,
               Compare compare) {
    if (n < 2 || w == 0) return;
    quicksort_records(FunctionRecords(static_cast<uint8_t*>(base), w, ByFunction{Order{w, option1, option2, compare}}), n);
}

void quicksort_int32(void* base, std::size_t n, std::size_t w, std::size_t key_offset, bool descending) {
    if (n < 2 || w == 0 || key_offset + 4 > w) return;
    quicksort_records(Records<ByInt32Key>(static_cast<uint8_t*>(base), w, ByInt32Key{key_offset, descending}), n);
}

void sort_int32_values(int32_t* keys, std::size_t n) {
    if (n < 2) return;
    // Below this count a comparison sort beats the counting passes and their tables.
    constexpr std::size_t radix_from = 256;
    if (n < radix_from) {
        std::sort(keys, keys + n);
        return;
    }
    if (n * sizeof(int32_t) > memory::max_buffer_size) error::fire(err::internal_no_memory);
    // Least significant digit first, three digits of 11 bits of the key with its sign bit
    // flipped (so that unsigned order is signed order); a digit all keys share is skipped.
    constexpr unsigned digit_bits = 11, digits = 3;
    constexpr std::size_t buckets = std::size_t(1) << digit_bits;
    uint32_t counts[digits][buckets] = {};  // n fits: its keys fit in one buffer
    auto unsigned_of = [](int32_t k) { return static_cast<uint32_t>(k) ^ 0x80000000u; };
    for (std::size_t i = 0; i < n; ++i) {
        uint32_t u = unsigned_of(keys[i]);
        for (unsigned d = 0; d < digits; ++d) ++counts[d][(u >> (d * digit_bits)) & (buckets - 1)];
    }
    WorkBuffer work(n * sizeof(int32_t));
    int32_t* from = keys;
    int32_t* to = reinterpret_cast<int32_t*>(work.data());
    for (unsigned d = 0; d < digits; ++d) {
        unsigned shift = d * digit_bits;
        if (counts[d][(unsigned_of(keys[0]) >> shift) & (buckets - 1)] == n) continue;
        uint32_t start = 0;
        for (std::size_t b = 0; b < buckets; ++b) {
            uint32_t c = counts[d][b];
            counts[d][b] = start;
            start += c;
        }
        for (std::size_t i = 0; i < n; ++i) {
            int32_t k = from[i];
            to[counts[d][(unsigned_of(k) >> shift) & (buckets - 1)]++] = k;
        }
        std::swap(from, to);
    }
    if (from != keys) std::memcpy(keys, from, n * sizeof(int32_t));
}

void partition_sort(uint8_t* base, std::size_t count, std::ptrdiff_t sorted, const Order& order) {
    if (count < 2 || order.width == 0) return;
    sort_range(FunctionRecords(base, order.width, ByFunction{order}), count, sorted);
}

}  // namespace kov::sort
