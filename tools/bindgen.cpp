// kov-bindgen: the binding of the runtime's C++ to the boot definitions, a host tool run by the
// build. It reads the boot sources the manifest lists (only scans their text: it links nothing
// of the runtime, which includes what it writes) and
//
// - writes the names of the refinements of every native and action: for each one that has
//   refinements, a namespace kov::refine::<name> with an enumerator per refinement, its ordinal
//   in spec order (what natives::Args::given and option take), so that an entry writes
//   `args.given(refine::find::tail)`. A spec that gains, loses or moves a refinement changes
//   the names, and an entry that uses a name no longer there fails to compile.
// - checks the routines against runtime/defs/routines.def: every routine the boot definitions
//   make (`make routine! [spec entry-name ...]`) must name a row, and every row must be made,
//   those of the test family by the test build's own definitions (the Kov text in raw strings
//   `R"kov(...)kov"` of the test source given) instead.
//
// Usage: kov-bindgen <output.h> <source root> <manifest> <test source>
// The output is written only when its text changes, so that an edit of a boot source that
// leaves every refinement where it was rebuilds nothing. Any failure prints its messages and
// exits with status 1, writing nothing.
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "boot/sources.h"

using kov::boot::manifest_entries;
using kov::boot::read_file;

namespace {

struct Row {
    const char* word;
    const char* ident;
    const char* family;
};
const Row rows[] = {
#define ROUTINE(word, ident, family) {word, #ident, #family},
#include "runtime/defs/routines.def"
#undef ROUTINE
};

// The tokens of Kov source, as far as finding definitions needs: brackets and parens alone,
// strings whole (quoted or braced, with their ^ escapes), comments dropped, every other value
// up to the next space or bracket.
std::vector<std::string> tokens_of(const std::string& t) {
    std::vector<std::string> out;
    size_t i = 0, n = t.size();
    // Skips a quoted or braced string starting at i; gives the position after it.
    auto skip_string = [&](size_t k) {
        if (t[k] == '"') {
            for (++k; k < n && t[k] != '"'; ++k)
                if (t[k] == '^') ++k;
            return k + 1;
        }
        int depth = 0;
        for (; k < n; ++k) {
            if (t[k] == '^') ++k;
            else if (t[k] == '{') ++depth;
            else if (t[k] == '}' && --depth == 0) return k + 1;
        }
        return k;
    };
    while (i < n) {
        char c = t[i];
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            ++i;
        } else if (c == ';') {
            while (i < n && t[i] != '\n') ++i;
        } else if (c == '[' || c == ']' || c == '(' || c == ')') {
            out.emplace_back(1, c);
            ++i;
        } else {
            size_t b = i;
            while (i < n && t[i] != ' ' && t[i] != '\t' && t[i] != '\r' && t[i] != '\n' && t[i] != '[' && t[i] != ']' &&
                   t[i] != '(' && t[i] != ')') {
                if (t[i] == '"' || t[i] == '{') i = skip_string(i);
                else ++i;
            }
            out.push_back(t.substr(b, i - b));
        }
    }
    return out;
}

// A definition `name: make <kind> [[spec] entry ...]`.
struct Made {
    std::string kind, name, entry;
    std::vector<std::string> refinements;
};

std::vector<Made> definitions_in(const std::vector<std::string>& tk) {
    std::vector<Made> out;
    for (size_t i = 0; i + 4 < tk.size(); ++i) {
        if (tk[i] != "make" || tk[i + 2] != "[" || tk[i + 3] != "[") continue;
        const std::string& kind = tk[i + 1];
        if (kind != "native!" && kind != "action!" && kind != "routine!") continue;
        Made m{kind, "", "", {}};
        if (i > 0 && tk[i - 1].size() > 1 && tk[i - 1].back() == ':' && tk[i - 1][0] != ':')
            m.name = tk[i - 1].substr(0, tk[i - 1].size() - 1);
        size_t k = i + 4;
        for (int depth = 1; k < tk.size() && depth > 0; ++k) {
            if (tk[k] == "[") ++depth;
            else if (tk[k] == "]") --depth;
            else if (depth == 1 && tk[k].size() > 1 && tk[k][0] == '/' && tk[k] != "/local")
                m.refinements.push_back(tk[k].substr(1));
        }
        if (k < tk.size()) m.entry = tk[k];
        out.push_back(m);
    }
    return out;
}

// A word as C++ names it: `-` becomes `_`, a trailing `?` `_q` and `*` `_x`, `!` is dropped,
// and a keyword gets a trailing `_`. Empty when the word has no such name.
std::string cpp_name(const std::string& word) {
    static const std::set<std::string> keywords = {
        "alignas", "alignof", "and", "and_eq", "asm", "auto", "bitand", "bitor", "bool", "break", "case",
        "catch", "char", "char8_t", "char16_t", "char32_t", "class", "compl", "concept", "const", "consteval",
        "constexpr", "constinit", "const_cast", "continue", "co_await", "co_return", "co_yield", "decltype",
        "default", "delete", "do", "double", "dynamic_cast", "else", "enum", "explicit", "export", "extern",
        "false", "float", "for", "friend", "goto", "if", "inline", "int", "long", "mutable", "namespace", "new",
        "noexcept", "not", "not_eq", "nullptr", "operator", "or", "or_eq", "private", "protected", "public",
        "register", "reinterpret_cast", "requires", "return", "short", "signed", "sizeof", "static",
        "static_assert", "static_cast", "struct", "switch", "template", "this", "thread_local", "throw", "true",
        "try", "typedef", "typeid", "typename", "union", "unsigned", "using", "virtual", "void", "volatile",
        "wchar_t", "while", "xor", "xor_eq"};
    std::string s;
    for (size_t i = 0; i < word.size(); ++i) {
        char c = word[i];
        bool last = i + 1 == word.size();
        if (c == '-') s += '_';
        else if (c == '?' && last) s += "_q";
        else if (c == '*' && last) s += "_x";
        else if (c == '!' && last) continue;
        else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9' && i > 0) || c == '_') s += c;
        else return "";
    }
    if (keywords.count(s)) s += '_';
    return s;
}

