// The lexer's fixed tables: every byte's class and flags, the state machine that finds each
// token's extent and class, and the small lookup tables of the loaders. They are data, built
// at compile time from the row descriptions in tables.cpp (whose static_asserts check that
// every byte and every (state, class) pair is given exactly once), and read-only afterwards.
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

// Character classes that the scanners name.
enum Class : uint8_t {
    c_space = 0, c_line = 1, c_digit = 2, c_zero = 3, c_block_open = 4, c_block_close = 5,
    c_paren_open = 6, c_paren_close = 7, c_brace_open = 8, c_brace_close = 9, c_quote = 10,
    c_hash = 11, c_apostrophe = 12, c_colon = 13, c_x = 14, c_T = 15, c_h = 16, c_e = 17,
    c_E = 18, c_hex_lower = 19, c_hex_upper = 20, c_slash = 21, c_backslash = 22, c_less = 23,
    c_greater = 24, c_equal = 25, c_percent = 26, c_comma = 27, c_semicolon = 28, c_at = 29,
    c_dot = 30, c_dollar = 31, c_plus = 32, c_minus = 33, c_caret = 34, c_control = 35,
    c_continuation = 36, c_word = 37, c_bad = 38, c_end = 39,
};

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

enum StateId : uint8_t {
    s_start = 0, s_braced = 4, s_point = 35, s_path = 59,
    s_end = 66, s_error = 67, s_path_head = 75,
};

// Token classes: terminal state minus 66.
enum Token : uint8_t {
    t_end = 0, t_error = 1, t_block_open = 2, t_block_close = 3, t_paren_open = 4,
    t_paren_close = 5, t_brace_open = 6, t_brace_close = 7, t_map_open = 8, t_path_head = 9,
    t_construct = 10, t_comment = 11, t_comma = 12, t_string = 13, t_word = 14, t_issue = 15,
    t_integer = 16, t_refinement = 17, t_char = 18, t_file = 19, t_binary = 20, t_percent = 21,
    t_float = 22, t_float_special = 23, t_tuple = 24, t_date = 25, t_pair = 26, t_point = 27,
    t_time = 28, t_money = 29, t_tag = 30, t_url = 31, t_email = 32, t_hex = 33,
    t_raw_string = 34, t_ref = 35,
};
constexpr uint32_t token_class_count = 36;

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
