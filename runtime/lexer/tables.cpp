// The lexer's tables, built at compile time. The transition table is written the way it is
// read: one row per state, a default next state and the exceptions ("c,c,c>n" gives next state
// n for each class c). The builder refuses a row that names a class twice or a state out of
// range, so a mistyped row does not compile.
#include "runtime/lexer/tables.h"

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

struct Row {
    uint8_t fallback;
    const char* exceptions;
};

// One row per state 0-64: the next state for every class not named, then the exceptions.
constexpr Row rows[scan_state_count] = {
    /*  0 between tokens */ {52, "0,1,35>0 28>1 10>2 26>6 21>13 11>16 2,3>23 31>36 18,20>40 23>43 32,33>47 "
                                 "30>49 12,13>51 29>57 25>58 39>66 9,22,36,38>67 4>68 5>69 6>70 7>71 8>72 27>78"},
    /*  1 line comment */ {1, "38>67 1,39>77"},
    /*  2 quoted string */ {2, "34>3 1,38,39>67 10>79"},
    /*  3 after ^ in a quoted string */ {2, "38,39>67"},
    /*  4 braced string */ {4, "34>5 38,39>67 8>72 9>73"},
    /*  5 after ^ in a braced string */ {4, "38,39>67"},
    /*  6 after % */ {7, "10>8 26>9 8>10 13>54 38>67 0,1,4,5,6,7,9,28,29,35,39>80"},
    /*  7 file name */ {7, "10,38>67 0,1,4,5,6,7,8,9,13,28,29,39>85"},
    /*  8 quoted file name */ {8, "1,38,39>67 10>85"},
    /*  9 run of % */ {7, "26>9 8>10 38>67 0,1,4,5,6,7,9,10,22,28,35,39>80"},
    /* 10 raw string body */ {10, "9>11 38,39>67"},
    /* 11 } in a raw string */ {10, "9>11 26>12 38,39>67"},
    /* 12 closing % run */ {67, "26>12 0,1,4,5,6,7,8,10,23,28,35,39>100"},
    /* 13 after / */ {14, "21>15 13>53 27,38>67 0,1,4,5,6,7,8,9,10,11,28,29,35,39>80"},
    /* 14 refinement */ {14, "13,27,38>67 0,1,4,5,6,7,8,9,10,21,28,29,35,39>83"},
    /* 15 word of slashes */ {52, "21>15 26,27,31,38>67 0,1,4,5,6,7,8,9,10,11,28,29,35,39>80"},
    /* 16 after # */ {22, "8>17 10>19 6>21 0,1,5,7,9,13,23,24,27,38>67 4>74 28,29,35,39>81"},
    /* 17 binary body */ {67, "0,1,2,3,14,15,16,17,18,19,20,21,25,32,37>17 28>18 9>86"},
    /* 18 comment in a binary */ {18, "1>17 38,39>67"},
    /* 19 character literal */ {19, "34>20 38,39>67 10>84"},
    /* 20 after ^ in a character */ {19, "38,39>67"},
    /* 21 construction body */ {21, "38,39>67 7>76"},
    /* 22 issue */ {22, "13,21,38>67 0,1,4,5,6,7,8,9,10,28,29,35,39>81"},
    /* 23 integer digits */ {82, "11>16 2,3,12>23 30>24 17>26 18>27 15,21,33>30 13>31 14>33 20>39 16>42 29>56 "
                                 "19,22,24,25,31,32,34,36,37,38>67 26>87"},
    /* 24 digits and a point */ {67, "2,3,12>25 17,18>26 11>28 14>33 26>87 0,1,4,5,6,7,8,9,10,21,23,27,28,35,39>88"},
    /* 25 decimal fraction */ {88, "2,3,12>25 17,18>26 30>29 14>33 29>56 11,15,16,19,20,22,24,25,31,32,33,34,36,37,38>67 "
                                   "26>87"},
    /* 26 exponent */ {67, "2,3,32,33>26 29>56 0,1,4,5,6,7,8,9,10,13,21,23,27,28,35,39>88"},
    /* 27 digits and E */ {88, "32,33>26 2,3>27 30>29 18,20>40 16>42 29>56 11,12,14,15,17,19,22,24,25,28,31,34,36,37,38>67 "
                               "26>87"},
    /* 28 after .# */ {89, "14,15,16,17,18,19,20,24,25,30,32,33,36,37>28 11,12,13,26,29,31,34,38>67 2>88"},
    /* 29 tuple */ {67, "2,3,30>29 0,1,4,5,6,7,8,9,10,13,21,23,28,35,39>90"},
    /* 30 date */ {30, "26,27,29,34,36,38>67 0,1,4,5,6,7,8,9,10,23,28,31,35,39>91"},
    /* 31 digits and a colon */ {67, "2,3>32"},
    /* 32 time */ {67, "2,3,13,30>32 0,1,4,5,6,7,8,9,10,21,23,28,35,39>94"},
    /* 33 number and x */ {67, "2,3,32,33>34 29>56"},
    /* 34 second coordinate */ {67, "2,3,17,18,30>34 29>56 0,1,4,5,6,7,8,9,10,13,21,23,28,35,39>92"},
    /* 35 point body */ {67, "0,2,3,5,11,17,18,19,20,27,30,32,33,37>35 7>93"},
    /* 36 after $ */ {67, "2,3>37"},
    /* 37 money amount */ {67, "2,3,12>37 30>38 0,1,4,5,6,7,8,9,10,11,13,21,23,28,35,39>95"},
    /* 38 money fraction */ {67, "2,3,12>38 0,1,4,5,6,7,8,9,10,11,13,21,23,28,35,39>95"},
    /* 39 digits and hex letters */ {67, "2,3,18,20>39 16>41 29>56"},
    /* 40 word that may be hex */ {80, "31>37 2,3,18,20>40 16>41 12,14,15,17,19,23,24,25,30,32,33,34,36,37>52 13>53 "
                                       "29>56 26,27,38>67 21>75"},
    /* 41 hex digits and h */ {52, "31>37 13>53 29>56 11,26,27,38>67 21>75 0,1,4,5,6,7,8,9,10,22,28,35,39>99"},
    /* 42 decimal digits and h */ {67, "31>37 29>56 21>75 0,1,4,5,6,7,8,9,10,22,23,28,35,39>99"},
    /* 43 after < */ {44, "23>43 12>46 24,25,33>52 13>53 38>67 0,1,4,5,6,7,8,9,10,28,35,39>80"},
    /* 44 tag body */ {44, "10>45 12>46 38,39>67 24>96"},
    /* 45 "text" in a tag */ {45, "10>44 38,39>67"},
    /* 46 'text' in a tag */ {46, "12>44 38,39>67"},
    /* 47 after + or - */ {52, "2,3>23 31>37 30>49 12,26,34,38>67 21>75 0,1,4,5,6,7,8,9,10,11,22,28,35,39>80"},
    /* 48 + or - after ' or : */ {52, "12,26,31,34,38>67 21>75 0,1,4,5,6,7,8,9,10,11,22,28,35,39>80"},
    /* 49 after a point */ {52, "2,3,32,33>50 13>53 29>56 26,27,31,38>67 21>75 0,1,4,5,6,7,8,9,10,11,22,28,35,39>80"},
    /* 50 number after a point */ {67, "14>33 2,3,17,18,32,33>50 29>56 26>87 0,1,4,5,6,7,8,9,10,13,21,23,35,39>88"},
    /* 51 after ' or : */ {67, "21>13 23>43 32,33>48 14,15,16,17,18,19,20,24,30,34,36,37>52 26>54 25>58"},
    /* 52 word */ {52, "31>36 13>53 29>56 26,27,38>67 21>75 0,1,4,5,6,7,8,9,10,11,22,23,28,35,39>80"},
    /* 53 word and a colon */ {55, "23,38>67 0,1,4,5,6,7,8,9,10,22,28,35,39>80"},
    /* 54 word of % signs */ {67, "26>54 0,1,4,5,6,7,8,9,22,28,35,39>80"},
    /* 55 URL */ {55, "24,34,38>67 0,1,4,5,6,7,8,9,10,22,23,28,35,39>97"},
    /* 56 e-mail address */ {98, "2,3,14,15,16,17,18,19,20,26,30,32,33,36,37>56 11,12,13,24,25,27,29,31,34,38>67"},
    /* 57 ref after @ */ {57, "11,12,22,24,25,27,29,31,34,38>67 0,1,4,5,6,7,8,9,10,23,28,35,39>101"},
    /* 58 after = */ {52, "11,26,27,29,31,38>67 21>75 13>53 0,1,4,5,6,7,8,9,10,22,28,35,39>80"},
    /* 59 path element start */ {67, "10>2 31>36 23>43 29>57 2,3>60 12,13>61 14,15,16,17,18,19,20,24,25,30,36,37>62 "
                                     "11>63 32,33>64 6>70 7>71"},
    /* 60 integer path element */ {67, "30>24 17,18>26 14>33 29>56 2,3,12>60 0,1,4,5,6,7,8,9,10,13,21,23,28,35,39>82 26>87"},
    /* 61 ' or : path element */ {67, "14,15,16,17,18,19,20,23,24,25,30,32,33,36,37>62"},
    /* 62 word path element */ {62, "31>36 29>56 11,26,27,38>67 0,1,4,5,6,7,8,9,10,13,21,22,28,35,39>80"},
    /* 63 # path element */ {22, "10>19 4>21 0,1,5,6,7,8,9,13,21,23,24,25,27,28,29,35,38,39>67"},
    /* 64 + or - path element */ {80, "31>36 29>56 2,3>60 14,15,16,17,18,19,20,24,25,30,36,37>62 32,33>64 "
                                       "11,12,23,26,27,34,38>67"},
};

