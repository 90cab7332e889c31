// event!: one GUI input event (type, face, window, offset, key, picked item, button and
// modifier state) in a single cell. The back end makes one per input it dispatches; a program
// makes one with `make event!` to feed the dispatch itself.
//
// Cell: w1 the event type id (1-38, 0 when none was given); w3 the flags word (bits 0-15 the
// key character of a made event, bit 0 "special key" in a back-end event, the state bits
// above). With the header bit `cell::event_block` (made by `make`) w2 is the node of a
// five-cell block [face window offset picked type]: every copy of the cell shares it, so a
// change of the type made through one copy (an event function's argument) is seen through
// all; the type is an integer id, also kept in w1 at make. Without it
// (made by the back end) w2 is a handle the back end gave out: the back end answers for face,
// window, offset, key and picked through its reader, and once it has let the input record go
// the handle no longer matches and those fields read as none. No cell ever holds an address.
//
// Moving memory: make, form, mold, the path read of `flags` and the back end's reader
// allocate; the other field reads, path write, compare and the flag tests do not.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kov::natives {
class Args;
}

namespace kov::event {

// State bits of the flags word.
enum Flag : uint32_t {
    aux_down = 0x400000, alt_down = 0x800000, mid_down = 0x1000000, down = 0x2000000, away = 0x4000000,
    control = 0x10000000, shift = 0x20000000, alt = 0x40000000, command = 0x80000000,
};
constexpr uint32_t special_key = 1;  // back-end events: the key is a word, kept in the record

// Field indexes, as `pick` numbers them.
enum Field : int32_t {
    f_type = 1, f_face, f_window, f_offset, f_key, f_picked, f_flags, f_away_q, f_down_q, f_mid_down_q,
    f_alt_down_q, f_aux_down_q, f_ctrl_q, f_shift_q, f_orientation,
};
constexpr int32_t field_count = 15;
constexpr uint32_t type_count = 38;

// Answers face, window, offset, key or picked of a back-end event from the back end's record
// named by the handle; none when the handle is stale. May allocate.
using Reader = Cell (*)(uint32_t handle, int32_t field, const Cell& event);
void set_reader(Reader reader);

// ---- cell helpers -------------------------------------------------------------------------------
inline uint32_t type_of(const Cell& e) {
    cell::expect(cell::is(e, T_event));
    return e.w1;
}
inline void set_type(Cell& e, uint32_t type) { e.w1 = type; }
inline uint32_t flags_of(const Cell& e) {
    cell::expect(cell::is(e, T_event));
    return e.w3;
}
// Made by `make`: the record is a block (or absent), else the back end's handle.
inline bool made(const Cell& e) { return (e.header & cell::event_block) != 0; }
// The record's node of a made event (0: none), or the handle of a back-end event.
inline uint32_t record_of(const Cell& e) {
    cell::expect(cell::is(e, T_event) && (!made(e) || e.w2 == 0 || memory::valid_node(e.w2)));
    return e.w2;
}

// A back-end event of a type id, handle and flags word.
inline Cell make_backend(uint32_t type, uint32_t handle, uint32_t flags) { return Cell{T_event, type, handle, flags}; }

// The type id of a word (case ignored), 0 when the word names no event type.
uint32_t type_id(const Cell& word);
// The symbol of a type id 1-38, 0 otherwise.
uint32_t type_symbol(uint32_t id);

// The routines of the boot definitions.
void event_q(natives::Args& args, const Cell& data);
void find_flag_q(natives::Args& args, const Cell& data);
void send_event_os(natives::Args& args, const Cell& data);

void init();

}  // namespace kov::event
