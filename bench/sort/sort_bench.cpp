// Micro-benchmark of the record sorts: comparisons per record and time per record for input
// shapes that matter to the pre-scan, the repair pass and the merge policy. Not a timed test.
//
// Build against a release build of the runtime:
//   g++ -std=c++20 -O2 -I. bench/sort/sort_bench.cpp build/release/libkovrt.a -o /tmp/sort_bench
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "runtime/sort.h"

namespace {

uint64_t calls = 0;

int32_t by_key(const void* a, const void* b, uintptr_t, uintptr_t) {
    ++calls;
    uint32_t x, y;
    std::memcpy(&x, a, 4);
    std::memcpy(&y, b, 4);
    return x < y ? -1 : x > y ? 1 : 0;
}

std::vector<uint32_t> shape(const char* name, std::size_t n, std::mt19937& rng) {
    std::vector<uint32_t> k(n);
    for (std::size_t i = 0; i < n; ++i) k[i] = static_cast<uint32_t>(i);
    std::string s = name;
    if (s == "random") for (auto& x : k) x = rng();
    else if (s == "reversed") for (std::size_t i = 0; i < n; ++i) k[i] = static_cast<uint32_t>(n - i);
    else if (s == "few keys") for (auto& x : k) x = rng() % 8;
    else if (s == "1% swapped") for (std::size_t j = 0; j < n / 100; ++j) std::swap(k[rng() % n], k[rng() % n]);
    else if (s == "1% swapped, reversed") {
        for (std::size_t i = 0; i < n; ++i) k[i] = static_cast<uint32_t>(n - i);
        for (std::size_t j = 0; j < n / 100; ++j) std::swap(k[rng() % n], k[rng() % n]);
    } else if (s == "sorted + random tail") for (std::size_t i = n - n / 20; i < n; ++i) k[i] = rng() % n;
    else if (s == "sawtooth") for (std::size_t i = 0; i < n; ++i) k[i] = static_cast<uint32_t>(i % 1000);
    else if (s == "alternating") for (std::size_t i = 0; i < n; ++i) k[i] = static_cast<uint32_t>(i % 2);
    else if (s == "largest first") k[0] = static_cast<uint32_t>(n);
    else if (s == "smallest last") for (std::size_t i = 0; i < n; ++i) k[i] = static_cast<uint32_t>(i + 1 < n ? i + 1 : 0);
    else if (s == "random halves") for (std::size_t i = 0; i < n; ++i) k[i] = i < n / 2 ? static_cast<uint32_t>(i) : rng() % n;
    else if (s == "organ pipe") for (std::size_t i = 0; i < n; ++i) k[i] = static_cast<uint32_t>(i < n / 2 ? i : n - i);
    return k;
}

}  // namespace

int main() {
    const std::size_t n = 1000000, w = 16;
    const char* shapes[] = {"random", "ordered", "reversed", "few keys", "1% swapped", "1% swapped, reversed",
                            "sorted + random tail", "sawtooth", "organ pipe", "alternating",
                            "largest first", "smallest last", "random halves"};
    using Fn = void (*)(void*, std::size_t, std::size_t, uintptr_t, uintptr_t, kov::sort::Compare);
    struct { const char* name; Fn fn; } sorts[] = {{"merge-sort", kov::sort::merge_sort}, {"quicksort", kov::sort::quicksort}};
    std::printf("%zu records of %zu bytes; comparisons per record (n log2 n = %.1f per record)\n", n, w, std::log2(double(n)));
    for (const char* name : shapes) {
        std::mt19937 rng(42);
        auto keys = shape(name, n, rng);
        std::vector<uint8_t> input(n * w);
        for (std::size_t i = 0; i < n; ++i) std::memcpy(&input[i * w], &keys[i], 4);
        std::printf("%-22s", name);
        for (auto& s : sorts) {
            auto records = input;
            calls = 0;
            auto t0 = std::chrono::steady_clock::now();
            s.fn(records.data(), n, w, 0, 0, by_key);
            double ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - t0).count();
            std::printf("  %s %6.2f cmp %6.1f ns", s.name, double(calls) / n, ns / n);
        }
        std::printf("\n");
    }
}