constexpr std::array<uint8_t, class_count> build_row(const Row& row) {
    std::array<uint8_t, class_count> out{};
    std::array<bool, class_count> named{};
    for (auto& e : out) e = row.fallback;
    const char* p = row.exceptions;
    while (*p) {
        uint32_t classes[class_count] = {};
        uint32_t n = 0;
        // c,c,c>next
        for (;;) {
            uint32_t v = 0;
            if (*p < '0' || *p > '9') throw "a class number is expected";
            while (*p >= '0' && *p <= '9') v = v * 10 + uint32_t(*p++ - '0');
            if (v >= class_count) throw "no such class";
            classes[n++] = v;
            if (*p == ',') {
                ++p;
                continue;
            }
            if (*p != '>') throw "'>' is expected";
            ++p;
            break;
        }
        uint32_t next = 0;
        if (*p < '0' || *p > '9') throw "a state number is expected";
        while (*p >= '0' && *p <= '9') next = next * 10 + uint32_t(*p++ - '0');
        if (next == 65 || next >= 102) throw "no such next state";
        for (uint32_t i = 0; i < n; ++i) {
            if (named[classes[i]]) throw "a class is named twice in a row";
            named[classes[i]] = true;
            out[classes[i]] = uint8_t(next);
        }
        if (*p == ' ') ++p;
        else if (*p) throw "' ' is expected between exceptions";
    }
    return out;
}

