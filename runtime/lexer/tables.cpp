// The lexer's tables, built at compile time. The transition table is written the way it is
// read: one row per state, a default next state and the exceptions, with the names of
// tables.def. The builder refuses a row out of order, a name it does not know or a class named
// twice in a row, so a mistyped row does not compile.
#include "runtime/lexer/tables.h"

#include "runtime/cell.h"

namespace kov::lexer {

namespace {

// ---- byte classes -------------------------------------------------------------------------------

constexpr std::array<uint32_t, 256> build_byte_classes() {
    std::array<uint32_t, 256> t{};
    std::array<bool, 256> set{};
    auto put = [&](uint32_t b, uint32_t cls, uint32_t flags = 0) {
        if (set[b]) throw "byte given twice";
        set[b] = true;
        t[b] = cls | flags;
    };
    auto range = [&](uint32_t from, uint32_t to, uint32_t cls, uint32_t flags = 0) {
        for (uint32_t b = from; b <= to; ++b) put(b, cls, flags);
    };
    put(0, c_end, f_end);
    range(1, 8, c_control);
    put(9, c_space);
    put(10, c_line);
    put(11, c_control);
    put(12, c_control);
    put(13, c_space);
    range(14, 31, c_control);
    put(' ', c_space);
    range('1', '9', c_digit);
    put('0', c_zero);
    put('[', c_block_open);
    put(']', c_block_close);
    put('(', c_paren_open);
    put(')', c_paren_close);
    put('{', c_brace_open);
    put('}', c_brace_close);
    put('"', c_quote);
    put('#', c_hash, f_hash);
    put('\'', c_apostrophe, f_apostrophe);
    put(':', c_colon, f_colon);
    put('x', c_x);
    put('X', c_x);
    put('T', c_T);
    put('h', c_h);
    put('e', c_e, f_exponent);
    put('E', c_E, f_exponent);
    for (char c : {'a', 'b', 'c', 'd', 'f'}) put(uint8_t(c), c_hex_lower);
    for (char c : {'A', 'B', 'C', 'D', 'F'}) put(uint8_t(c), c_hex_upper);
    put('/', c_slash);
    put('\\', c_backslash);
    put('<', c_less, f_less);
    put('>', c_greater, f_greater);
    put('=', c_equal);
    put('%', c_percent, f_percent);
    put(',', c_comma, f_comma);
    put(';', c_semicolon);
    put('@', c_at);
    put('.', c_dot, f_point);
    put('$', c_dollar);
    put('+', c_plus, f_sign);
    put('-', c_minus, f_sign);
    put('^', c_caret, f_caret);
    for (char c : {'!', '&', '*', '?', '_', '`', '|', '~', 'Y', 'Z', 'g', 'y', 'z'}) put(uint8_t(c), c_word);
    range('G', 'S', c_word);
    range('U', 'W', c_word);
    range('i', 'w', c_word);
    range(127, 191, c_continuation);
    put(192, c_bad);
    put(193, c_bad);
    range(194, 239, c_word, f_utf8_2_3);
    range(240, 247, c_word, f_utf8_4);
    range(248, 255, c_bad);
    for (bool b : set)
        if (!b) throw "a byte has no class";
    return t;
}

// ---- the transition table -----------------------------------------------------------------------

// The names the rows are written with, in the order of tables.def.
constexpr const char* class_names[class_count] = {
#define LEXER_CLASS(name) #name,
#include "runtime/lexer/tables.def"
#undef LEXER_CLASS
};
constexpr const char* state_names[scan_state_count] = {
#define LEXER_STATE(name, type) #name,
#include "runtime/lexer/tables.def"
#undef LEXER_STATE
};
constexpr const char* token_names[token_class_count] = {
#define LEXER_TOKEN(name, type) #name,
#include "runtime/lexer/tables.def"
#undef LEXER_TOKEN
};

// One row per scan state: the next state for every class not named, then the exceptions.
// A next state is written as a scan state's name, or as "=" and a token class's name when
// the token ends there (before the byte that led there). An exception "c,c,c>state" or
// "c,c,c=token" names classes; exceptions are separated by a space.
struct Row {
    StateId state;
    const char* fallback;
    const char* exceptions;
};

constexpr Row rows[scan_state_count] = {
    {s_start, "word",
        "space,line,control>start "
        "semicolon>line_comment "
        "quote>string "
        "percent>after_percent "
        "slash>after_slash "
        "hash>after_hash "
        "digit,zero>integer "
        "dollar>after_dollar "
        "E,hex_upper>maybe_hex "
        "less>after_less "
        "plus,minus>after_sign "
        "dot>after_dot "
        "apostrophe,colon>after_quote "
        "at>ref "
        "equal>after_equal "
        "end=end "
        "brace_close,backslash,continuation,bad=error "
        "block_open=block_open "
        "block_close=block_close "
        "paren_open=paren_open "
        "paren_close=paren_close "
        "brace_open=brace_open "
        "comma=comma"},
    {s_line_comment, "line_comment", "bad=error line,end=comment"},
    {s_string, "string", "caret>string_escape line,bad,end=error quote=string"},
    {s_string_escape, "string", "bad,end=error"},
    {s_braced, "braced", "caret>braced_escape bad,end=error brace_open=brace_open brace_close=brace_close"},
    {s_braced_escape, "braced", "bad,end=error"},
    {s_after_percent, "file",
        "quote>quoted_file "
        "percent>percent_run "
        "brace_open>raw_string "
        "colon>percent_word "
        "bad=error "
        "space,line,block_open,block_close,paren_open,paren_close,brace_close,semicolon,at,control,end=word"},
    {s_file, "file",
        "quote,bad=error "
        "space,line,block_open,block_close,paren_open,paren_close,brace_open,brace_close,colon,semicolon,at,"
        "end=file"},
    {s_quoted_file, "quoted_file", "line,bad,end=error quote=file"},
    {s_percent_run, "file",
        "percent>percent_run "
        "brace_open>raw_string "
        "bad=error "
        "space,line,block_open,block_close,paren_open,paren_close,brace_close,quote,backslash,semicolon,"
        "control,end=word"},
    {s_raw_string, "raw_string", "brace_close>raw_brace bad,end=error"},
    {s_raw_brace, "raw_string", "brace_close>raw_brace percent>raw_close bad,end=error"},
    {s_raw_close, "=error",
        "percent>raw_close "
        "space,line,block_open,block_close,paren_open,paren_close,brace_open,quote,less,semicolon,control,"
        "end=raw_string"},
    {s_after_slash, "refinement",
        "slash>slash_word "
        "colon>word_colon "
        "comma,bad=error "
        "space,line,block_open,block_close,paren_open,paren_close,brace_open,brace_close,quote,hash,"
        "semicolon,at,control,end=word"},
    {s_refinement, "refinement",
        "colon,comma,bad=error "
        "space,line,block_open,block_close,paren_open,paren_close,brace_open,brace_close,quote,slash,"
        "semicolon,at,control,end=refinement"},
    {s_slash_word, "word",
        "slash>slash_word "
        "percent,comma,dollar,bad=error "
        "space,line,block_open,block_close,paren_open,paren_close,brace_open,brace_close,quote,hash,"
        "semicolon,at,control,end=word"},
    {s_after_hash, "issue",
        "brace_open>binary "
        "quote>char "
        "paren_open>construct "
        "space,line,block_close,paren_close,brace_close,colon,less,greater,comma,bad=error "
        "block_open=map_open "
        "semicolon,at,control,end=issue"},
    {s_binary, "=error",
        "space,line,digit,zero,x,T,h,e,E,hex_lower,hex_upper,slash,equal,plus,word>binary "
        "semicolon>binary_comment "
        "brace_close=binary"},
    {s_binary_comment, "binary_comment", "line>binary bad,end=error"},
    {s_char, "char", "caret>char_escape bad,end=error quote=char"},
    {s_char_escape, "char", "bad,end=error"},
    {s_construct, "construct", "bad,end=error paren_close=construct"},
    {s_issue, "issue",
        "colon,slash,bad=error "
        "space,line,block_open,block_close,paren_open,paren_close,brace_open,brace_close,quote,semicolon,at,"
        "control,end=issue"},
    {s_integer, "=integer",
        "hash>after_hash "
        "digit,zero,apostrophe>integer "
        "dot>digits_point "
        "e>exponent "
        "E>digits_E "
        "T,slash,minus>date "
        "colon>digits_colon "
        "x>number_x "
        "hex_upper>hex_digits "
        "h>decimal_h "
        "at>email "
        "hex_lower,backslash,greater,equal,dollar,plus,caret,continuation,word,bad=error "
        "percent=percent"},
    {s_digits_point, "=error",
        "digit,zero,apostrophe>fraction "
        "e,E>exponent "
        "hash>point_hash "
        "x>number_x "
        "percent=percent "
        "space,line,block_open,block_close,paren_open,paren_close,brace_open,brace_close,quote,slash,less,"
        "comma,semicolon,control,end=float"},
    {s_fraction, "=float",
        "digit,zero,apostrophe>fraction "
        "e,E>exponent "
        "dot>tuple "
        "x>number_x "
        "at>email "
        "hash,T,h,hex_lower,hex_upper,backslash,greater,equal,dollar,plus,minus,caret,continuation,word,"
        "bad=error "
        "percent=percent"},
    {s_exponent, "=error",
        "digit,zero,plus,minus>exponent "
        "at>email "
        "percent=percent "
        "space,line,block_open,block_close,paren_open,paren_close,brace_open,brace_close,quote,colon,slash,"
        "less,comma,semicolon,control,end=float"},
    {s_digits_E, "=float",
        "plus,minus>exponent "
        "digit,zero>digits_E "
        "dot>tuple "
        "E,hex_upper>maybe_hex "
        "h>decimal_h "
        "at>email "
        "hash,apostrophe,x,T,e,hex_lower,backslash,greater,equal,semicolon,dollar,caret,continuation,word,"
        "bad=error "
        "percent=percent"},
    {s_point_hash, "=float_special",
        "x,T,h,e,E,hex_lower,hex_upper,greater,equal,dot,plus,minus,continuation,word>point_hash "
        "hash,apostrophe,colon,percent,at,dollar,caret,bad=error "
        "digit=float"},
    {s_tuple, "=error",
        "digit,zero,dot>tuple "
        "space,line,block_open,block_close,paren_open,paren_close,brace_open,brace_close,quote,colon,slash,"
        "less,semicolon,control,end=tuple"},
    {s_date, "date",
        "percent,comma,at,caret,continuation,bad=error "
        "space,line,block_open,block_close,paren_open,paren_close,brace_open,brace_close,quote,less,"
        "semicolon,dollar,control,end=date"},
    {s_digits_colon, "=error", "digit,zero>time"},
    {s_time, "=error",
        "digit,zero,colon,dot>time "
        "space,line,block_open,block_close,paren_open,paren_close,brace_open,brace_close,quote,slash,less,"
        "semicolon,control,end=time"},
    {s_number_x, "=error", "digit,zero,plus,minus>pair at>email"},
    {s_pair, "=error",
        "digit,zero,e,E,dot>pair "
        "at>email "
        "space,line,block_open,block_close,paren_open,paren_close,brace_open,brace_close,quote,colon,slash,"
        "less,semicolon,control,end=pair"},
    {s_point, "=error",
        "space,digit,zero,block_close,hash,e,E,hex_lower,hex_upper,comma,dot,plus,minus,word>point "
        "paren_close=point"},
    {s_after_dollar, "=error", "digit,zero>money"},
    {s_money, "=error",
        "digit,zero,apostrophe>money "
        "dot>money_fraction "
        "space,line,block_open,block_close,paren_open,paren_close,brace_open,brace_close,quote,hash,colon,"
        "slash,less,semicolon,control,end=money"},
    {s_money_fraction, "=error",
        "digit,zero,apostrophe>money_fraction "
        "space,line,block_open,block_close,paren_open,paren_close,brace_open,brace_close,quote,hash,colon,"
        "slash,less,semicolon,control,end=money"},
    {s_hex_digits, "=error", "digit,zero,E,hex_upper>hex_digits h>hex_h at>email"},
    {s_maybe_hex, "=word",
        "dollar>money "
        "digit,zero,E,hex_upper>maybe_hex "
        "h>hex_h "
        "apostrophe,x,T,e,hex_lower,less,greater,equal,dot,plus,minus,caret,continuation,word>word "
        "colon>word_colon "
        "at>email "
        "percent,comma,bad=error "
        "slash=path_head"},
    {s_hex_h, "word",
        "dollar>money "
        "colon>word_colon "
        "at>email "
        "hash,percent,comma,bad=error "
        "slash=path_head "
        "space,line,block_open,block_close,paren_open,paren_close,brace_open,brace_close,quote,backslash,"
        "semicolon,control,end=hex"},
    {s_decimal_h, "=error",
        "dollar>money "
        "at>email "
        "slash=path_head "
        "space,line,block_open,block_close,paren_open,paren_close,brace_open,brace_close,quote,backslash,"
        "less,semicolon,control,end=hex"},
    {s_after_less, "tag",
        "less>after_less "
        "apostrophe>tag_single "
        "greater,equal,minus>word "
        "colon>word_colon "
        "bad=error "
        "space,line,block_open,block_close,paren_open,paren_close,brace_open,brace_close,quote,semicolon,"
        "control,end=word"},
    {s_tag, "tag", "quote>tag_double apostrophe>tag_single bad,end=error greater=tag"},
    {s_tag_double, "tag_double", "quote>tag bad,end=error"},
    {s_tag_single, "tag_single", "apostrophe>tag bad,end=error"},
    {s_after_sign, "word",
        "digit,zero>integer "
        "dollar>money "
        "dot>after_dot "
        "apostrophe,percent,caret,bad=error "
        "slash=path_head "
        "space,line,block_open,block_close,paren_open,paren_close,brace_open,brace_close,quote,hash,"
        "backslash,semicolon,control,end=word"},
    {s_quote_sign, "word",
        "apostrophe,percent,dollar,caret,bad=error "
        "slash=path_head "
        "space,line,block_open,block_close,paren_open,paren_close,brace_open,brace_close,quote,hash,"
        "backslash,semicolon,control,end=word"},
    {s_after_dot, "word",
        "digit,zero,plus,minus>dot_number "
        "colon>word_colon "
        "at>email "
        "percent,comma,dollar,bad=error "
        "slash=path_head "
        "space,line,block_open,block_close,paren_open,paren_close,brace_open,brace_close,quote,hash,"
        "backslash,semicolon,control,end=word"},
    {s_dot_number, "=error",
        "x>number_x "
        "digit,zero,e,E,plus,minus>dot_number "
        "at>email "
        "percent=percent "
        "space,line,block_open,block_close,paren_open,paren_close,brace_open,brace_close,quote,colon,slash,"
        "less,control,end=float"},
    {s_after_quote, "=error",
        "slash>after_slash "
        "less>after_less "
        "plus,minus>quote_sign "
        "x,T,h,e,E,hex_lower,hex_upper,greater,dot,caret,continuation,word>word "
        "percent>percent_word "
        "equal>after_equal"},
    {s_word, "word",
        "dollar>after_dollar "
        "colon>word_colon "
        "at>email "
        "percent,comma,bad=error "
        "slash=path_head "
        "space,line,block_open,block_close,paren_open,paren_close,brace_open,brace_close,quote,hash,"
        "backslash,less,semicolon,control,end=word"},
    {s_word_colon, "url",
        "less,bad=error "
        "space,line,block_open,block_close,paren_open,paren_close,brace_open,brace_close,quote,backslash,"
        "semicolon,control,end=word"},
    {s_percent_word, "=error",
        "percent>percent_word "
        "space,line,block_open,block_close,paren_open,paren_close,brace_open,brace_close,backslash,semicolon,"
        "control,end=word"},
    {s_url, "url",
        "greater,caret,bad=error "
        "space,line,block_open,block_close,paren_open,paren_close,brace_open,brace_close,quote,backslash,"
        "less,semicolon,control,end=url"},
    {s_email, "=email",
        "digit,zero,x,T,h,e,E,hex_lower,hex_upper,percent,dot,plus,minus,continuation,word>email "
        "hash,apostrophe,colon,greater,equal,comma,at,dollar,caret,bad=error"},
    {s_ref, "ref",
        "hash,apostrophe,backslash,greater,equal,comma,at,dollar,caret,bad=error "
        "space,line,block_open,block_close,paren_open,paren_close,brace_open,brace_close,quote,less,"
        "semicolon,control,end=ref"},
    {s_after_equal, "word",
        "hash,percent,comma,at,dollar,bad=error "
        "slash=path_head "
        "colon>word_colon "
        "space,line,block_open,block_close,paren_open,paren_close,brace_open,brace_close,quote,backslash,"
        "semicolon,control,end=word"},
    {s_path, "=error",
        "quote>string "
        "dollar>after_dollar "
        "less>after_less "
        "at>ref "
        "digit,zero>path_integer "
        "apostrophe,colon>path_quote "
        "x,T,h,e,E,hex_lower,hex_upper,greater,equal,dot,continuation,word>path_word "
        "hash>path_hash "
        "plus,minus>path_sign "
        "paren_open=paren_open "
        "paren_close=paren_close"},
    {s_path_integer, "=error",
        "dot>digits_point "
        "e,E>exponent "
        "x>number_x "
        "at>email "
        "digit,zero,apostrophe>path_integer "
        "space,line,block_open,block_close,paren_open,paren_close,brace_open,brace_close,quote,colon,slash,"
        "less,semicolon,control,end=integer "
        "percent=percent"},
    {s_path_quote, "=error",
        "x,T,h,e,E,hex_lower,hex_upper,less,greater,equal,dot,plus,minus,continuation,word>path_word"},
    {s_path_word, "path_word",
        "dollar>after_dollar "
        "at>email "
        "hash,percent,comma,bad=error "
        "space,line,block_open,block_close,paren_open,paren_close,brace_open,brace_close,quote,colon,slash,"
        "backslash,semicolon,control,end=word"},
    {s_path_hash, "issue",
        "quote>char "
        "block_open>construct "
        "space,line,block_close,paren_open,paren_close,brace_open,brace_close,colon,slash,less,greater,equal,"
        "comma,semicolon,at,control,bad,end=error"},
    {s_path_sign, "=word",
        "dollar>after_dollar "
        "at>email "
        "digit,zero>path_integer "
        "x,T,h,e,E,hex_lower,hex_upper,greater,equal,dot,continuation,word>path_word "
        "plus,minus>path_sign "
        "hash,apostrophe,less,percent,comma,caret,bad=error"},

};

constexpr bool name_is(const char* name, const char* from, const char* to) {
    for (const char* p = from; p < to; ++p, ++name)
        if (*name != *p) return false;
    return *name == 0;
}

constexpr bool name_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Reads a name from p; its end is left in p.
template <uint32_t N>
constexpr uint32_t read_name(const char*& p, const char* const (&names)[N], const char* missing) {
    const char* from = p;
    while (name_char(*p)) ++p;
    for (uint32_t i = 0; i < N; ++i)
        if (name_is(names[i], from, p)) return i;
    throw missing;
}

// A next state: a scan state's name, or "=" and a token class.
constexpr uint8_t read_next(const char*& p) {
    if (*p == '=') {
        ++p;
        return uint8_t(first_terminal + read_name(p, token_names, "no such token class"));
    }
    return uint8_t(read_name(p, state_names, "no such state"));
}

constexpr std::array<uint8_t, class_count> build_row(const Row& row) {
    std::array<uint8_t, class_count> out{};
    std::array<bool, class_count> named{};
    const char* f = row.fallback;
    uint8_t fallback = read_next(f);
    if (*f) throw "the default is one next state";
    for (auto& e : out) e = fallback;
    const char* p = row.exceptions;
    while (*p) {
        uint32_t classes[class_count] = {};
        uint32_t n = 0;
        for (;;) {
            uint32_t c = read_name(p, class_names, "no such class");
            if (named[c]) throw "a class is named twice in a row";
            named[c] = true;
            classes[n++] = c;
            if (*p != ',') break;
            ++p;
        }
        if (*p == '>') ++p;
        else if (*p != '=') throw "'>' or '=' is expected after the classes";
        uint8_t next = read_next(p);
        for (uint32_t i = 0; i < n; ++i) out[classes[i]] = next;
        if (*p == ' ') ++p;
        else if (*p) throw "' ' is expected between exceptions";
    }
    return out;
}

constexpr std::array<std::array<uint8_t, class_count>, scan_state_count> build_transitions() {
    std::array<std::array<uint8_t, class_count>, scan_state_count> t{};
    for (uint32_t s = 0; s < scan_state_count; ++s) {
        if (rows[s].state != s) throw "the rows are in the order of the states";
        t[s] = build_row(rows[s]);
    }
    return t;
}

constexpr std::array<uint8_t, state_count> build_skip() {
    std::array<uint8_t, state_count> t{};
    t[s_start] = 1;
    return t;
}

// Scan states: the datatype a state is building (0: none); terminal states: the token's.
constexpr std::array<uint8_t, state_count> build_state_types() {
    std::array<uint8_t, state_count> t{};
    uint32_t s = 0;
#define LEXER_STATE(name, type) t[s++] = type;
#include "runtime/lexer/tables.def"
#undef LEXER_STATE
    s = first_terminal;
#define LEXER_TOKEN(name, type) t[s++] = type;
#include "runtime/lexer/tables.def"
#undef LEXER_TOKEN
    return t;
}

constexpr std::array<uint8_t, class_count> build_line_table() {
    std::array<uint8_t, class_count> t{};
    t[c_line] = 1;
    return t;
}

constexpr std::array<uint8_t, class_count> build_path_end() {
    std::array<uint8_t, class_count> t{};
    for (Class c : {c_space, c_line, c_block_open, c_block_close, c_paren_open, c_paren_close, c_brace_open, c_quote,
                    c_colon, c_less, c_semicolon, c_word, c_bad, c_end})
        t[c] = 1;
    return t;
}

constexpr std::array<uint8_t, 256> build_float_text() {
    std::array<uint8_t, 256> t{};
    for (uint8_t c = '0'; c <= '9'; ++c) t[c] = 1;
    for (char c : {'+', '-', '.', '#', 'A', 'E', 'F', 'I', 'N', 'a', 'e', 'f', 'i', 'n', '\t', ' '}) t[uint8_t(c)] = 1;
    return t;
}

// Every byte has a class here, so no byte reads outside the automaton.
constexpr std::array<uint8_t, 256> build_float_syntax_classes() {
    std::array<uint8_t, 256> t{};
    t['+'] = t['-'] = 1;
    for (uint8_t c = '0'; c <= '9'; ++c) t[c] = 2;
    t['e'] = t['E'] = 3;
    t['.'] = 4;
    t['\''] = 5;
    return t;
}

constexpr std::array<std::array<uint8_t, float_syntax_classes>, float_syntax_states> float_syntax_rows = {{
    //  other sign digit exp point apostrophe end
    {10, 0, 1, 10, 4, 10, 10},
    {10, 10, 1, 6, 5, 2, 9},
    {10, 10, 1, 10, 10, 10, 9},
    {10, 10, 3, 6, 10, 4, 9},
    {10, 10, 3, 10, 10, 10, 9},
    {10, 10, 3, 10, 10, 10, 9},
    {10, 7, 8, 10, 10, 10, 10},
    {10, 10, 8, 10, 10, 10, 10},
    {10, 10, 8, 10, 10, 10, 9},
}};

constexpr std::array<uint8_t, 256> build_hex_digits() {
    std::array<uint8_t, 256> t{};
    for (auto& e : t) e = 255;
    for (uint8_t c = 0; c < 10; ++c) t['0' + c] = c;
    for (uint8_t c = 0; c < 6; ++c) {
        t['A' + c] = uint8_t(10 + c);
        t['a' + c] = uint8_t(10 + c);
    }
    return t;
}

constexpr std::array<uint8_t, (unicode_space_limit + 7) / 8> build_unicode_spaces() {
    std::array<uint8_t, (unicode_space_limit + 7) / 8> t{};
    auto put = [&](uint32_t cp) { t[cp >> 3] = uint8_t(t[cp >> 3] | (0x80u >> (cp & 7))); };
    for (uint32_t cp : {133u, 160u, 5760u, 8232u, 8233u, 8239u, 8287u, 12288u, 6158u, 8203u}) put(cp);
    for (uint32_t cp = 8192; cp <= 8202; ++cp) put(cp);
    return t;
}

constexpr auto built_transitions = build_transitions();
static_assert([] {
    for (const auto& row : built_transitions)
        if (row[c_end] < first_terminal) return false;
    return true;
}(), "the end of the input ends every token, so the scan never reads past it");
constexpr auto built_classes = build_byte_classes();
static_assert((built_classes['e'] & class_mask) == c_e && (built_classes['e'] & f_exponent));
static_assert((built_classes[0xF0] & class_mask) == c_word && (built_classes[0xF0] & f_utf8_4));

}  // namespace

const std::array<uint32_t, 256> byte_classes = built_classes;
const std::array<std::array<uint8_t, class_count>, scan_state_count> transitions = built_transitions;
const std::array<uint8_t, state_count> skip_table = build_skip();
const std::array<uint8_t, state_count> state_types = build_state_types();
const std::array<uint8_t, class_count> line_table = build_line_table();
const std::array<uint8_t, class_count> path_end_table = build_path_end();
const std::array<uint8_t, 256> float_text_table = build_float_text();
const std::array<uint8_t, 256> float_syntax_classes_of = build_float_syntax_classes();
const std::array<std::array<uint8_t, float_syntax_classes>, float_syntax_states> float_syntax = float_syntax_rows;
const std::array<uint8_t, 256> hex_digits = build_hex_digits();
const std::array<uint8_t, (unicode_space_limit + 7) / 8> unicode_spaces = build_unicode_spaces();

const std::array<EscapeName, 7> escape_names = {{
    {"null", 4, 0},
    {"back", 4, 8},
    {"tab", 3, 9},
    {"line", 4, 10},
    {"page", 4, 12},
    {"esc", 3, 27},
    {"del", 3, 127},
}};

const std::array<const char*, 12> month_names = {"January", "February", "March",     "April",   "May",      "June",
                                                 "July",    "August",   "September", "October", "November", "December"};
const std::array<uint8_t, 12> month_days = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

bool float_syntax_q(const uint8_t* start, const uint8_t* end) {
    if (end - start > static_cast<std::ptrdiff_t>(max_float_text)) return false;
    uint8_t state = 0;
    for (const uint8_t* p = start; p < end; ++p) {
        state = float_syntax[state][float_syntax_classes_of[*p]];
        if (state == float_reject) return false;
    }
    return float_syntax[state][6] != float_reject;
}

}  // namespace kov::lexer
