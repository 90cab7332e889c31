// The parse engine's matching routines: literal matching, repeated literal matching, forward
// search for `to` and `thru`, datatype matching and the search for the next `|`. The rule
// interpreter (parse.cpp) leaves every look at the input's units to them.
//
// An input is a series value read three ways: cells (block-like series), characters (the
// string types, 1, 2 or 4 bytes a unit) or bytes (binary!). Positions are unit indexes from the
// buffer head; `end` is the first index a match may not reach (the tail, or the part limit).
// Every routine reads the buffer afresh: the input may have been changed, widened or moved by
// Kov code since the last look, so nothing here trusts an index beyond the current tail.
//
// Moving memory: only `type_match` on binary input allocates (it runs the lexer); the others
// read buffers and compare values without allocating.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kov::parse {

enum class InputKind : uint8_t { cells, text, bytes, other };

InputKind kind_of(uint32_t type);
// Units from the buffer head to the tail.
int64_t length_of(const Cell& series);

// The value at an index below the tail: the cell itself, a char! or an integer! (a byte).
Cell value_at(const Cell& input, int64_t index);

// The units a literal rule value covers when matched at index (before end), or -1 when it does
// not match there. Case is folded unless case_ (never on binary input). On block input the rule
// is compared with the value at the index (a lit-word! or lit-path! matches a word or path of
// the same spelling); on text and binary input a char!, bitset!, any-string! (a tag! with its
// "<" and ">") or binary! rule is matched; any other rule does not match.
int64_t match_one(const Cell& input, int64_t index, int64_t end, const Cell& rule, bool case_);

// Whether match_one knows the rule value as a literal for this input (the repeated and the
// searching routines take only those).
bool literal_q(const Cell& rule, InputKind kind);

// The repeated literal match: counts matches from the index, at most max (-1: no limit); the
// index moves past them. An empty text matches at once without moving. True when the count
// reached min.
bool match_value(const Cell& input, int64_t& index, int64_t end, const Cell& rule, int32_t min, int32_t max,
                 bool case_);

// The forward search of to/thru: the first index from `from` (before end) where the rule
// matches; gives it and the match length, or -1. On text or binary input a rule that is not a
// char!, bitset!, any-string! or binary! raises script/parse-rule.
int64_t search(const Cell& input, int64_t from, int64_t end, const Cell& rule, bool case_, int64_t& length);

// A datatype! or typeset! rule at the index: on block input the value's datatype; on binary
// input the datatype of the one value the lexer scans from there (a scan that fails does not
// match). Gives the units covered, or -1. String input raises script/parse-unsupported.
int64_t type_match(const Cell& input, int64_t index, int64_t end, const Cell& rule);

// The position after the next word `|` in the rules from pos, or -1.
int64_t find_bar(memory::Node rules, uint32_t pos, uint32_t tail);


}  // namespace kov::parse