constexpr std::array<std::array<uint8_t, class_count>, scan_state_count> build_transitions() {
    std::array<std::array<uint8_t, class_count>, scan_state_count> t{};
    for (uint32_t s = 0; s < scan_state_count; ++s) t[s] = build_row(rows[s]);
    return t;
}

constexpr std::array<uint8_t, state_count> build_skip() {
    std::array<uint8_t, state_count> t{};
    t[s_start] = 1;
    return t;
}

constexpr std::array<uint8_t, state_count> build_state_types() {
    // Scan states: the datatype a state is building (0: none); terminal states: the token's.
    constexpr uint8_t scanning[scan_state_count] = {
        0,  0,  7,  7,  7,  7,  8,  8,  8,  8,  7,  7,  7,  15, 19, 15, 20, 41, 0,  10, 10, 0,
        20, 11, 12, 12, 12, 12, 12, 39, 47, 43, 43, 37, 37, 51, 49, 49, 49, 0,  11, 15, 11, 44,
        44, 44, 44, 15, 15, 15, 12, 15, 15, 16, 15, 9,  45, 50, 15, 25, 11, 15, 15, 20, 15,
    };
    constexpr uint8_t tokens[token_class_count] = {
        0, 34, 0,  0,  0,  0,  0,  7,  0,  0,  0,  0,  0,  7,  15, 20, 11, 19,
        10, 8, 41, 38, 12, 12, 39, 47, 37, 51, 43, 49, 44, 9,  45, 11, 7,  50,
    };
    std::array<uint8_t, state_count> t{};
    for (uint32_t s = 0; s < scan_state_count; ++s) t[s] = scanning[s];
    for (uint32_t c = 0; c < token_class_count; ++c) t[first_terminal + c] = tokens[c];
    return t;
}

constexpr std::array<uint8_t, class_count> build_line_table() {
    std::array<uint8_t, class_count> t{};
    t[c_line] = 1;
    return t;
}

constexpr std::array<uint8_t, class_count> build_path_end() {
    std::array<uint8_t, class_count> t{};
    for (uint8_t c : {0, 1, 4, 5, 6, 7, 8, 10, 13, 23, 28, 37, 38, 39}) t[c] = 1;
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

// A few entries checked against the rows as the tables describe them.
constexpr auto built_transitions = build_transitions();
static_assert(built_transitions[0][c_block_open] == 68 && built_transitions[0][c_end] == 66);
static_assert(built_transitions[23][c_percent] == 87 && built_transitions[23][c_word] == 67);
static_assert(built_transitions[64][c_minus] == 64 && built_transitions[64][c_space] == 80);
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
