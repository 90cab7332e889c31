// Kovbin: exact bytes of the records that pin the format, round trips of every storable
// datatype through both encodings (bit-identical on re-encode), shared series and contexts,
// corrupt blobs that must raise, the boot load, and the embedded boot image against the
// sources it was scanned from. The fixture runs with the collector on (at every allocation
// under gc-stress), so decoding is checked for values kept reachable while they are built.
#include <string>
#include <vector>

#include "boot/image.h"
#include "runtime/codecs/kovbin.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/hashtable.h"
#include "tests/unit/eval_harness.h"

using namespace kov;

namespace {

using Bytes = std::vector<uint8_t>;

struct Kovbin : test::Kov {};

// Evaluates Kov text; the result stays on the value stack.
Cell* evaluate(const std::string& source) {
    Cell* result = stack::reserve();
    Cell* code = stack::reserve();
    lexer::Options options;
    lexer::scan(reinterpret_cast<const uint8_t*>(source.data()), source.size(), options, none::value, *code);
    stack::push_frame(stack::eval, nullptr);
    stack::reserve();
    interp::eval_block(*code, true);
    *result = *stack::values.args;
    stack::leave_frame();
    return result;
}

// Scans Kov text (not evaluated) into a block on the value stack.
Cell* scan(const std::string& source) {
    Cell* out = stack::reserve();
    lexer::Options options;
    lexer::scan(reinterpret_cast<const uint8_t*>(source.data()), source.size(), options, none::value, *out);
    return out;
}

Cell global(const char* name) {
    Cell w;
    word::make_at(symbol::make(name), w);
    return *context::get(w);
}

Bytes bytes_of(const Cell& binary) {
    memory::Buffer* b = memory::buffer(binary.w2);
    return Bytes(b->head_ptr() + binary.w1, b->tail_ptr());
}

Cell* binary_of(const Bytes& bytes) { return binary::load_in(bytes.data(), bytes.size(), 0); }

Bytes encoded(const Cell& v, bool compact) {
    stack::Mark mark;
    return bytes_of(*kovbin::encode(v, compact));
}

// Decodes in codec mode; the result stays on the value stack.
Cell* decoded(const Bytes& blob) { return kovbin::decode(*binary_of(blob)); }

template <class F>
std::string error_of(F&& f) {
    return test::error_of(f);
}
std::string decode_error(const Bytes& blob) {
    stack::Mark mark;
    return error_of([&] { decoded(blob); });
}

// A compact blob made by hand: the header, the symbol table of the names, the payload.
Bytes compact_blob(const Bytes& payload, const std::vector<std::string>& names = {}, uint8_t extra_flags = 0) {
    Bytes b = {'K', 'O', 'V', 'B', 'I', 'N', 2, uint8_t(0x01 | (names.empty() ? 0 : 0x04) | extra_flags)};
    auto varint = [&](uint32_t v) {
        while (v >= 0x80) {
            b.push_back(uint8_t(v | 0x80));
            v >>= 7;
        }
        b.push_back(uint8_t(v));
    };
    varint(1);
    varint(uint32_t(payload.size()));
    if (!names.empty()) {
        std::string area;
        Bytes offsets;
        for (const std::string& n : names) {
            for (int i = 0; i < 4; ++i) offsets.push_back(uint8_t(area.size() >> (8 * i)));
            area += n;
            area += '\0';
        }
        varint(uint32_t(names.size()));
        varint(uint32_t(area.size()));
        b.insert(b.end(), offsets.begin(), offsets.end());
        b.insert(b.end(), area.begin(), area.end());
    }
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
}

// The payload of a blob, found by walking its header (separately from the reader).
Bytes payload_of(const Bytes& blob) {
    size_t p = 8;
    bool compact = blob[7] & 1;
    auto field = [&]() -> uint32_t {
        if (!compact) {
            uint32_t v = blob[p] | blob[p + 1] << 8 | blob[p + 2] << 16 | uint32_t(blob[p + 3]) << 24;
            p += 4;
            return v;
        }
        uint32_t v = 0;
        for (int shift = 0;; shift += 7) {
            uint8_t byte = blob[p++];
            v |= uint32_t(byte & 0x7F) << shift;
            if (!(byte & 0x80)) return v;
        }
    };
    field();
    uint32_t length = field();
    if (blob[7] & 4) {
        uint32_t count = field();
        uint32_t names = field();
        p += 4 * count + names;
    }
    return Bytes(blob.begin() + long(p), blob.begin() + long(p + length));
}

Bytes le32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }
Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}
Bytes double_bytes(double d) {
    uint64_t bits;
    std::memcpy(&bits, &d, 8);
    return concat({le32(uint32_t(bits)), le32(uint32_t(bits >> 32))});
}

