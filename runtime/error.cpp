#include "runtime/error.h"

namespace kov {

namespace err {
const Def defs[id_count] = {
#define ERROR_ID(cat, ident, word, message) {cat_##cat, word, message},
#include "runtime/defs/errors.def"
#undef ERROR_ID
};
const char* const category_words[category_count] = {
#define ERROR_CATEGORY(index, ident, word, title) word,
#include "runtime/defs/errors.def"
#undef ERROR_CATEGORY
};
const char* const category_titles[category_count] = {
#define ERROR_CATEGORY(index, ident, word, title) title,
#include "runtime/defs/errors.def"
#undef ERROR_CATEGORY
};
}  // namespace err

const char* Error::what() const noexcept {
    return err::defs[id].word;
}

namespace error {

void (*stamp)(Error& e) = nullptr;

namespace {
[[noreturn]] void raise(Error& e) {
    if (stamp) stamp(e);
    throw e;
}
}  // namespace

void fire(err::Id id) {
    Error e(id);
    raise(e);
}

void fire(err::Id id, const Cell& a1) {
    Error e(id);
    e.args[0] = a1;
    e.arg_count = 1;
    raise(e);
}

void fire(err::Id id, const Cell& a1, const Cell& a2) {
    Error e(id);
    e.args[0] = a1;
    e.args[1] = a2;
    e.arg_count = 2;
    raise(e);
}

void fire(err::Id id, const Cell& a1, const Cell& a2, const Cell& a3) {
    Error e(id);
    e.args[0] = a1;
    e.args[1] = a2;
    e.args[2] = a3;
    e.arg_count = 3;
    raise(e);
}

void fire_value(const Cell& value) {
    Error e(err::user_message);
    e.value = value;
    raise(e);
}

}  // namespace error
}  // namespace kov
