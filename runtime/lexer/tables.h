// The lexer's fixed tables: every byte's class and flags, the state machine that finds each
// token's extent and class, and the small lookup tables of the loaders. They are data, built
// at compile time from the row descriptions in tables.cpp, written with the class, state and
// token names of tables.def (the builders refuse a byte without a class, a name they do not
// know and a (state, class) pair given twice), and read-only afterwards.
//
// States 0-64 scan; 66-101 are terminal: the token ends before the byte that led there, and
// its token class is the state minus 66. State 65 is never produced. Nothing here allocates.
#pragma once
#include <array>
#include <cstdint>

namespace kov::lexer {

// ---- byte classes -------------------------------------------------------------------------------
constexpr uint32_t class_count = 40;
constexpr uint32_t class_mask = 0xFF;

// The byte classes, in column order (tables.def lists them).
enum Class : uint8_t {
#define LEXER_CLASS(name) c_##name,
#include "runtime/lexer/tables.def"
#undef LEXER_CLASS
};
static_assert(c_end + 1 == class_count);

// Flags ORed over all bytes of a token (the high 24 bits of a class entry).
constexpr uint32_t f_percent = 0x00040000;
constexpr uint32_t f_greater = 0x00080000;
constexpr uint32_t f_less = 0x00100000;
constexpr uint32_t f_sign = 0x00200000;
constexpr uint32_t f_end = 0x00400000;
constexpr uint32_t f_hash = 0x00800000;
constexpr uint32_t f_exponent = 0x01000000;
constexpr uint32_t f_apostrophe = 0x02000000;
constexpr uint32_t f_colon = 0x04000000;
constexpr uint32_t f_comma = 0x08000000;
constexpr uint32_t f_point = 0x10000000;
constexpr uint32_t f_caret = 0x20000000;
constexpr uint32_t f_utf8_2_3 = 0x40000000;  // a two- or three-byte UTF-8 sequence
constexpr uint32_t f_utf8_4 = 0x80000000;    // a four-byte UTF-8 sequence
constexpr uint32_t f_utf8 = f_utf8_2_3 | f_utf8_4;
// Added to a braced string's flags when its opening brace began a new line.
constexpr uint32_t f_braced_new_line = 0x00020000;

extern const std::array<uint32_t, 256> byte_classes;

// ---- the state machine --------------------------------------------------------------------------
constexpr uint32_t scan_state_count = 65;   // rows 0-64
constexpr uint32_t state_count = 104;       // every state id, terminal ones included
constexpr uint8_t first_terminal = 66;

// Token classes: terminal state minus first_terminal.
enum Token : uint8_t {
#define LEXER_TOKEN(name, type) t_##name,
#include "runtime/lexer/tables.def"
#undef LEXER_TOKEN
};
constexpr uint32_t token_class_count = 36;
static_assert(t_ref + 1 == token_class_count && first_terminal + token_class_count == 102);

// The scan states, in row order, then the terminal states the scanners name.
enum StateId : uint8_t {
#define LEXER_STATE(name, type) s_##name,
#include "runtime/lexer/tables.def"
#undef LEXER_STATE
    s_end = first_terminal + t_end,
    s_error = first_terminal + t_error,
    s_path_head = first_terminal + t_path_head,
};
static_assert(s_path_sign + 1 == scan_state_count);

extern const std::array<std::array<uint8_t, class_count>, scan_state_count> transitions;
extern const std::array<uint8_t, state_count> skip_table;
extern const std::array<uint8_t, state_count> state_types;
extern const std::array<uint8_t, class_count> line_table;
extern const std::array<uint8_t, class_count> path_end_table;

// ---- loader tables ------------------------------------------------------------------------------
// 1 for the bytes that may appear in the text of a float (point coordinates).
extern const std::array<uint8_t, 256> float_text_table;

// The float-syntax automaton: classes 0 other, 1 sign, 2 digit, 3 exponent letter, 4 point,
// 5 apostrophe, 6 the end column; states 0-8 scan, 9 accepts, 10 rejects.
constexpr uint32_t float_syntax_classes = 7;
constexpr uint32_t float_syntax_states = 9;
constexpr uint8_t float_accept = 9;
constexpr uint8_t float_reject = 10;
constexpr uint32_t max_float_text = 312;
extern const std::array<uint8_t, 256> float_syntax_classes_of;
extern const std::array<std::array<uint8_t, float_syntax_classes>, float_syntax_states> float_syntax;

// The value of a hexadecimal digit, 255 for every other byte.
extern const std::array<uint8_t, 256> hex_digits;

// The names accepted in ^(name) escapes.
struct EscapeName {
    char name[8];
    uint8_t length;
    uint8_t code;
};
extern const std::array<EscapeName, 7> escape_names;

extern const std::array<const char*, 12> month_names;
extern const std::array<uint8_t, 12> month_days;  // February as 29

// The white space of Unicode that ends a word (bit per code point, most significant bit
// first in each byte).
constexpr uint32_t unicode_space_limit = 12289;
extern const std::array<uint8_t, (unicode_space_limit + 7) / 8> unicode_spaces;
inline bool unicode_space_q(uint32_t cp) {
    return cp < unicode_space_limit && (unicode_spaces[cp >> 3] & (0x80u >> (cp & 7)));
}

// True when the text is valid float syntax (at most 312 bytes, and the automaton does not
// reject it).
bool float_syntax_q(const uint8_t* start, const uint8_t* end);

}  // namespace kov::lexer
