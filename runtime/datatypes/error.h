// error!: the language's error values. An error is an object with the fields of the error
// prototype (code, type, id, arg1, arg2, arg3, near, where, stack, files) whose type and id
// name a category and an id of the error catalogue. The catalogue is an object of ten
// category objects (throw, note, syntax, script, math, access, reserved1, reserved2, user,
// internal), each holding `code`, `type` (its title) and one field per id whose value is the
// message: a string, or a block of strings and get-words naming fields of the error.
//
// C++ code raises errors with error::fire (runtime/error.h); a barrier turns the exception
// into an error! value with `value_of`.
//
// Cell: the object layout (w1 context, w2 class id 1, w3 0).
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/error.h"
#include "runtime/memory.h"

namespace kov::error {

enum Field : uint32_t { f_code = 0, f_type, f_id, f_arg1, f_arg2, f_arg3, f_near, f_where, f_stack, f_files, field_count };

// The catalogue object (`system/catalog/errors`) and the prototype (`system/standard/error`).
Cell catalog();
Cell prototype();

// A new error! value of the id with its arguments.
Cell create(err::Id id, const Cell* args, uint32_t count);
// The error! value of a caught exception, with its near, where and stack fields filled. An
// integer stack is the level of the calls it was raised under that go on running after the
// barrier: at most `running`, the calls below the barrier's own.
Cell value_of(const Error& e, uint32_t running);
Cell value_of(const Error& e);  // every call on the stack now goes on running
// Replaces an integer stack field by the block of the calling functions' words recorded when
// the error was raised, and puts a copy of the scripts being run (`system/state/source-files`)
// into its files field.
void capture_stack(Cell& value, const Error& e);
// The report, as the console prints it.
Cell* form_report(const Cell& value);
// Makes the error and prints its report instead of raising it (a dialect that reports and
// goes on).
void print_new(err::Id id, const Cell* args, uint32_t count);
Cell* field(const Cell& value, Field f);

// Builds the prototype and the catalogue (after the words, objects and the lexer exist).
void init_catalog();

void init();

}  // namespace kov::error
