// The parse engine's matching routines (see match.h).
#include "runtime/parse/match.h"

#include "runtime/cells.h"
#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/families.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/stack.h"
#include "runtime/lexer/lexer.h"
#include "runtime/unicode.h"
#include "runtime/words.h"

namespace kov::parse {

using memory::Buffer;
using memory::Node;

namespace {

inline int32_t fold(int32_t cp) { return static_cast<int32_t>(unicode::case_map(static_cast<uint32_t>(cp), false)); }

// A read-only view of a series' units, taken afresh for each routine call.
struct Units {
    const uint8_t* head;
    uint32_t unit;
    int64_t length;
    int32_t at(int64_t i) const { return static_cast<int32_t>(unicode::char_at(head + i * unit, unit)); }
};

Units units_of(const Cell& s) {
    Buffer* b = memory::buffer(series::node_of(s));
    uint32_t unit = b->unit() ? b->unit() : 1;
    return Units{b->head_ptr(), unit, static_cast<int64_t>(b->used() / unit)};
}

bool text_rule_q(uint32_t t) { return in(t, ANY_STRING) || t == T_binary; }

// The rule's text from its index: characters of a string (a tag's between its "<" and ">"),
// bytes of a binary.
struct RuleText {
    Units u;
    int64_t from;
    int64_t count;
    bool tag;
};

RuleText rule_text(const Cell& rule) {
    Units u = units_of(rule);
    int64_t from = series::index_of(rule);
    if (from < 0) from = 0;
    if (from > u.length) from = u.length;
    return RuleText{u, from, u.length - from, cell::is(rule, T_tag)};
}

// Characters of text input against a text rule; gives the characters covered or -1.
int64_t match_text_chars(const Units& in, int64_t index, int64_t end, const RuleText& r, bool case_) {
    int64_t need = r.count + (r.tag ? 2 : 0);
    if (index + need > end) return -1;
    int64_t i = index;
    if (r.tag && in.at(i++) != '<') return -1;
    for (int64_t k = 0; k < r.count; ++k, ++i) {
        int32_t a = in.at(i), b = r.u.at(r.from + k);
        if (a != b && (case_ || fold(a) != fold(b))) return -1;
    }
    if (r.tag && in.at(i) != '>') return -1;
    return need;
}

// Bytes of binary input against a text rule: a string rule as its UTF-8 bytes, exactly.
int64_t match_text_bytes(const Units& in, int64_t index, int64_t end, const RuleText& r) {
    int64_t i = index;
    auto byte = [&](int32_t b) {
        if (i >= end || in.at(i) != b) return false;
        ++i;
        return true;
    };
    if (r.tag && !byte('<')) return -1;
    for (int64_t k = 0; k < r.count; ++k) {
        uint32_t cp = static_cast<uint32_t>(r.u.at(r.from + k));
        uint8_t enc[4];
        int32_t n = cp < 0x80 ? (enc[0] = static_cast<uint8_t>(cp), 1) : unicode::encode_utf8(cp, enc);
        for (int32_t j = 0; j < n; ++j)
            if (!byte(enc[j])) return -1;
    }
    if (r.tag && !byte('>')) return -1;
    return i - index;
}

bool bitset_has(Node bits, int32_t cp) {
    if (cp < 0) return false;
    Buffer* b = memory::buffer(bits);
    uint64_t byte = static_cast<uint64_t>(cp) >> 3;
    if (byte >= b->used()) return (b->flags & memory::bitset_complement) != 0;
    return (b->head_ptr()[byte] & (0x80u >> (cp & 7))) != 0;
}

// Single-value comparison on block input.
bool same_value(const Cell& value, const Cell& rule, bool case_) {
    uint32_t rt = cell::type(rule);
    if (rt == T_lit_word || rt == T_lit_path)
        return actions::compare(value, rule, case_ ? actions::parse_strict : actions::parse_loose);
    return actions::compare(value, rule, case_ ? actions::strict_equal : actions::equal);
}

}  // namespace

InputKind kind_of(uint32_t t) {
    if (in(t, ANY_BLOCK)) return InputKind::cells;
    if (in(t, ANY_STRING)) return InputKind::text;
    if (t == T_binary) return InputKind::bytes;
    return InputKind::other;
}

int64_t length_of(const Cell& s) {
    Buffer* b = memory::buffer(series::node_of(s));
    uint32_t unit = b->unit() ? b->unit() : 1;
    return static_cast<int64_t>(b->used() / unit);
}

Cell value_at(const Cell& input, int64_t index) {
    switch (kind_of(cell::type(input))) {
    case InputKind::cells: return cells::at(series::node_of(input), static_cast<uint32_t>(index));
    case InputKind::text: return char_::make(static_cast<int32_t>(units_of(input).at(index)));
    default: return integer::make(static_cast<int32_t>(units_of(input).at(index)));
    }
}

bool literal_q(const Cell& rule, InputKind kind) {
    uint32_t t = cell::type(rule);
    if (t == T_char_ || t == T_bitset || text_rule_q(t)) return true;
    return kind == InputKind::cells && (t == T_lit_word || t == T_lit_path);
}

int64_t match_one(const Cell& input, int64_t index, int64_t end, const Cell& rule, bool case_) {
    InputKind kind = kind_of(cell::type(input));
    uint32_t t = cell::type(rule);
    if (kind == InputKind::cells) {
        if (index >= end) return -1;
        Cell v = cells::at(series::node_of(input), static_cast<uint32_t>(index));
        return same_value(v, rule, case_) ? 1 : -1;
    }
    Units in = units_of(input);
    if (end > in.length) end = in.length;
    if (text_rule_q(t)) {
        RuleText r = rule_text(rule);
        if (kind == InputKind::text) return match_text_chars(in, index, end, r, case_);
        if (t == T_binary) {
            if (index + r.count > end) return -1;
            for (int64_t k = 0; k < r.count; ++k)
                if (in.at(index + k) != r.u.at(r.from + k)) return -1;
            return r.count;
        }
        return match_text_bytes(in, index, end, r);
    }
    if (index >= end) return -1;
    int32_t c = in.at(index);
    if (t == T_char_) {
        int32_t w = char_::get(rule);
        if (c == w) return 1;
        return kind == InputKind::text && !case_ && fold(c) == fold(w) ? 1 : -1;
    }
    if (t == T_bitset) return bitset_has(bitset::node_of(rule), c) ? 1 : -1;
    return -1;
}

bool match_value(const Cell& input, int64_t& index, int64_t end, const Cell& rule, int32_t min, int32_t max,
                 bool case_) {
    int64_t length = length_of(input);
    if (end > length) end = length;
    int64_t count = 0;
    int64_t i = index;
    while (max < 0 || count < max) {
        int64_t n = match_one(input, i, end, rule, case_);
        if (n < 0) break;
        if (n == 0) {  // an empty text: matched, and no further round would move
            index = i;
            return true;
        }
        i += n;
        ++count;
    }
    if (count < min) return false;
    index = i;
    return true;
}

int64_t search(const Cell& input, int64_t from, int64_t end, const Cell& rule, bool case_, int64_t& length) {
    InputKind kind = kind_of(cell::type(input));
    if (kind != InputKind::cells) {
        uint32_t t = cell::type(rule);
        if (t != T_char_ && t != T_bitset && !text_rule_q(t)) error::fire(err::script_parse_rule, rule);
    }
    int64_t total = length_of(input);
    if (end > total) end = total;
    for (int64_t i = from; i < end || (i == from && i == end); ++i) {
        int64_t n = match_one(input, i, end, rule, case_);
        if (n >= 0) {
            length = n;
            return i;
        }
        if (i >= end) break;
    }
    return -1;
}

int64_t type_match(const Cell& input, int64_t index, int64_t end, const Cell& rule) {
    InputKind kind = kind_of(cell::type(input));
    if (kind == InputKind::text) error::fire(err::script_parse_unsupported);
    auto accepts = [&](uint32_t t) {
        return cell::is(rule, T_datatype) ? datatype::id_of(rule) == t : typeset::contains(rule, t);
    };
    if (index >= end) return -1;
    if (kind == InputKind::cells) return accepts(cell::type(cells::at(series::node_of(input), static_cast<uint32_t>(index)))) ? 1 : -1;
    // One value scanned from the bytes at the index; text the lexer refuses matches nothing.
    stack::Mark mark;
    Cell* source = stack::push(input);
    series::set_index(*source, static_cast<uint32_t>(index));
    Cell* out = stack::reserve();
    lexer::Options options;
    options.one_value = true;
    options.wrap = true;
    int64_t consumed = 0;
    uint32_t type = 0;
    try {
        type = lexer::load(*out, *source, end - index, options, &consumed);
    } catch (Error&) {
        return -1;
    }
    if (type == 0 || consumed <= 0 || cell::is(*out, T_unset)) return -1;
    return accepts(cell::type(*out)) ? consumed : -1;
}

int64_t find_bar(Node rules, uint32_t pos, uint32_t tail) {
    for (uint32_t i = pos; i < tail; ++i) {
        const Cell& c = cells::at(rules, i);
        if (cell::is(c, T_word) && word::symbol_of(c) == words::symbols::bar) return i + 1;
    }
    return -1;
}

}  // namespace kov::parse
