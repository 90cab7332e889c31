// libFuzzer target for the Kovbin readers: any byte string becomes a blob, read with the
// collector on. The first byte chooses how:
//   bits 0-1  0: the rest is a whole blob; 1: the rest follows "KOVBIN" and a version byte
//             (it starts at the flags byte); 2 and 3: the rest patches a valid blob of a rich
//             sample value (compact for 2, fixed for 3) as (offset, byte) pairs, its last byte
//             cutting the blob shorter;
//   bit 2     a boot load instead of the codec's decode;
//   bit 3     the patched blob is LZ-compressed first (then the patch hits the stream).
// A read must end with values or a Kov error. Decoded values are molded and encoded again, so
// whatever they refer to is walked; then the heap must verify.
//
// Build: the runtime library compiled by clang for fuzzing, then the target linked against it;
// run from the source root (the sample value is made by evaluating the boot sources there):
//   cmake -S . -B build/fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
//       -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O1 -g" \
//       -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined" -DBUILD_TESTING=OFF
//   cmake --build build/fuzz --target kovrt
//   clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -I. tests/fuzz/kovbin_fuzz.cpp \
//       build/fuzz/libkovrt.a -o build/fuzz/kovbin_fuzz
//   mkdir -p build/fuzz/kovbin-corpus
//   ./build/fuzz/kovbin_fuzz -max_total_time=120 -max_len=2048 build/fuzz/kovbin-corpus
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "boot/loader.h"
#include "boot/sources.h"
#include "boot/start.h"
#include "runtime/codecs/kovbin.h"
#include "runtime/collector.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/error.h"
#include "runtime/interpreter/interp.h"
#include "runtime/interpreter/stack.h"
#include "runtime/lexer/lexer.h"
#include "runtime/memory.h"

namespace {

using namespace kov;

std::vector<uint8_t> samples[4];  // compact, fixed, and both LZ-compressed (when that shrinks them)

const char* const sample_source =
    "o: make object! [a: 1 b: [x y] f: func [n /r m] [a + n] on-change*: func [w o n] []] "
    "b: [1 2] s: \"text\" c: copy [x] append/only c c "
    "reduce [o :o/f b next b s skip s 2 c make error! 302 make op! func [a b] [a - b] "
    "func [x] [x] [1 -5 2.5 -0.0 50% 10:30 #\"x\" \"h\xC3\xA9\" \"\xE4\xB8\xAD\" %f http://x <t> a@b.c "
    "@r #{DEADBEEF} #iss w s: :g 'l /r a/b 'a/b a/b: :a/b (1) 1.2.3.4 $1.25 1-Jan-2000/10:00+2:00 "
    "3x4 (1, 2) (1, 2, 3) #[a 1] make typeset! [integer!] make vector! [integer! 16 [1 -2 3]] "
    "make vector! [float! 32 [1.5]] make vector! [char! 8 [#\"a\"]]] in o 'a]";

void set_up() {
    boot::init_runtime();
    boot::SourceFiles files = boot::read_tree(".");
    std::vector<boot::Source> sources = files.list();
    boot::run_definitions(sources.data(), sources.size());
    collector::enable(true);
    stack::Mark mark;
    Cell* code = stack::reserve();
    lexer::Options options;
    lexer::scan(reinterpret_cast<const uint8_t*>(sample_source), std::strlen(sample_source), options, none::value,
                *code);
    stack::push_frame(stack::eval, nullptr);
    stack::reserve();
    interp::eval_block(*code, true);
    Cell value = *stack::values.args;
    stack::leave_frame();
    collector::Root keep(value);
    for (int i = 0; i < 2; ++i) {
        stack::Mark inner;
        Cell* blob = kovbin::encode(value, i == 0);
        memory::Buffer* b = memory::buffer(blob->w2);
        samples[i].assign(b->head_ptr(), b->tail_ptr());
        std::vector<uint8_t> packed(samples[i].size());
        uint64_t n = kovbin::compress_blob(samples[i].data(), samples[i].size(), packed.data());
        samples[i + 2] = n ? std::vector<uint8_t>(packed.begin(), packed.begin() + long(n)) : samples[i];
    }
}

// Walks a decoded value the ways a program would: forming and molding it (which also forms
// an error's report) and writing it again.
void exercise(const Cell& value) {
    stack::Mark mark;
    Cell v = value;
    collector::Root keep(v);
    try {
        Cell* out = string::push(64, 1);
        if (auto mold = actions::lookup<actions::slot::mold>(cell::type(v))) {
            Cell copy = v;
            mold(&copy, out, MoldArgs{.all = true}, 100000);
        }
        if (auto form = actions::lookup<actions::slot::form>(cell::type(v))) {
            Cell copy = v;
            form(&copy, out, nullptr, 100000);
        }
    } catch (const Error&) {
    }
    try {
        kovbin::encode(v, true);
        kovbin::encode(v, false);
    } catch (const Error&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = (set_up(), true);
    (void)ready;
    if (size == 0) return 0;
    uint8_t mode = data[0];
    ++data;
    --size;
    std::vector<uint8_t> blob;
    switch (mode & 3) {
    case 0:
        blob.assign(data, data + size);
        break;
    case 1:
        blob = {'K', 'O', 'V', 'B', 'I', 'N', 2};
        blob.insert(blob.end(), data, data + size);
        break;
    default: {
        blob = samples[(mode & 3) - 2 + (mode & 8 ? 2 : 0)];
        for (size_t i = 0; i + 1 < size; i += 2) blob[data[i] * blob.size() / 256] = data[i + 1];
        if (size & 1) blob.resize(blob.size() - (data[size - 1] % 8) * (data[size - 1] % 8));
        break;
    }
    }
    // The reader gets exactly the blob's bytes, so a read past them is caught.
    std::unique_ptr<uint8_t[]> bytes(new uint8_t[blob.size() ? blob.size() : 1]);
    if (!blob.empty()) std::memcpy(bytes.get(), blob.data(), blob.size());

    stack::Mark mark;
    uint32_t depth = stack::depth();
    bool collecting = collector::enabled();
    try {
        if (mode & 4) {
            Cell out{T_none, 0, 0, 0};
            collector::Root keep(out);
            kovbin::load_boot(bytes.get(), blob.size(), out);
            if (collector::enabled() != collecting) std::abort();
            exercise(out);
        } else {
            Cell* bin = binary::load_in(bytes.get(), blob.size(), 0);
            exercise(*kovbin::decode(*bin));
        }
    } catch (const Error&) {
        stack::unroll_to(depth, stack::values.top, stack::values.args);
    }
    if (collector::enabled() != collecting) std::abort();
    stack::pending = stack::Pending{};
    if ((mode & 0xF0) == 0xF0 && memory::verify()) std::abort();
    return 0;
}