// ---- exact bytes ------------------------------------------------------------------------------------

TEST_F(Kovbin, CompactRecordsHaveTheirExactBytes) {
    uint32_t date = 2000u << 17 | 1u << 12 | 1u << 7;
    struct Case {
        const char* source;
        bool evaluate;
        Bytes payload;
    } cases[] = {
        {"0", false, {0x80}},
        {"63", false, {0xBF}},
        {"64", false, {0x0B, 0x80, 0x01}},
        {"-1", false, {0x0B, 0x01}},
        {"1.0", false, {0x4C, 0x02}},
        {"-0.0", false, concat({{0x0C}, double_bytes(-0.0)})},
        {"0.5", false, concat({{0x0C}, double_bytes(0.5)})},
        {"0%", false, {0x66, 0x00}},
        {"50%", false, {0x66, 0x64}},
        {"1.2.3", false, {0x27, 1, 2, 3}},
        {"1.2.3.4", false, {0x67, 4, 1, 2, 3, 4}},
        {"\"\xE4\xB8\xAD" "ab\"", false, {0x07, 0x0D, 0x2D, 0x4E, 0x61, 0x00, 0x62, 0x00}},
        {"#{0102}", false, {0x29, 0x02, 0x01, 0x02}},
        {"1-Jan-2000", false, concat({{0x2F}, le32(date)})},
        {"(1, 2)", false, concat({{0x33}, le32(0x3F800000), le32(0x40000000)})},
        {"3x-4", false, {0x25, 0x06, 0x07}},
        {"true", true, {0xC2}},
        {"none", true, {0x03}},
        {"integer!", true, {0x01, 0x0B}},
        {"skip [1 2 3] 2", true, {0x45, 0x02, 0x03, 0x81, 0x82, 0x83}},
        // A series met twice: the second record is the shared prefix, the lead, and the path.
        {"b: [1] reduce [b b]", true, {0x05, 0x02, 0x05, 0x01, 0x81, 0xC1, 0x05, 0x02, 0x00, 0x00}},
        {"b: \"x\" reduce [b next b]", true, {0x05, 0x02, 0x07, 0x04, 0x78, 0xC1, 0x47, 0x01, 0x02, 0x00, 0x00}},
        {"[\n1]", false, {0x05, 0x01, 0xC0, 0x81}},
        // A bitset: its bytes (membership, whatever the flag); bit 6 when complemented.
        {"make bitset! \"a\"", true, {0x1E, 0x0D, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x40}},
        {"complement make bitset! \"^(01)\"", true, {0x5E, 0x01, 0xBF}},
        // A vector: the element type and unit code in one byte, the count, the elements.
        {"make vector! [integer! 16 [1 -2]]", true, {0x23, 11 << 2 | 1, 0x02, 0x01, 0x00, 0xFE, 0xFF}},
        {"next make vector! [#\"a\"]", true, {0x63, 0x01, 10 << 2 | 2, 0x01, 0x61, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        stack::Mark mark;
        Cell v;
        if (c.evaluate) {
            v = *evaluate(c.source);
        } else {
            Cell* b = scan(c.source);
            v = memory::buffer(b->w2)->used() == sizeof(Cell) ? *block::rs_abs_at(*b, 0) : *b;
        }
        Bytes blob = encoded(v, true);
        EXPECT_EQ(payload_of(blob), c.payload) << c.source;
        EXPECT_EQ(Bytes(blob.begin(), blob.begin() + 7), (Bytes{'K', 'O', 'V', 'B', 'I', 'N', 2})) << c.source;
    }
}

TEST_F(Kovbin, FixedRecordsHaveTheirExactBytes) {
    // A float's header starts on a multiple of 8 bytes of the payload: a zero word pads it.
    Cell* b = scan("1 2.5");
    Bytes blob = encoded(*b, false);
    EXPECT_EQ(blob[7], 0);  // no symbols: no table, flags 0
    EXPECT_EQ(payload_of(blob), concat({le32(5), le32(0), le32(2), le32(11), le32(1), le32(0), le32(12),
                                        le32(0x40040000), le32(0)}));
    // Text of 2-byte units: the width in bits 8-15, the data padded to 4 bytes.
    Cell* s = scan("\"\xE4\xB8\xAD\"");
    EXPECT_EQ(payload_of(encoded(*block::rs_abs_at(*s, 0), false)),
              concat({le32(0x0207), le32(0), le32(1), {0x2D, 0x4E, 0, 0}}));
    // A word bound to the global context: bit 25, its symbol, its index; no owner record.
    Cell* w = scan("foo");
    Cell word = *block::rs_abs_at(*w, 0);
    blob = encoded(word, false);
    EXPECT_EQ(blob[7], 4);
    EXPECT_EQ(payload_of(blob), concat({le32(15 | 1u << 25), le32(0), le32(word.w3)}));
    // A complemented bitset: bit 23, no head index, the byte count, the bytes padded to 4.
    EXPECT_EQ(payload_of(encoded(*evaluate("complement make bitset! \"^(09)\""), false)),
              concat({le32(30 | 1u << 23), le32(2), {0xFF, 0xBF, 0, 0}}));
    // A vector: the width in bits 8-15, the head index, the count, the element type, the
    // elements padded to 4.
    EXPECT_EQ(payload_of(encoded(*evaluate("make vector! [integer! 8 [1 -1 3]]"), false)),
              concat({le32(35 | 1u << 8), le32(0), le32(3), le32(11), {0x01, 0xFF, 0x03, 0}}));
}

// ---- round trips ------------------------------------------------------------------------------------

// Each value: encoded, decoded, encoded again. A decoded object has a class of its own, so
// the first blob is compared with the second only for values without objects; the second and
// third must agree for every value.
void round_trip(const Cell& v, bool compact, bool same_first, const std::string& what) {
    stack::Mark mark;
    Bytes first = encoded(v, compact);
    Cell* once = decoded(first);
    Bytes second = encoded(*once, compact);
    if (same_first) {
        EXPECT_EQ(first, second) << what << (compact ? " (compact)" : " (fixed)");
    }
    Cell* twice = decoded(second);
    EXPECT_EQ(second, encoded(*twice, compact)) << what << (compact ? " (compact)" : " (fixed)");
}

TEST_F(Kovbin, EveryLiteralDatatypeRoundTrips) {
    const char* literals =
        "1 -5 2147483647 -2147483648 2.5 -0.0 1e300 1.5e-300 50% 12.5% 0.1% 10:30 -1:02:03.5 "
        "#\"x\" #\"^(1F600)\" \"abc\" \"h\xC3\xA9\" \"\xE4\xB8\xAD\" \"\xF0\x9F\x98\x80\" %file.txt "
        "http://x.y/z <tag a=1> a@b.c @ref #{DEADBEEF} #{} #iss word set: :get 'lit /ref a/b/c 'a/b "
        "a/b: :a/b (1 + 2) [nested [deep [deeper]]] [] 1.2.3 1.2.3.4.5.6.7.8.9.10.11.12 $12.50 -$3 "
        "USD$1.25 1-Jan-2000 29-Feb-2000/10:00 1-Jan-2000/10:00+2:00 -3x4 (1, 2) (1.5, 2, 3) "
        "#[a 1 \"b\" [2]] [\n\tnew line]";
    Cell* block = scan(literals);
    for (bool compact : {true, false}) {
        round_trip(*block, compact, true, "the literal block");
        for (uint32_t i = 0; i < uint32_t(block::rs_length_q(*block)); ++i)
            round_trip(*block::rs_abs_at(*block, i), compact, true, std::to_string(i));
    }
}

TEST_F(Kovbin, EvaluatedDatatypesRoundTrip) {
    struct Case {
        const char* source;
        bool has_object;
    } cases[] = {
        {"reduce [none true false integer! () make typeset! [integer! string!]]", false},
        {"func [x /r y] [x + y]", false},
        {"make op! func [a b] [a - b]", false},
        {"make object! [a: 1 b: [x y] c: \"s\"]", true},
        {"make object! [a: 1 on-change*: func [w o n] [a: n]]", true},
        {"make error! 302", false},
        {"o: make object! [a: 1 f: func [] [a]]", true},
        {"o: make object! [a: 1] in o 'a", true},
        {"f: func [x] [x + 1] body-of :f", false},
        {"make object! [a: 1 b: self]", true},
        {"reduce [make bitset! \"ab\" complement make bitset! \"a\" make bitset! 0 complement make bitset! 0]", false},
        {"reduce [make vector! [integer! 8 [1 -2]] make vector! [char! 16 [#\"x\"]] make vector! [float! 32 [1.5]] "
         "make vector! [percent! [5%]] next make vector! [1 2 3] make vector! [integer! 8 []]]", false},
    };
    for (const Case& c : cases) {
        stack::Mark mark;
        Cell* v = evaluate(c.source);
        for (bool compact : {true, false}) round_trip(*v, compact, !c.has_object, c.source);
    }
    // Natives, actions and an op made from an action; a hash! with its index.
    stack::Mark mark;
    Cell* values = scan("0 0 0 0");
    *block::rs_abs_at(*values, 0) = global("if");
    *block::rs_abs_at(*values, 1) = global("add");
    *block::rs_abs_at(*values, 2) = global("+");
    Cell* h = block::clone(*scan("a 1 b 2"), false, false);
    cell::set_type(*h, T_hash);
    block::index_make(*h);
    *block::rs_abs_at(*values, 3) = *h;
    for (bool compact : {true, false}) round_trip(*values, compact, true, "natives, actions, op, hash");
}

TEST_F(Kovbin, DecodedValuesBehaveAsTheOriginals) {
    stack::Mark mark;
    Cell* src = evaluate(
        "o: make object! [a: 1 f: func [x] [a + x]] "
        "reduce [o func [a b] [a * b] make op! func [a b] [a - b] make error! 302 \"s\"]");
    for (bool compact : {true, false}) {
        stack::Mark inner;
        Cell* v = decoded(encoded(*src, compact));
        Cell w;
        word::make_at(symbol::make("kovbin-decoded"), w);
        context::set(w, *v);
        // The method's words are bound to the decoded object's context, not the original's.
        EXPECT_EQ(test::eval("kovbin-decoded/1/f 2"), "3");
        EXPECT_EQ(test::eval("kovbin-decoded/1/a: 10 kovbin-decoded/1/f 2"), "12");
        EXPECT_EQ(test::eval("o/f 2"), "3");
        EXPECT_EQ(test::eval("do reduce [:kovbin-decoded/2 6 7]"), "42");
        EXPECT_EQ(test::eval("minus: :kovbin-decoded/3 10 minus 4"), "6");
        EXPECT_EQ(test::eval("kovbin-decoded/4/code"), "302");
        EXPECT_EQ(test::eval("kovbin-decoded/4/id"), "not-defined");
    }
}

TEST_F(Kovbin, SharedSeriesStayShared) {
    stack::Mark mark;
    Cell* v = evaluate(
        "b: [1 2] s: \"text\" self-ref: copy [x] append/only self-ref self-ref "
        "o: make object! [a: 1] f: func [] [1] "
        "cs: make bitset! \"xy\" vs: make vector! [1 2 3] "
        "reduce [b next b s skip s 2 self-ref o o :f :f cs cs vs next vs]");
    for (bool compact : {true, false}) {
        stack::Mark inner;
        Cell d = *decoded(encoded(*v, compact));
        auto at = [&](uint32_t i) { return *block::rs_abs_at(d, i); };
        EXPECT_EQ(at(0).w2, at(1).w2);
        EXPECT_EQ(at(1).w1, 1u);
        EXPECT_EQ(at(2).w2, at(3).w2);
        EXPECT_EQ(at(3).w1, 2u);
        Cell self_ref = at(4);
        EXPECT_EQ(block::rs_abs_at(self_ref, 1)->w2, self_ref.w2);  // contains itself
        EXPECT_EQ(at(5).w1, at(6).w1);                              // one context
        EXPECT_EQ(at(7).w1, at(8).w1);
        EXPECT_EQ(at(9).w2, at(10).w2);                             // one bitset
        EXPECT_EQ(at(11).w2, at(12).w2);                            // one vector, two positions
        EXPECT_EQ(at(12).w1, 1u);
        EXPECT_EQ(at(12).w3, uint32_t(T_integer));
        EXPECT_NE(at(0).w2, block::rs_abs_at(*v, 0)->w2);           // new series, not the originals
    }
}

TEST_F(Kovbin, WritersRefuseWhatCannotBeRead) {
    stack::Mark mark;
    EXPECT_EQ(error_of([] { kovbin::encode(Cell{T_handle, 1, 2, 3}, true); }), "access/no-codec");
    EXPECT_EQ(error_of([] { kovbin::encode(Cell{T_port, 0, 0, 0}, false); }), "access/no-codec");
    // Nesting past the limit.
    Cell* outer = scan("[]");
    Cell deep = *outer;
    for (int i = 0; i < 1100; ++i) {
        Cell* next = scan("[]");
        block::rs_append(deep, *next);
        deep = *next;
    }
    EXPECT_EQ(error_of([&] { kovbin::encode(*outer, true); }), "internal/too-deep");
    // The state of a failed encode does not leak into the next one: two encodes agree.
    Cell* v = evaluate("b: [1] reduce [b b b]");
    EXPECT_EQ(encoded(*v, true), encoded(*v, true));
}

// A reference standing alone (which only boot image tools write) copies the cell it names.
TEST_F(Kovbin, StandaloneReferencesCopyTheCellTheyName) {
    stack::Mark mark;
    Bytes compact = compact_blob({0x05, 0x02, 0x87, 0xFF, 0x02, 0x00, 0x00});
    Bytes fixed = concat({{'K', 'O', 'V', 'B', 'I', 'N', 2, 0}, le32(1), le32(36), le32(5), le32(0), le32(2),
                          le32(11), le32(7), le32(255), le32(2), le32(0), le32(0)});
    Bytes expected = encoded(*scan("7 7"), true);
    EXPECT_EQ(encoded(*decoded(compact), true), expected);
    EXPECT_EQ(encoded(*decoded(fixed), true), expected);
}

// ---- corrupt blobs ---------------------------------------------------------------------------------

TEST_F(Kovbin, CorruptBlobsRaise) {
    const std::string kb = "script/kb-invalid-record";
    Bytes nested;
    for (int i = 0; i < 1001; ++i) nested.insert(nested.end(), {0x05, 0x01});
    nested.push_back(0x80);
    struct Case {
        const char* what;
        Bytes blob;
        std::string error;
    } cases[] = {
        {"bad magic", {'K', 'O', 'V', 'B', 'I', 'M', 2, 1, 1, 1, 0x80}, "script/invalid-data"},
        {"too short", {'K', 'O', 'V', 'B', 'I', 'N', 2, 1, 1, 1}, "script/invalid-data"},
        {"damaged LZ stream", compact_blob({0x80, 1, 2, 3, 4, 5, 6, 7, 8}, {}, 0x02), "script/invalid-data"},
        {"payload past the end", {'K', 'O', 'V', 'B', 'I', 'N', 2, 1, 1, 9, 0x80}, kb},
        {"fixed payload cut", {'K', 'O', 'V', 'B', 'I', 'N', 2, 0, 1, 0, 0, 0, 8, 0, 0, 0, 11, 0, 0, 0}, kb},
        {"symbol index out of range", compact_blob({0x0F, 0x01}, {"a"}), kb},
        {"no symbol table", compact_blob({0x0F, 0x00}), kb},
        {"name offset out of range",
         [] { Bytes b = compact_blob({0x0F, 0x00}, {"a"}); b[12] = 9; return b; }(), kb},
        {"names not NUL-terminated",
         [] { Bytes b = compact_blob({0x0F, 0x00}, {"a"}); b[17] = 'b'; return b; }(), kb},
        {"empty name", compact_blob({0x0F, 0x00}, {""}), kb},
        {"reference position out of range", compact_blob({0x05, 0x01, 0xFF, 0x01, 0x03}), kb},
        {"reference count 0", compact_blob({0xFF, 0x00}), kb},
        {"wrong-family reference", compact_blob({0x05, 0x02, 0x80, 0xC1, 0x05, 0x02, 0x00, 0x00}), kb},
        {"reference to a record being read", compact_blob({0x05, 0x01, 0xC1, 0x05, 0x02, 0x00, 0x00}), kb},
        {"path through a global word", compact_blob({0x05, 0x02, 0x0F, 0x00, 0xFF, 0x03, 0x00, 0x00, 0x00}, {"a"}), kb},
        {"word shared with an integer", compact_blob({0x05, 0x02, 0x80, 0xC1, 0x4F, 0x00, 0x00, 0x02, 0x00, 0x00}, {"a"}), kb},
        {"deep nesting", compact_blob(nested), kb},
        {"binding prefix outside the boot load", compact_blob({0xC4, 0x10, 0x00, 0x80}, {"a"}), kb},
        {"prefix before a small integer", compact_blob({0xC1, 0x80}), kb},
        {"varint over 5 bytes", compact_blob({0x0B, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}), kb},
        {"count larger than the data", compact_blob({0x05, 0x7F, 0x80}), kb},
        {"unit code 3", compact_blob({0x07, 0x07}), kb},
        {"4-byte character out of range", compact_blob({0x07, 0x06, 0x00, 0x00, 0x11, 0x00}), kb},
        {"char out of range", compact_blob({0x0A, 0x80, 0x80, 0x44}), kb},
        {"datatype 0", compact_blob({0x01, 0x00}), kb},
        {"datatype 99", compact_blob({0x01, 0x63}), kb},
        {"id 0", compact_blob({0x00}), kb},
        {"unknown id", compact_blob({0x0D}), kb},
        {"logic as a typed record", compact_blob({0x04}), kb},
        {"native index 0", compact_blob({0x15, 0x00, 0x05, 0x00}), kb},
        {"native index past the table", compact_blob({0x15, 0x6C, 0x05, 0x00}), kb},
        {"action index 63", compact_blob({0x16, 0x3F, 0x05, 0x00}), kb},
        {"tuple of 13", compact_blob({0x67, 13, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}), kb},
        {"typeset of 13 bytes", compact_blob({0x21, 13, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}), kb},
        {"month 13", compact_blob(concat({{0x2F}, le32(2000u << 17 | 13u << 12 | 1u << 7)})), kb},
        {"day 30 of February", compact_blob(concat({{0x2F}, le32(2001u << 17 | 2u << 12 | 30u << 7)})), kb},
        {"time bit without bit 6", compact_blob(concat({{0x2F}, le32(2000u << 17 | 1u << 16 | 1u << 12 | 1u << 7)})), kb},
        {"money digit 10", compact_blob({0x31, 0, 0xA0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), kb},
        {"money currency past the list", compact_blob({0x31, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), kb},
        {"odd map", compact_blob({0x28, 0x01, 0x80}), kb},
        {"function context not its spec",
         compact_blob({0x18, 0x00, 0x00, 0x0E, 0x05, 0x01, 0x00, 0x05, 0x00, 0x05, 0x00}, {"x"}), kb},
        {"function context of an object's kind",
         compact_blob({0x18, 0x00, 0x00, 0x0E, 0x02, 0x00, 0x05, 0x00, 0x05, 0x00}), kb},
        {"function spec not a block", compact_blob({0x18, 0x00, 0x00, 0x0E, 0x05, 0x00, 0x80, 0x05, 0x00}), kb},
        {"object words given twice", compact_blob({0x20, 0x00, 0x0E, 0x02, 0x02, 0x00, 0x00}, {"a"}), kb},
        {"object hook index out of range",
         compact_blob({0x60, 0x00, 0x80, 0x80, 0x04, 0x01, 0x0E, 0x02, 0x00}), kb},
        {"error code not in the catalogue", compact_blob({0x22, 0x80, 0x08, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03}), kb},
        {"owner record of a block", compact_blob({0x4F, 0x00, 0x00, 0x05, 0x00}, {"a"}), kb},
        // `if` (native 1) with a spec that lets any value through as its block.
        {"native with another spec", compact_blob({0x15, 0x01, 0x05, 0x02, 0x0F, 0x00, 0x0F, 0x01}, {"cond", "then-blk"}), kb},
        {"bitset longer than the data", compact_blob({0x1E, 0x03, 0x01, 0x02}), kb},
        {"bitset past the largest index", compact_blob({0x1E, 0x81, 0x80, 0x80, 0x80, 0x01}), kb},
        {"bitset shared with a string", compact_blob({0x05, 0x02, 0x07, 0x00, 0xC1, 0x1E, 0x01, 0x00}), kb},
        {"vector cut before its element type", compact_blob({0x23}), kb},
        {"vector of strings", compact_blob({0x23, 7 << 2, 0x01, 0x41}), kb},
        {"vector of 8-byte integers", compact_blob({0x23, 11 << 2 | 3, 0x01, 0, 0, 0, 0, 0, 0, 0, 0}), kb},
        {"vector of 1-byte floats", compact_blob({0x23, 12 << 2, 0x01, 0}), kb},
        {"vector longer than the data", compact_blob({0x23, 11 << 2 | 2, 0x05, 1, 2, 3, 4}), kb},
        {"vector with a huge count", compact_blob({0x23, 12 << 2 | 3, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F}), kb},
        {"vector shared with a string", compact_blob({0x05, 0x02, 0x07, 0x00, 0xC1, 0x23, 0x01, 0x00}), kb},
        {"routine!", compact_blob({0x1D}), "access/no-codec"},
        {"port!", compact_blob({0x30}), "access/no-codec"},
    };
    for (const Case& c : cases) EXPECT_EQ(decode_error(c.blob), c.error) << c.what;
}

TEST_F(Kovbin, EveryCutOfABlobRaises) {
    stack::Mark mark;
    Cell* v = evaluate(
        "o: make object! [a: 1 f: func [x] [a + x]] "
        "reduce [o [1 2.5 \"s\" #{01}] make error! 302 1-Jan-2000/10:00 $1.25 #[a 1] make bitset! \"ab\" "
        "make vector! [integer! 16 [1 2 3]]]");
    for (bool compact : {true, false}) {
        Bytes blob = encoded(*v, compact);
        for (size_t n = 0; n < blob.size(); ++n) {
            std::string e = decode_error(Bytes(blob.begin(), blob.begin() + long(n)));
            EXPECT_TRUE(e == "script/kb-invalid-record" || e == "script/invalid-data") << n << ": " << e;
        }
        EXPECT_EQ(decode_error(blob), "no error");
    }
}

// ---- the boot load -----------------------------------------------------------------------------------

TEST_F(Kovbin, BootLoadBindsWordsAndRestoresTheCollector) {
    // A binding record sets its word and leaves no cell behind; a word bound through a root
    // index refers to the context of the value at that index.
    Bytes blob = compact_blob({0xC4, 0x10, 0x00, 0x87,                   // kovbin-boot-word: 7
                               0x0E, 0x1A, 0x01, 0x01, 0x88,             // context [b: 8]
                               0x4F, 0x01, 0x00, 0x01},                  // b bound through root 0
                              {"kovbin-boot-word", "b"});
    collector::enable(true);
    Cell out{T_none, 0, 0, 0};
    kovbin::load_boot(blob.data(), blob.size(), out);
    collector::Root keep(out);
    EXPECT_TRUE(collector::enabled());
    EXPECT_EQ(test::eval("kovbin-boot-word"), "7");
    ASSERT_EQ(block::rs_length_q(out), 2);
    Cell b = *block::rs_abs_at(out, 1);
    EXPECT_EQ(b.w1, block::rs_abs_at(out, 0)->w1);
    EXPECT_EQ(context::get(b)->w2, 8u);
    // The same records are corrupt data outside the boot load; a failed boot load also
    // restores the collector switch.
    EXPECT_EQ(decode_error(blob), "script/kb-invalid-record");
    Bytes bad = blob;
    bad[0] = 'X';
    EXPECT_EQ(error_of([&] { kovbin::load_boot(bad.data(), bad.size(), out); }), "script/invalid-data");
    EXPECT_TRUE(collector::enabled());
}

TEST_F(Kovbin, CompressedBlobsDecodeAsTheirPlainForm) {
    stack::Mark mark;
    std::string text;
    for (int i = 0; i < 200; ++i) text += "[repeated words and \"text\" " + std::to_string(i % 7) + "] ";
    Cell* v = scan(text);
    for (bool compact : {true, false}) {
        Bytes blob = encoded(*v, compact);
        Bytes packed(blob.size());
        uint64_t n = kovbin::compress_blob(blob.data(), blob.size(), packed.data());
        ASSERT_GT(n, 0u);
        packed.resize(n);
        EXPECT_EQ(packed[7] & kovbin::flag_compressed, kovbin::flag_compressed);
        EXPECT_EQ(encoded(*decoded(packed), compact), blob);
        // A stream whose length field disagrees with its bytes.
        packed[8] ^= 0x5A;
        EXPECT_EQ(decode_error(packed), "script/invalid-data");
    }
}

// The embedded image holds, per manifest entry, the file name and the scanned block: the same
// values as scanning the sources now.
TEST_F(Kovbin, BootImageMatchesItsSources) {
    stack::Mark mark;
    Cell image{T_none, 0, 0, 0};
    kovbin::load_boot(boot::image, boot::image_size, image);
    collector::Root keep(image);

    boot::SourceFiles sources = boot::read_tree(KOV_SOURCE_DIR);
    Cell* expected = stack::reserve();
    block::make_at(*expected, 8);
    for (std::size_t i = 0; i < sources.names.size(); ++i) {
        Cell* name = test::str(sources.names[i]);
        cell::set_type(*name, T_file);
        block::rs_append(*expected, *name);
        block::rs_append(*expected, *scan(sources.texts[i]));
    }
    ASSERT_GE(block::rs_length_q(*expected), 10);
    EXPECT_EQ(cell::type(*block::rs_abs_at(image, 0)), uint32_t(T_file));
    EXPECT_EQ(test::text(*block::rs_abs_at(image, 0)), "boot/natives.kov");
    EXPECT_EQ(encoded(image, true), encoded(*expected, true));
}

}  // namespace
