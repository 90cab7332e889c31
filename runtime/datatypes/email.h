// email!: an e-mail address, written as its plain text. Its user and host parts, around the
// first "@" from the position, are read and changed through paths (mail/user, mail/host);
// everything else is string!'s.
//
// Cell: a string cell (see string.h) whose type is email!.
//
// Moving memory: the constructors, mold and path access allocate, so they may move any
// buffer; a cell they fill must not itself lie in a series buffer.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/datatypes/any_string.h"
#include "runtime/memory.h"

namespace kov::email {

// ---- cell helpers and constructors: string!'s, retyped (any_string.h) ---------------------------
using Text = any_string::Text<T_email>;

void init();

}  // namespace kov::email
