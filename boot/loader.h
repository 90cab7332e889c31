// Running boot definitions from Kov source: the built-in natives and actions are made
// directly from their `name: make native! [spec index]` definitions (evaluating `make` needs
// `make` to exist first), the datatype words get their datatype! values, and every other
// definition is evaluated in the global context.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>

#include "runtime/cell.h"
#include "runtime/error.h"

namespace kov::boot {

// Sets every datatype's name word to its datatype! value.
void set_datatype_words();
// Runs one boot script (its header skipped): a block of values as the lexer made them.
void run_block(const Cell& code, const char* name);
// Loads and runs one source text.
void run_source(const uint8_t* text, std::size_t length, const char* name);

struct Source;  // boot/sources.h
// The boot definitions: the datatype words, then each script in order, with routines
// allowed to be made and functions marked compiled. The collector runs from the first
// definition on. From source texts (test programs), or from the boot image (`kov`).
void run_definitions(const Source* sources, std::size_t count);
void run_image(const uint8_t* image, std::size_t size);
// The first typeset of the boot definitions whose members differ from its type family in
// runtime/families.h, or null when all agree. Debug builds check it after the boot image.
const char* family_mismatch();
// The words of the back-end contract, in its order: the build reads them from the table
// beside the face model (view/faces.kov).
std::span<const char* const> platform_contract();
// The first word of the back-end contract that the platform object does not define (the first
// word of all for a value that is not an object), or null when it defines every one. Debug
// builds check system/view/platform with it after the boot image.
const char* platform_gap(const Cell& platform);
// Gives the objects of the boot definitions their fixed class ids, once all are made
// (boot/class_ids.cpp).
void set_class_ids();
// Evaluates source text in the global context; gives nothing (the result is dropped).
void evaluate(const char* text);
// Prints the report of a caught error as the console does.
void print_error(const Error& e);

}  // namespace kov::boot