// The Kov text of the raw strings R"kov(...)kov" of a C++ source.
std::string raw_kov_of(const std::string& cpp) {
    std::string out;
    const std::string open = "R\"kov(", close = ")kov\"";
    for (size_t b = cpp.find(open); b != std::string::npos; b = cpp.find(open, b)) {
        b += open.size();
        size_t e = cpp.find(close, b);
        if (e == std::string::npos) break;
        out += cpp.substr(b, e - b) + "\n";
        b = e;
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: kov-bindgen <output.h> <source root> <manifest> <test source>\n");
        return 1;
    }
    std::string output = argv[1], root = argv[2], manifest, test_source;
    std::vector<std::string> faults;
    if (!read_file(argv[3], manifest)) faults.push_back(std::string("cannot read ") + argv[3]);
    if (!read_file(argv[4], test_source)) faults.push_back(std::string("cannot read ") + argv[4]);

    std::vector<Made> boot;
    for (const std::string& name : manifest_entries(manifest)) {
        std::string text;
        if (!read_file(root + "/" + name, text)) {
            faults.push_back("cannot read " + root + "/" + name);
            continue;
        }
        for (Made& m : definitions_in(tokens_of(text))) boot.push_back(m);
    }

    // The routines: entry words made, by the boot definitions and by the test build's.
    std::map<std::string, const Row*> by_word;
    for (const Row& r : rows) by_word[r.word] = &r;
    std::set<std::string> made_boot, made_test;
    auto check_made = [&](const std::vector<Made>& defs, std::set<std::string>& made, bool test) {
        for (const Made& m : defs) {
            if (m.kind != "routine!") continue;
            auto it = by_word.find(m.entry);
            if (it == by_word.end())
                faults.push_back("the routine " + m.name + " makes the entry " + m.entry +
                                 ", which runtime/defs/routines.def does not list");
            else if ((std::string(it->second->family) == "test") != test)
                faults.push_back("the entry " + m.entry + " of family " + it->second->family + " is made by the " +
                                 (test ? "test build's" : "boot") + " definitions");
            made.insert(m.entry);
        }
    };
    check_made(boot, made_boot, false);
    check_made(definitions_in(tokens_of(raw_kov_of(test_source))), made_test, true);
    for (const Row& r : rows) {
        bool test = std::string(r.family) == "test";
        if (!(test ? made_test : made_boot).count(r.word))
            faults.push_back(std::string("runtime/defs/routines.def lists ") + r.word + ", which no " +
                             (test ? "test build's" : "boot") + " definition makes");
    }

    // The refinements of natives and actions.
    std::string h =
        "// Generated by kov-bindgen from the boot definitions (boot/manifest.txt and the sources it\n"
        "// lists): do not edit. The refinements of each native and action that has any, by name:\n"
        "// each one's ordinal in spec order, as natives::Args::given and option take it.\n"
        "#pragma once\n#include <cstdint>\n\nnamespace kov::refine {\n";
    std::set<std::string> named;
    for (const Made& m : boot) {
        if (m.kind == "routine!" || m.refinements.empty()) continue;
        std::string ns = cpp_name(m.name);
        if (ns.empty()) {
            faults.push_back("the " + m.kind + " " + m.name + " has refinements but no C++ name");
            continue;
        }
        if (!named.insert(ns).second) {
            faults.push_back("two natives or actions are named " + ns);
            continue;
        }
        // Plain constants, not an enum: natives that share refinements compare their ordinals.
        h += "namespace " + ns + " {\nconstexpr uint32_t";
        for (size_t i = 0; i < m.refinements.size(); ++i) {
            std::string r = cpp_name(m.refinements[i]);
            if (r.empty()) faults.push_back("the refinement /" + m.refinements[i] + " of " + m.name + " has no C++ name");
            h += (i ? ", " : " ") + r + " = " + std::to_string(i);
        }
        h += ";\n}\n";
    }
    h += "}  // namespace kov::refine\n";

    if (!faults.empty()) {
        for (const std::string& f : faults) std::fprintf(stderr, "kov-bindgen: %s\n", f.c_str());
        return 1;
    }
    std::string old;
    if (read_file(output, old) && old == h) return 0;
    std::ofstream out(output, std::ios::binary | std::ios::trunc);
    out << h;
    out.close();
    if (!out) {
        std::fprintf(stderr, "kov-bindgen: cannot write %s\n", output.c_str());
        return 1;
    }
    return 0;
}
