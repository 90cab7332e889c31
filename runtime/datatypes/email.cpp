#include "runtime/datatypes/email.h"

#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/error.h"
#include "runtime/interpreter/stack.h"
#include "runtime/words.h"

namespace kov::email {

// ---- actions ------------------------------------------------------------------------------------

namespace {

int32_t mold(Cell* value, Cell* out, const MoldArgs& how, int32_t part) {
    return string::form(value, out, how.arg, part);
}

bool same_word_q(uint32_t sym, uint32_t wanted) { return symbol::resolve(sym) == symbol::resolve(wanted); }

// A new string! of `count` characters of the text from `from` characters past the cursor.
Cell* part_of(const Cell& mail, int32_t from, int32_t count) {
    Cell* r = string::push(static_cast<uint32_t>(count > 0 ? count : 1), 1);
    Cell source = mail;
    source.w1 = static_cast<uint32_t>(static_cast<int32_t>(mail.w1) + from);
    if (count > 0) string::concatenate(*r, source, count, 0, true, string::append_mode);
    return r;
}

// mail/1 picks a character as in a string; mail/user and mail/host read or change the parts
// before and after the first "@" (all of it is the user part when there is none).
Cell* eval_path(Cell* parent, const PathStep& step) {
    Cell* element = step.element;
    if (cell::is(*element, T_integer)) return string::eval_path(parent, step);
    bool user = cell::is(*element, T_word) && same_word_q(element->w2, words::symbols::user);
    bool host = cell::is(*element, T_word) && same_word_q(element->w2, words::symbols::host);
    if (!user && !host) error::fire(err::script_invalid_path, step.path ? *step.path : *parent, *element);
    string::rs_head(*parent);  // an index past the tail is clipped
    int32_t length = string::rs_length_q(*parent);
    int32_t at = string::rs_find_char(*parent, '@');
    bool has_at = at >= 0;
    if (!has_at) at = length;

    if (!step.value) {
        Cell* r = user ? part_of(*parent, 0, at) : part_of(*parent, at + 1, length - at - 1);
        *parent = *r;
        return parent;
    }
    stack::Mark mark;
    Cell* position = stack::push(*parent);
    if (user) {
        string::change(position, step.value, at, false, 1);
    } else {
        // An address without "@" gets one before its new host.
        if (!has_at) string::append_char(parent->w2, '@');
        position->w1 = static_cast<uint32_t>(static_cast<int32_t>(parent->w1) + at + 1);
        string::change(position, step.value, has_at ? length - at - 1 : 0, false, 1);
    }
    return step.value;
}

}  // namespace

// ---- registration -------------------------------------------------------------------------------

void init() {
    using datatype::inherit;
    any_string::register_text(T_email, "email!", {.reflect = inherit, .mold = mold, .eval_path = eval_path,
                                                  .append = inherit, .put = inherit});
}

}  // namespace kov::email
