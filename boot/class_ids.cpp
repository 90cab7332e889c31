// The fixed class ids of the objects the boot definitions make. Objects get their ids as they
// are made, from the counter of run-time ids; once every definition has run, each object of
// the table below gets its fixed one instead. Its context records it (object::set_class), so
// every copy of the object, and every object made from it without new words later, has it.
//
// An object is named by a path from a global word, or, when no word names it, by a function
// defined in its body and a field of the object that function's body uses.
//
// Moving memory: nothing here runs Kov code; the values found stay on the value stack.
#include "boot/loader.h"

#include <cstring>

#include "runtime/cells.h"
#include "runtime/collector.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/datatypes/word.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/interp.h"
#include "runtime/interpreter/stack.h"

namespace kov::boot {

namespace {

// One object of the table: the field of an earlier entry (`parent`, its index), or a global
// word (-1). An entry with `field` is a function whose body uses that field of the object it
// stands for. An id of 0 is a step to the entries after it and gets no id of its own.
struct Fixed {
    int16_t parent;
    const char* name;
    uint32_t id;
    const char* field = nullptr;
};

constexpr Fixed fixed_ids[] = {
    /*  0 */ {-1, "parse-trace", 122, "p-indent"},
    /*  1 */ {-1, "system", 174},
    /*  2 */ {1, "build", 176},
    /*  3 */ {2, "git", 178},
    /*  4 */ {2, "config", 180},
    /*  5 */ {1, "catalog", 182},
    /*  6 */ {5, "errors", 184},
    /*  7 */ {6, "throw", 186},
    /*  8 */ {6, "note", 188},
    /*  9 */ {6, "syntax", 190},
    /* 10 */ {6, "script", 192},
    /* 11 */ {6, "math", 194},
    /* 12 */ {6, "access", 196},
    /* 13 */ {6, "reserved1", 198},
    /* 14 */ {6, "reserved2", 200},
    /* 15 */ {6, "user", 202},
    /* 16 */ {6, "internal", 204},
    /* 17 */ {1, "state", 206},
    /* 18 */ {17, "callbacks", 209},
    /* 19 */ {17, "GC", 212},
    /* 20 */ {1, "ports", 214},
    /* 21 */ {1, "locale", 216},
    /* 22 */ {21, "currencies", 218},
    /* 23 */ {1, "options", 222},
    /* 24 */ {23, "float", 224},
    /* 25 */ {1, "script", 229},
    /* 26 */ {1, "standard", 231},
    /* 27 */ {26, "header", 233},
    /* 28 */ {26, "port", 243},
    /* 29 */ {26, "error", 245},
    /* 30 */ {26, "file-info", 247},
    /* 31 */ {26, "url-parts", 250},
    /* 32 */ {26, "scheme", 252},
    /* 33 */ {1, "lexer", 254},
    /* 34 */ {1, "codecs", 0},
    /* 35 */ {34, "png", 258},
    /* 36 */ {34, "jpeg", 261},
    /* 37 */ {34, "bmp", 264},
    /* 38 */ {34, "gif", 267},
    /* 39 */ {34, "tiff", 270},
    /* 40 */ {34, "kovbin", 273},
    /* 41 */ {-1, "reactor!", 277},
    /* 42 */ {-1, "deep-reactor!", 280},
    /* 43 */ {1, "reactivity", 286},
    /* 44 */ {-1, "url-parser", 303},
    /* 45 */ {-1, "preprocessor", 309},
    /* 46 */ {1, "tools", 328},
    /* 47 */ {46, "options", 330},
    /* 48 */ {47, "debug", 332},
    /* 49 */ {47, "trace", 334},
    /* 50 */ {47, "profile", 336},
    /* 51 */ {46, "tracers", 345},
    /* 52 */ {51, "free", 354},
    /* 53 */ {51, "data", 358},
    /* 54 */ {51, "inspector", 365},
    /* 55 */ {-1, "load-json", 373, "stack"},
    /* 56 */ {-1, "to-json", 379, "init-state"},
    /* 57 */ {34, "json", 386},
    /* 58 */ {34, "csv", 393},
    /* 59 */ {-1, "to-csv", 398, "quote-char"},
    /* 60 */ {-1, "rich-text", 422},
    /* 61 */ {60, "rtd", 424},
    /* 62 */ {-1, "face!", 444},
    /* 63 */ {-1, "font!", 448},
    /* 64 */ {-1, "para!", 452},
    /* 65 */ {-1, "scroller!", 455},
    /* 66 */ {1, "view", 458},
    /* 67 */ {66, "metrics", 460},
    /* 68 */ {66, "fonts", 462},
    /* 69 */ {-1, "TUI-helpers", 467},
    /* 70 */ {66, "platform", 477},
    /* 71 */ {66, "VLD", 484},
    /* 72 */ {71, "GUI-rules", 486},
    /* 73 */ {72, "processors", 488},
    /* 74 */ {71, "opts-proto", 495},
    /* 75 */ {-1, "kov-complete-ctx", 550},
    /* 76 */ {-1, "help-ctx", 558},
    /* 77 */ {76, "func-spec-ctx", 580},
    /* 78 */ {77, "func-spec", 582},
    /* 79 */ {1, "console", 601},
    /* 80 */ {-1, "cli-console-ctx", 620},
    /* 81 */ {80, "settings", 622},
};
constexpr std::size_t fixed_count = sizeof fixed_ids / sizeof fixed_ids[0];

// The value of a field of the value (an object's field, a map's key), as a path step takes
// it; none when there is no such step.
Cell field_of(const Cell& holder, const char* name) {
    auto step = actions::lookup<actions::slot::eval_path>(cell::type(holder));
    if (!step) return none::value;
    stack::Mark mark;
    Cell* v = stack::push(holder);
    Cell* element = stack::push(word::cell_of(T_word, symbol::make(name)));
    Cell* r = step(v, PathStep{.element = element, .get = true});
    return r ? *r : none::value;
}

// The object whose field of that name the function's body uses, or none.
Cell owner_of(const Cell& fn, const char* field) {
    if (!cell::is(fn, T_function)) return none::value;
    uint32_t wanted = symbol::resolve(symbol::make(field));
    Cell body = function::outer_body(fn);
    memory::Node n = series::node_of(body);
    for (uint32_t i = series::position_of(body); i < cells::count(n); ++i) {
        const Cell& c = cells::at(n, i);
        if (!in(cell::type(c), ANY_WORD) || symbol::resolve(word::symbol_of(c)) != wanted) continue;
        memory::Node ctx = word::context_of(c);
        if (ctx && context::is_context(ctx) && context::kind_of(*context::record(ctx)) == context::object_kind)
            return *context::self_cell(ctx);
    }
    return none::value;
}

}  // namespace

void set_class_ids() {
    stack::Mark mark;
    // What each entry stands for, kept on the value stack for the entries after it.
    Cell* found = stack::values.top;
    for (std::size_t i = 0; i < fixed_count; ++i) {
        const Fixed& f = fixed_ids[i];
        Cell v = none::value;
        if (f.parent < 0) {
            if (const Cell* g = context::get_any(symbol::make(f.name), context::global())) v = *g;
        } else {
            v = field_of(found[f.parent], f.name);
        }
        if (f.field) v = owner_of(v, f.field);
        stack::push(v);
        if (f.id && cell::is(v, T_object)) object::set_class(v, f.id);
    }
}

}  // namespace kov::boot
