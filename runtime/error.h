// Language errors. Every error of the catalogue (runtime/defs/errors.def) has an id here;
// raising one throws the single C++ exception type `kov::Error`, caught by the barriers
// (try, catch, attempt, the console, start-up). break, continue, return, exit and throw are
// not exceptions: they travel as a pending-exit status through the evaluator.
#pragma once
#include <cstdint>
#include <exception>

#include "runtime/cell.h"

namespace kov {

namespace err {

enum Category : uint8_t {
#define ERROR_CATEGORY(index, ident, word, title) cat_##ident = index,
#include "runtime/defs/errors.def"
#undef ERROR_CATEGORY
    category_count
};

// One flat id per catalogue entry, in catalogue order: err::<category>_<id>, with the
// hyphens of the id word as underscores (err::script_no_value, err::throw_break).
enum Id : uint16_t {
#define ERROR_ID(cat, ident, word, message) cat##_##ident,
#include "runtime/defs/errors.def"
#undef ERROR_ID
    id_count
};

struct Def {
    Category category;
    const char* word;
    const char* message;   // Kov source of the catalogue entry
};
extern const Def defs[id_count];
extern const char* const category_words[category_count];
extern const char* const category_titles[category_count];

// category × 100 + the id's position in its category.
constexpr uint32_t code(Id id) {
    constexpr Category cats[] = {
#define ERROR_ID(cat, ident, word, message) cat_##cat,
#include "runtime/defs/errors.def"
#undef ERROR_ID
    };
    uint32_t position = 0;
    for (int i = 0; i < id; ++i)
        if (cats[i] == cats[id]) ++position;
    return static_cast<uint32_t>(cats[id]) * 100 + position;
}

}  // namespace err

// The exception of every language error: the catalogue id and up to three argument values,
// or an error! value made beforehand (`value`, raised by `do` of an error). What the error
// needs of the moment it was raised (the expression being evaluated, the calling function,
// the calls on the stack) is recorded when it is fired, since the frames are gone by the time
// a barrier catches it. The cells here are not seen by the collector: a barrier roots them
// before it allocates (error::value_of does).
class Error : public std::exception {
public:
    static constexpr uint32_t max_calls = 20;

    err::Id id;
    uint8_t arg_count = 0;
    Cell args[3] = {};
    Cell value{T_none, 0, 0, 0};   // an error! value raised as it is, or none
    Cell near{T_none, 0, 0, 0};    // the code position when raised
    uint32_t where_symbol = 0;     // the calling function's word
    uint32_t where_context = 0;
    uint32_t depth = 0;            // the call-stack depth when raised
    uint32_t call_count = 0;       // the calling functions' words, innermost first
    uint32_t calls[max_calls] = {};
    uint32_t call_contexts[max_calls] = {};

    explicit Error(err::Id id_) : id(id_) {}
    uint32_t code() const { return err::code(id); }
    const char* what() const noexcept override;
};

namespace error {
[[noreturn]] void fire(err::Id id);
[[noreturn]] void fire(err::Id id, const Cell& a1);
[[noreturn]] void fire(err::Id id, const Cell& a1, const Cell& a2);
[[noreturn]] void fire(err::Id id, const Cell& a1, const Cell& a2, const Cell& a3);
// Raises an error! value as it stands.
[[noreturn]] void fire_value(const Cell& value);
// Installed by the interpreter: records the moment of raising into the exception.
extern void (*stamp)(Error& e);
}  // namespace error

}  // namespace kov
