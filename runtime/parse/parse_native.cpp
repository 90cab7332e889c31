// The `parse` native: checks and converts its arguments (/case, /part, /trace) and hands the
// work to the rule interpreter (parse.cpp).
//
// break, continue, return and exit out of a paren in the rules travel on to their target
// when the code that called parse is interpreted (as try lets them), and stop here otherwise.
//
// Moving memory: parsing allocates and runs Kov code; the arguments stay on the value stack,
// which never moves.
#include <cmath>

#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/error.h"
#include "runtime/interpreter/natives.h"
#include "runtime/interpreter/stack.h"
#include "runtime/numeric.h"
#include "runtime/parse/match.h"
#include "runtime/parse/parse.h"

#include "refinements.h"

namespace kov::natives {

namespace {


// The part limit as an absolute index: a count from the input's position, or a position in
// the same series.
int64_t part_limit(const Cell& input, const Cell& length) {
    int64_t from = series::index_of(input);
    if (cell::is(length, T_integer)) return from + integer::get(length);
    if (cell::is(length, T_float_) || cell::is(length, T_percent)) {
        double d = cell::get_double(length);
        return from + numeric::clamp_to_int32(std::trunc(d));
    }
    if (cell::type(length) != cell::type(input) || series::node_of(length) != series::node_of(input))
        error::fire(err::script_invalid_refine_arg, series::word_arg("part"), length);
    return series::index_of(length);
}

void parse_(Args& args) {
    Cell input = *args.cell(0);
    Cell rules = *args.cell(1);
    bool case_ = args.given(refine::parse::case_);
    int64_t limit = -1;
    if (args.given(refine::parse::part)) {
        limit = part_limit(input, *args.option(refine::parse::part));
        int64_t from = series::index_of(input);
        if (from < 0) from = 0;
        if (limit - from < 1) {
            logic::make_at(*args.cell(0), from >= parse::length_of(input));
            stack::keep();
            return;
        }
    }
    Cell callback = args.given(refine::parse::trace) ? *args.option(refine::parse::trace) : none::value;
    stack::keep();
    uint32_t before = stack::depth();
    Cell result = parse::process(input, rules, case_, limit, callback);
    *args.cell(0) = result;
    stack::keep();
    if (!stack::exiting() || stack::pending.code == stack::exit_throw) return;
    if (stack::frame_barrier_q(before + 1, true) || before == 0) return;
    stack::pending.code = stack::no_exit;
}

}  // namespace

void init_parse() {
    parse::init();
#define NATIVES_parse(index, entry) register_entry(index, entry);
#include "runtime/interpreter/natives_register.h"
}

}  // namespace kov::natives
