// Set natives: union, intersect, unique, difference and exclude, which check that the two
// sets go together and hand the work to the datatype holding them, and complement?.
//
// A block! and a hash! go together; any other set only with a set of its own datatype. The
// block work (records, /case, /skip, the hash! result) is block::do_set_op, the typeset work
// typeset::set_op; the difference of two dates is the time! between them.
//
// Moving memory: the block operation allocates its result on the value stack; the argument
// cells stay on the value stack throughout, so nothing here holds a buffer address.
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/time.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/error.h"
#include "runtime/interpreter/natives.h"
#include "runtime/interpreter/stack.h"

namespace kov::natives {

[[noreturn]] void fire_expect_arg(const Cell& value, const char* argument);  // natives_math.cpp

namespace {

inline Cell* A(uint32_t k) { return stack::values.args + k; }
inline Cell datatype_cell(uint32_t t) { return Cell{T_datatype, t, 0, 0}; }

inline bool block_set_q(uint32_t t) { return t == T_block || t == T_hash; }

// The difference of two dates in seconds: whole days, then the stored times.
double date_difference(const Cell& a, const Cell& b) {
    int64_t days = int64_t(date::to_days(date::packed_of(a))) - int64_t(date::to_days(date::packed_of(b)));
    return static_cast<double>(days) * 86400.0 + (date::time_of(a) - date::time_of(b));
}

// The shared step of the five set natives; refinement 0 is /case, 1 is /skip.
void set_operation(const int32_t* refs, int32_t op) {
    bool unique = op == block::op_unique;
    const char* first_arg = unique ? "set" : "set1";
    uint32_t t1 = cell::type(*A(0));
    if (!unique) {
        uint32_t t2 = cell::type(*A(1));
        if (block_set_q(t1) ? !block_set_q(t2) : t1 != t2)
            error::fire(err::script_expect_val, datatype_cell(t1), datatype_cell(t2));
    }
    bool case_ = given(refs, 0);
    Cell* skip = given(refs, 1) ? A(static_cast<uint32_t>(refs[1])) : nullptr;
    switch (t1) {
    case T_block:
    case T_hash: {
        Cell* result = block::do_set_op(A(0), unique ? nullptr : A(1), case_, skip, op);
        *A(0) = *result;
        stack::keep();
        return;
    }
    case T_typeset:
        if (unique) fire_expect_arg(*A(0), first_arg);
        *A(0) = *typeset::set_op(A(0), A(1), op);
        return;
    case T_date:
        if (op != block::op_difference) fire_expect_arg(*A(0), first_arg);
        time::make_at(*A(0), date_difference(*A(0), *A(1)));
        return;
    case T_string: {
        Cell* result = string::do_set_op(A(0), unique ? nullptr : A(1), case_, skip, op);
        *A(0) = *result;
        stack::keep();
        return;
    }
    case T_bitset:
        // The set operations of bitsets belong to that datatype.
        error::fire(err::internal_not_done);
    default:
        fire_expect_arg(*A(0), first_arg);
    }
}

void union_(const int32_t* refs) { set_operation(refs, block::op_union); }
void intersect(const int32_t* refs) { set_operation(refs, block::op_intersect); }
void unique(const int32_t* refs) { set_operation(refs, block::op_unique); }
void difference(const int32_t* refs) { set_operation(refs, block::op_difference); }
void exclude(const int32_t* refs) { set_operation(refs, block::op_exclude); }

void complement_q(const int32_t*) {
    // The complemented flag lives in a bitset's buffer, which that datatype defines.
    if (cell::is(*A(0), T_bitset)) error::fire(err::internal_not_done);
    fire_expect_arg(*A(0), "bits");
}

}  // namespace

void init_sets() {
    register_entry(index::union_, union_);
    register_entry(index::intersect, intersect);
    register_entry(index::unique, unique);
    register_entry(index::difference, difference);
    register_entry(index::exclude, exclude);
    register_entry(index::complement_q, complement_q);
}

}  // namespace kov::natives
