// Set natives: union, intersect, unique, difference and exclude, which check that the two
// sets go together and hand the work to the datatype holding them, and complement?.
//
// A block! and a hash! go together; any other set only with a set of its own datatype. The
// block work (records, /case, /skip, the hash! result) is block::do_set_op, the typeset work
// typeset::set_op; the difference of two dates is the time! between them.
//
// Moving memory: the block operation allocates its result on the value stack; the argument
// cells stay on the value stack throughout, so nothing here holds a buffer address.
#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/time.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/error.h"
#include "runtime/interpreter/natives.h"
#include "runtime/interpreter/stack.h"

#include "refinements.h"

namespace kov::natives {


namespace {

inline Cell datatype_cell(uint32_t t) { return Cell{T_datatype, t, 0, 0}; }

inline bool block_set_q(uint32_t t) { return t == T_block || t == T_hash; }

// The difference of two dates in seconds: whole days, then the stored times.
double date_difference(const Cell& a, const Cell& b) {
    int64_t days = int64_t(date::to_days(date::packed_of(a))) - int64_t(date::to_days(date::packed_of(b)));
    return static_cast<double>(days) * 86400.0 + (date::time_of(a) - date::time_of(b));
}

// The shared step of the five set natives; refinement 0 is /case, 1 is /skip.
// The set natives share their refinements.
static_assert(refine::intersect::case_ == refine::union_::case_ && refine::unique::case_ == refine::union_::case_ &&
              refine::difference::case_ == refine::union_::case_ && refine::exclude::case_ == refine::union_::case_ &&
              refine::intersect::skip == refine::union_::skip && refine::unique::skip == refine::union_::skip &&
              refine::difference::skip == refine::union_::skip && refine::exclude::skip == refine::union_::skip);

void set_operation(Args& args, int32_t op) {
    bool unique = op == block::op_unique;
    const char* first_arg = unique ? "set" : "set1";
    uint32_t t1 = cell::type(*args.cell(0));
    if (!unique) {
        uint32_t t2 = cell::type(*args.cell(1));
        if (block_set_q(t1) ? !block_set_q(t2) : t1 != t2)
            error::fire(err::script_expect_val, datatype_cell(t1), datatype_cell(t2));
    }
    bool case_ = args.given(refine::union_::case_);
    Cell* skip = args.option(refine::union_::skip);
    switch (t1) {
    case T_block:
    case T_hash: {
        Cell* result = block::do_set_op(args.cell(0), unique ? nullptr : args.cell(1), case_, skip, op);
        *args.cell(0) = *result;
        stack::keep();
        return;
    }
    case T_typeset:
        if (unique) args.wrong_type(0, first_arg);
        *args.cell(0) = *typeset::set_op(args.cell(0), args.cell(1), op);
        return;
    case T_date:
        if (op != block::op_difference) args.wrong_type(0, first_arg);
        time::make_at(*args.cell(0), date_difference(*args.cell(0), *args.cell(1)));
        return;
    case T_string: {
        Cell* result = string::do_set_op(args.cell(0), unique ? nullptr : args.cell(1), case_, skip, op);
        *args.cell(0) = *result;
        stack::keep();
        return;
    }
    case T_bitset:
        *args.cell(0) = *bitset::do_set_op(args.cell(0), unique ? args.cell(0) : args.cell(1), op);
        return;
    default:
        args.wrong_type(0, first_arg);
    }
}

void union_(Args& args) { set_operation(args, block::op_union); }
void intersect(Args& args) { set_operation(args, block::op_intersect); }
void unique(Args& args) { set_operation(args, block::op_unique); }
void difference(Args& args) { set_operation(args, block::op_difference); }
void exclude(Args& args) { set_operation(args, block::op_exclude); }

void complement_q(Args& args) {
    if (!cell::is(*args.cell(0), T_bitset)) args.wrong_type(0, "bits");
    logic::make_at(*args.cell(0), bitset::complement_q(*args.cell(0)));
}

}  // namespace

void init_sets() {
#define NATIVES_sets(index, entry) register_entry(index, entry);
#include "runtime/interpreter/natives_register.h"
}

}  // namespace kov::natives
