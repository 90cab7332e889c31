// The parse rule interpreter (see parse.h).
//
// Frames: a block frame for each rule block being matched (the block value, the position of
// its next rule, the input index when it was entered), and a command frame for each keyword
// that takes a following rule (any, some, opt, while, counts, to, thru, copy, set, not, ahead,
// into, remove, collect, keep, change, case). A command frame sits above the block frame its
// keyword was read in; the rule after the keyword is fetched from that block as usual, and
// when it has matched or failed the command is applied to the result. A repetition runs its
// rule again by moving the block's position back to the rule.
//
// Invariants: a rule that fails leaves the input index where the rule began; the innermost
// block frame is the one rules are fetched from; every frame of a run lies above the run's
// head, and the run clears back to its head on every way out (an error, an exit, the trace
// callback stopping it).
//
// Rules and input may be changed by Kov code while they are matched (a paren, the trace
// callback): every position is clipped to the current tail before it is used.
#include "runtime/parse/parse.h"

#include <vector>

#include "runtime/cells.h"
#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/families.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/interp.h"
#include "runtime/interpreter/stack.h"
#include "runtime/parse/match.h"
#include "runtime/words.h"

namespace kov::parse {

using memory::Node;

namespace {

// ---- keywords -----------------------------------------------------------------------------------

enum class Key : uint8_t {
    none_, any, break_, copy, end, fail, into, opt, not_, quote, case_, reject, set, skip, some, thru, to,
    none, bar, if_, remove, while_, insert, only, collect, keep, pick, ahead, after, change,
};

struct KeyName {
    const uint32_t* symbol;
    Key key;
};
const KeyName key_names[] = {
    {&words::symbols::any, Key::any},         {&words::symbols::break_, Key::break_},
    {&words::symbols::copy, Key::copy},       {&words::symbols::end, Key::end},
    {&words::symbols::fail, Key::fail},       {&words::symbols::into, Key::into},
    {&words::symbols::opt, Key::opt},         {&words::symbols::not_, Key::not_},
    {&words::symbols::quote, Key::quote},     {&words::symbols::case_, Key::case_},
    {&words::symbols::reject, Key::reject},   {&words::symbols::set, Key::set},
    {&words::symbols::skip, Key::skip},       {&words::symbols::some, Key::some},
    {&words::symbols::thru, Key::thru},       {&words::symbols::to, Key::to},
    {&words::symbols::none, Key::none},       {&words::symbols::bar, Key::bar},
    {&words::symbols::if_, Key::if_},         {&words::symbols::remove, Key::remove},
    {&words::symbols::while_, Key::while_},   {&words::symbols::insert, Key::insert},
    {&words::symbols::only, Key::only},       {&words::symbols::collect, Key::collect},
    {&words::symbols::keep, Key::keep},       {&words::symbols::pick, Key::pick},
    {&words::symbols::ahead, Key::ahead},     {&words::symbols::after, Key::after},
    {nullptr, Key::change},  // a loaded word: its symbol is words::loaded::change's
};

constexpr uint32_t key_count = sizeof(key_names) / sizeof(key_names[0]);
// The keywords' symbols as `resolve` gives them, taken once the symbols exist.
uint32_t key_symbols[key_count];
bool keys_ready = false;

void resolve_keys() {
    for (uint32_t i = 0; i < key_count; ++i) key_symbols[i] = symbol::resolve(key_names[i].symbol ? *key_names[i].symbol : word::symbol_of(words::loaded::change));
    keys_ready = true;
}

// The keyword a word names (compared by symbol, letter case ignored), or none_.
Key keyword_of(const Cell& w) {
    if (!cell::is(w, T_word)) return Key::none_;
    uint32_t sym = symbol::resolve(word::symbol_of(w));
    for (uint32_t i = 0; i < key_count; ++i)
        if (key_symbols[i] == sym) return key_names[i].key;
    return Key::none_;
}

// ---- frames -------------------------------------------------------------------------------------

enum class Kind : uint8_t { block, repeat, to, thru, copy, set, not_, ahead, into, remove, collect, keep, change, case_ };

// Flags of command frames.
constexpr uint8_t while_flag = 1;    // repeat: `while` (goes on without progress)
constexpr uint8_t pick_flag = 1;     // keep
constexpr uint8_t only_flag = 1;     // change
constexpr uint8_t case_flag = 1;     // case: the setting before it
enum CollectMode : uint8_t { collect_plain = 0, collect_set = 1, collect_into = 2, collect_after = 3 };

struct Frame {
    Kind kind;
    uint8_t flags = 0;
    uint32_t owner = 0;     // block: the enclosing block frame; command: the block it was read in
    uint32_t pos = 0;       // block: its next rule; command: the position of its rule
    uint32_t effects = 0;   // repeat: the side-effect count when the iteration began
    int64_t entry = 0;      // the input index when pushed
    int64_t start = 0;      // repeat: the index the iteration began at; to, thru: the index tried
    int32_t min = 0, max = 0;
    int64_t count = 0;      // repeat: iterations matched; `while` may pass any integer's range
    Cell a{T_none, 0, 0, 0};  // block: the rules; copy, set, case: the word; into: the outer
                              // input; collect: the block or series values are kept in
    Cell b{T_none, 0, 0, 0};  // collect set: the word
};

constexpr uint32_t max_frames = 5000;  // two cells a frame: 10000 cells
constexpr uint32_t no_block = 0xFFFFFFFFu;

std::vector<Frame> frames;

struct Machine;
Machine* active = nullptr;

// Internal ways out of a run: a pending exit from Kov code, or the trace callback's refusal.
struct Exit {};
struct Stop {};

enum Next { fetch, after, done };

// ---- series operations on the input ---------------------------------------------------------------

Cell at_index(const Cell& series, int64_t index) {
    Cell c = series;
    series::set_index(c, static_cast<uint32_t>(index));
    return c;
}

// Inserts the value at the index (or appends it); gives the units added.
int64_t insert_at(const Cell& series, int64_t index, const Cell& value, bool only, bool append) {
    auto fn = actions::lookup<actions::slot::insert>(cell::type(series));
    if (!fn) actions::fire_expect_arg(series, 0);
    stack::Mark mark;
    Cell* s = stack::push(at_index(series, index));
    Cell* v = stack::push(value);
    int64_t before = length_of(series);
    fn(s, v, -1, only, 1, append);
    return length_of(series) - before;
}

// Replaces count units from the index by the value; gives the length of the new content.
int64_t change_at(const Cell& series, int64_t index, int64_t count, const Cell& value, bool only) {
    auto fn = actions::lookup<actions::slot::change>(cell::type(series));
    if (!fn) actions::fire_expect_arg(series, 0);
    stack::Mark mark;
    Cell* s = stack::push(at_index(series, index));
    Cell* v = stack::push(value);
    int64_t before = length_of(series);
    fn(s, v, static_cast<int32_t>(count), only, 1);
    int64_t added = length_of(series) - before + count;
    return added < 0 ? 0 : added;
}

void remove_at(const Cell& series, int64_t index, int64_t count) {
    if (count <= 0) return;
    auto fn = actions::lookup<actions::slot::remove>(cell::type(series));
    if (!fn) actions::fire_expect_arg(series, 0);
    stack::Mark mark;
    Cell* s = stack::push(at_index(series, index));
    Cell* part = stack::push(integer::make(static_cast<int32_t>(count)));
    fn(s, part, nullptr);
}

Cell copy_at(const Cell& series, int64_t index, int64_t count) {
    auto fn = actions::lookup<actions::slot::copy>(cell::type(series));
    if (!fn) actions::fire_expect_arg(series, 0);
    stack::Mark mark;
    Cell* s = stack::push(at_index(series, index));
    Cell* part = stack::push(integer::make(static_cast<int32_t>(count)));
    Cell* scratch = stack::reserve();
    return *fn(s, scratch, part, false, nullptr);
}

void set_word(const Cell& word, const Cell& value) {
    Cell w = word;
    Cell v = value;
    collector::Root keep(v);
    context::set(w, v);
}

// The value of a word, or false when it has none (unbound, or unset).
bool word_value(const Cell& word, Cell& out) {
    const Cell* slot = context::bound_slot(word);
    if (!slot) {
        try {
            slot = context::get(word);
        } catch (Error&) {
            return false;
        }
    }
    out = *slot;
    return !cell::is(out, T_unset);
}

bool truthy(const Cell& v) { return !(cell::is(v, T_none) || (cell::is(v, T_logic) && logic::get(v) == 0)); }

// ---- the machine --------------------------------------------------------------------------------

struct Machine {
    Machine* prev;
    uint32_t head;
    Cell input;                  // the current input (nested by into); its index is `index`
    Cell rule{T_none, 0, 0, 0};  // the rule value being worked on
    Cell temp{T_none, 0, 0, 0};  // a value computed from the rules
    Cell result{T_none, 0, 0, 0};  // the block of a top-level collect
    Cell callback;
    Cell top_rules{T_none, 0, 0, 0};
    int64_t index = 0;
    int64_t limit;               // the top input's part limit, or -1
    uint32_t nesting = 0;        // into levels entered
    uint32_t block = no_block;   // the innermost block frame
    uint32_t effects = 0;        // Kov code run and changes made so far
    bool case_;
    bool ok = true;
    bool has_result = false;

    Machine(const Cell& in, bool case_sensitive, int64_t part, const Cell& cb)
        : prev(active), head(static_cast<uint32_t>(frames.size())), input(in), callback(cb), limit(part),
          case_(case_sensitive) {
        active = this;
    }
    ~Machine() {
        frames.resize(head);
        active = prev;
    }
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    // ---- input ---------------------------------------------------------------------------------
    int64_t end_index() const {
        int64_t n = length_of(input);
        if (nesting == 0 && limit >= 0 && limit < n) return limit;
        return n;
    }
    void clip_index() {
        int64_t n = length_of(input);
        if (index > n) index = n;
        if (index < 0) index = 0;
    }
    InputKind kind() const { return kind_of(cell::type(input)); }

    // ---- frames --------------------------------------------------------------------------------
    Frame& top() { return frames.back(); }
    uint32_t top_index() const { return static_cast<uint32_t>(frames.size() - 1); }
    bool waiting() const { return frames.size() - 1 != block; }

    uint32_t push(Kind kind) {
        if (frames.size() >= max_frames) error::fire(err::script_parse_stack);
        Frame f{};
        f.kind = kind;
        f.owner = block;
        f.pos = block == no_block ? 0 : frames[block].pos;
        f.entry = index;
        f.start = index;
        frames.push_back(f);
        return top_index();
    }

    void push_block(const Cell& rules) {
        uint32_t k = push(Kind::block);
        frames[k].a = rules;
        frames[k].pos = series::position_of(rules);
        block = k;
        event(words::loaded::push);
    }

    // Pops frames above k, putting back the input of an into and the setting of a case.
    void unwind_above(uint32_t k) {
        while (frames.size() - 1 > k) {
            Frame& f = top();
            if (f.kind == Kind::into) {
                input = f.a;
                index = f.entry;
                --nesting;
            } else if (f.kind == Kind::case_) {
                case_ = (f.flags & case_flag) != 0;
            } else if (f.kind == Kind::block) {
                block = f.owner;
            }
            frames.pop_back();
        }
        clip_index();
    }

    // The rule value at a position of the innermost block, or null at its end.
    bool peek(uint32_t pos, Cell& out) {
        Node n = series::node_of(frames[block].a);
        if (pos >= cells::count(n)) return false;
        out = cells::at(n, pos);
        return true;
    }
    // The next rule value of the innermost block, consumed; parse-end naming the keyword
    // before it when the block has ended.
    Cell take_next(const Cell& keyword) {
        Cell v;
        if (!peek(frames[block].pos, v)) error::fire(err::script_parse_end, keyword);
        ++frames[block].pos;
        return v;
    }

    // ---- Kov code ------------------------------------------------------------------------------
    Cell eval_paren(const Cell& paren) {
        ++effects;
        Cell p = paren;
        collector::Root keep(p);
        stack::push_frame(stack::eval, nullptr);
        stack::reserve();
        interp::eval_block(p, true);
        Cell v = *stack::values.args;
        stack::leave_frame();
        if (stack::exiting()) throw Exit{};
        clip_index();
        temp = v;
        event(words::loaded::paren);
        return temp;
    }

    // The value of insert and change: a paren's value, a word's value, any other value itself.
    Cell value_of(const Cell& v) {
        if (cell::is(v, T_paren)) return eval_paren(v);
        if (cell::is(v, T_path)) error::fire(err::script_parse_rule, v);
        if (cell::is(v, T_word)) {
            if (!word_value(v, temp)) error::fire(err::script_no_value, v);
            return temp;
        }
        return v;
    }

    // Sends a trace event to the callback: the event, the match result, the rules at the
    // current position, the input at the current index and the rule blocks on the stack.
    void event(const Cell& word) {
        if (!cell::is(callback, T_function)) return;
        ++effects;
        stack::Mark mark;
        Cell* args = stack::push(word);
        stack::push(logic::make(ok));
        // Past the outermost block (its pop and the end), the rules are shown at their tail.
        Cell* rules = stack::push(top_rules);
        if (block != no_block) {
            *rules = frames[block].a;
            series::set_index(*rules, frames[block].pos);
        } else {
            series::set_index(*rules, cells::count(series::node_of(*rules)));
        }
        stack::push(at_index(input, index));
        Cell* list = stack::reserve();
        block::make_at(*list, 8);
        for (uint32_t k = head; k < frames.size(); ++k) {
            if (frames[k].kind != Kind::block) continue;
            Cell b = frames[k].a;
            series::set_index(b, frames[k].pos);
            block::rs_append(*list, b);
        }
        Cell answer = interp::apply_function(callback, args, 5, &words::loaded::parse_callback_tag);
        if (stack::exiting()) throw Exit{};
        clip_index();
        if (!truthy(answer)) throw Stop{};
    }

    Next matched(bool result) {
        ok = result;
        event(words::loaded::match);
        return after;
    }

    // ---- the run -------------------------------------------------------------------------------
    Cell run(const Cell& rules) {
        top_rules = rules;
        push_block(rules);
        Next next = fetch;
        while (next != done) next = next == fetch ? fetch_step() : after_step();
        bool whole = ok && index >= end_index();
        ok = whole;
        event(words::globals::end);
        if (has_result) return result;
        return logic::make(whole);
    }

    Next fetch_step() {
        Frame& b = frames[block];
        Node rules = series::node_of(b.a);
        uint32_t pos = b.pos;
        if (pos >= cells::count(rules)) {
            if (waiting()) error::fire(err::script_parse_end, pos > 0 ? cells::at(rules, pos - 1) : b.a);
            ok = true;
            return pop_block();
        }
        rule = cells::at(rules, pos);
        b.pos = pos + 1;
        event(words::loaded::fetch);
        return dispatch(rule, true);
    }

    Next pop_block() {
        Frame& b = top();
        if (!ok) index = b.entry;
        block = b.owner;
        frames.pop_back();
        clip_index();
        event(words::loaded::pop);
        return frames.size() == head ? done : after;
    }

    Next after_step() {
        Frame& t = top();
        if (t.kind == Kind::block) {
            if (ok) return fetch;
            int64_t bar = find_bar(series::node_of(t.a), t.pos, cells::count(series::node_of(t.a)));
            if (bar < 0) return pop_block();
            index = t.entry;
            clip_index();
            t.pos = static_cast<uint32_t>(bar);
            ok = true;
            return fetch;
        }
        return apply();
    }

    // ---- dispatch ------------------------------------------------------------------------------
    // direct: the value stands in the rules (a word's value is dispatched with direct false).
    Next dispatch(const Cell& v, bool direct) {
        switch (cell::type(v)) {
        case T_word: {
            if (!direct) error::fire(err::script_parse_rule, v);
            Key k = keyword_of(v);
            if (k != Key::none_) return keyword(k, v);
            Cell value;
            if (!word_value(v, value) || cell::is(value, T_word)) error::fire(err::script_parse_rule, v);
            temp = value;
            return dispatch(temp, false);
        }
        case T_set_word:
            set_word(v, at_index(input, index));
            return matched(true);
        case T_get_word: {
            Cell pos;
            if (!word_value(v, pos) || !in(cell::type(pos), SERIES) || series::node_of(pos) != series::node_of(input))
                error::fire(err::script_parse_invalid_ref);
            index = series::index_of(pos);
            clip_index();
            return matched(true);
        }
        case T_block:
            push_block(v);
            return fetch;
        case T_paren:
            eval_paren(v);
            return after;
        case T_integer:
            return count(v);
        case T_datatype:
        case T_typeset: {
            int64_t n = type_match(input, index, end_index(), v);
            if (n >= 0) index += n;
            return matched(n >= 0);
        }
        case T_path:
        case T_unset:
            error::fire(err::script_parse_rule, v);
        default: {
            int64_t n = match_one(input, index, end_index(), v, case_);
            if (n >= 0) index += n;
            return matched(n >= 0);
        }
        }
    }

    // A literal the repeated-match routine takes: the value itself, or a word's value.
    bool literal_rule(uint32_t pos, Cell& out) {
        Cell v;
        if (!peek(pos, v)) return false;
        if (cell::is(v, T_word)) {
            if (keyword_of(v) != Key::none_ || !word_value(v, out)) return false;
        } else {
            out = v;
        }
        return literal_q(out, kind());
    }

    Next repeat(int32_t min, int32_t max, bool while_) {
        Cell lit;
        uint32_t pos = frames[block].pos;
        if (literal_rule(pos, lit)) {
            ++frames[block].pos;
            temp = lit;
            return matched(match_value(input, index, end_index(), temp, min, max, case_));
        }
        uint32_t k = push(Kind::repeat);
        Frame& f = frames[k];
        f.min = min;
        f.max = max;
        f.flags = while_ ? while_flag : 0;
        f.effects = effects;
        return fetch;
    }

    Next count(const Cell& v) {
        int32_t min = integer::get(v);
        if (min < 0) error::fire(err::script_out_of_range, v);
        Cell next;
        if (!peek(frames[block].pos, next)) error::fire(err::script_parse_rule, v);
        int32_t max = min;
        if (cell::is(next, T_integer)) {
            max = integer::get(next);
            if (max < min) error::fire(err::script_parse_rule, next);
            ++frames[block].pos;
            Cell sub;
            if (!peek(frames[block].pos, sub)) error::fire(err::script_parse_rule, next);
        }
        if (max == 0) {
            frames[block].pos = skip_rule(frames[block].pos);
            return matched(true);
        }
        return repeat(min, max, false);
    }

    // The position after the rule that starts at pos, with every argument its keywords take.
    uint32_t skip_rule(uint32_t pos) {
        Node n = series::node_of(frames[block].a);
        uint32_t values_after = 0;  // the values `change` takes after its rule
        for (;;) {
            uint32_t tail = cells::count(n);
            if (pos >= tail) error::fire(err::script_parse_end, pos > 0 ? cells::at(n, pos - 1) : frames[block].a);
            Cell v = cells::at(n, pos++);
            auto next_is = [&](Key k) { return pos < tail && keyword_of(cells::at(n, pos)) == k; };
            if (cell::is(v, T_integer)) {
                if (pos < tail && cell::is(cells::at(n, pos), T_integer)) ++pos;
                continue;
            }
            switch (keyword_of(v)) {
            case Key::any: case Key::some: case Key::opt: case Key::while_: case Key::not_: case Key::ahead:
            case Key::to: case Key::thru: case Key::remove: case Key::into:
                continue;
            case Key::keep:
                if (next_is(Key::pick)) ++pos;
                continue;
            case Key::copy: case Key::set: case Key::case_:
                ++pos;
                continue;
            case Key::collect:
                if (next_is(Key::set) || next_is(Key::into) || next_is(Key::after)) pos += 2;
                continue;
            case Key::change:
                if (next_is(Key::only)) ++pos;
                ++values_after;
                continue;
            case Key::insert:
                if (next_is(Key::only)) ++pos;
                if (pos + 1 < tail && cell::is(cells::at(n, pos), T_get_word)) ++pos;
                ++pos;
                break;
            case Key::quote: case Key::if_:
                ++pos;
                break;
            default:
                break;
            }
            break;
        }
        pos += values_after;
        uint32_t tail = cells::count(n);
        return pos > tail ? tail : pos;
    }

    // A word or get-word naming a position in the input series, for remove, insert and change.
    bool position_rule(const Cell& v, int64_t& at) {
        Cell value;
        if (cell::is(v, T_get_word)) {
            if (!word_value(v, value) || !in(cell::type(value), SERIES) || series::node_of(value) != series::node_of(input))
                error::fire(err::script_parse_invalid_ref);
        } else if (cell::is(v, T_word) && keyword_of(v) == Key::none_) {
            if (!word_value(v, value) || !in(cell::type(value), SERIES) || series::node_of(value) != series::node_of(input))
                return false;
        } else {
            return false;
        }
        at = series::index_of(value);
        int64_t n = length_of(input);
        if (at > n) at = n;
        if (at < 0) at = 0;
        return true;
    }

    // The innermost collect frame, or no_block.
    uint32_t collect_frame() const {
        for (uint32_t k = static_cast<uint32_t>(frames.size()); k-- > head;)
            if (frames[k].kind == Kind::collect) return k;
        return no_block;
    }

    // Adds a value to the collect frame's block or series.
    void keep_value(uint32_t k, const Cell& value) {
        temp = value;
        Frame& f = frames[k];
        Cell target = f.a;
        bool cells = in(cell::type(target), ANY_BLOCK);
        if (f.flags == collect_into) {
            int64_t added = insert_at(target, series::index_of(target), temp, cells, false);
            series::set_index(frames[k].a, series::index_of(frames[k].a) + added);
        } else {
            insert_at(target, 0, temp, cells, true);
        }
    }

    Next keyword(Key k, const Cell& word) {
        switch (k) {
        case Key::bar:
            if (waiting()) error::fire(err::script_parse_end, word);
            frames[block].pos = cells::count(series::node_of(frames[block].a));
            return fetch;
        case Key::skip: {
            bool m = index < end_index();
            if (m) ++index;
            return matched(m);
        }
        case Key::end:
            return matched(index >= end_index());
        case Key::none:
            return matched(true);
        case Key::fail:
            return matched(false);
        case Key::any:
            return repeat(0, -1, false);
        case Key::some:
            return repeat(1, -1, false);
        case Key::opt:
            return repeat(0, 1, false);
        case Key::while_:
            return repeat(0, -1, true);
        case Key::to:
        case Key::thru:
            return to_thru(k == Key::thru, word);
        case Key::copy:
        case Key::set: {
            Cell w = take_next(word);
            if (!cell::is(w, T_word) && !cell::is(w, T_set_word)) error::fire(err::script_parse_rule, w);
            uint32_t f = push(k == Key::copy ? Kind::copy : Kind::set);
            frames[f].a = w;
            return fetch;
        }
        case Key::not_:
            push(Kind::not_);
            return fetch;
        case Key::ahead:
            push(Kind::ahead);
            return fetch;
        case Key::into:
            return into(word);
        case Key::remove: {
            Cell v;
            int64_t at;
            if (peek(frames[block].pos, v) && position_rule(v, at)) {
                ++frames[block].pos;
                int64_t from = std::min(at, index), to = std::max(at, index);
                ++effects;
                remove_at(input, from, to - from);
                index = from;
                clip_index();
                return matched(true);
            }
            push(Kind::remove);
            return fetch;
        }
        case Key::insert:
            return insert(word);
        case Key::change:
            return change(word);
        case Key::collect:
            return collect(word);
        case Key::keep:
            return keep(word);
        case Key::if_: {
            Cell v = take_next(word);
            if (!cell::is(v, T_paren)) error::fire(err::script_parse_rule, v);
            Cell r = eval_paren(v);
            return matched(truthy(r));
        }
        case Key::quote: {
            Cell v = take_next(word);
            temp = v;
            int64_t n = match_one(input, index, end_index(), temp, case_);
            if (n >= 0) index += n;
            return matched(n >= 0);
        }
        case Key::break_:
        case Key::reject:
            return break_loop(k == Key::break_);
        case Key::case_: {
            Cell w = take_next(word);
            Cell value = w;
            if (cell::is(w, T_word) && !word_value(w, value)) error::fire(err::script_no_value, w);
            uint32_t f = push(Kind::case_);
            frames[f].flags = case_ ? case_flag : 0;
            case_ = truthy(value);
            return fetch;
        }
        case Key::only:
        case Key::pick:
        case Key::after:
        default:
            error::fire(err::script_parse_rule, word);
        }
    }

    Next to_thru(bool thru, const Cell& word) {
        Cell v;
        if (!peek(frames[block].pos, v)) error::fire(err::script_parse_end, word);
        Cell target = v;
        Key k = keyword_of(v);
        if (k == Key::end) {
            ++frames[block].pos;
            index = end_index();
            return matched(true);
        }
        if (k == Key::bar) error::fire(err::script_parse_end, word);
        bool generic = k != Key::none_;
        if (!generic && cell::is(v, T_word)) {
            if (!word_value(v, target) || cell::is(target, T_word)) error::fire(err::script_parse_rule, v);
        }
        uint32_t t = cell::type(target);
        if (t == T_block || t == T_datatype || t == T_typeset) generic = true;
        if (generic) {
            push(thru ? Kind::thru : Kind::to);
            return fetch;
        }
        ++frames[block].pos;
        temp = target;
        int64_t length = 0;
        int64_t found = search(input, index, end_index(), temp, case_, length);
        if (found < 0) return matched(false);
        index = thru ? found + length : found;
        return matched(true);
    }

    Next into(const Cell& word) {
        if (kind() != InputKind::cells) error::fire(err::script_parse_block, input);
        Cell v = take_next(word);
        Cell rules = v;
        if (cell::is(v, T_word) && keyword_of(v) == Key::none_) word_value(v, rules);
        if (!cell::is(rules, T_block)) error::fire(err::script_parse_end, word);
        if (index >= end_index()) return matched(false);
        Cell value = cells::at(series::node_of(input), static_cast<uint32_t>(index));
        if (kind_of(cell::type(value)) == InputKind::other) return matched(false);
        uint32_t f = push(Kind::into);
        frames[f].a = input;
        temp = rules;
        input = value;
        index = series::index_of(value);
        clip_index();
        ++nesting;
        push_block(temp);
        return fetch;
    }

    Next insert(const Cell& word) {
        bool only = false;
        Cell v = take_next(word);
        if (keyword_of(v) == Key::only) {
            only = true;
            v = take_next(v);
        }
        int64_t at = index;
        Cell after_pos;
        if (peek(frames[block].pos, after_pos) && position_rule(v, at)) v = take_next(v);
        Cell value = value_of(v);
        ++effects;
        int64_t added = insert_at(input, at, value, only, false);
        if (at <= index) index += added;
        clip_index();
        return matched(true);
    }

    Next change(const Cell& word) {
        uint8_t flags = 0;
        Cell v;
        if (!peek(frames[block].pos, v)) error::fire(err::script_parse_end, word);
        if (keyword_of(v) == Key::only) {
            flags = only_flag;
            ++frames[block].pos;
            if (!peek(frames[block].pos, v)) error::fire(err::script_parse_end, v);
        }
        int64_t at;
        if (position_rule(v, at)) {
            ++frames[block].pos;
            Cell value = value_of(take_next(v));
            int64_t from = std::min(at, index), to = std::max(at, index);
            ++effects;
            int64_t added = change_at(input, from, to - from, value, flags & only_flag);
            index = from + added;
            clip_index();
            return matched(true);
        }
        uint32_t f = push(Kind::change);
        frames[f].flags = flags;
        return fetch;
    }

    Next collect(const Cell& word) {
        Cell v;
        if (!peek(frames[block].pos, v)) error::fire(err::script_parse_end, word);
        Key option = keyword_of(v);
        uint8_t mode = collect_plain;
        Cell target{T_none, 0, 0, 0};
        Cell name{T_none, 0, 0, 0};
        if (option == Key::set || option == Key::into || option == Key::after) {
            ++frames[block].pos;
            name = take_next(v);
            if (!in(cell::type(name), ALL_WORD)) error::fire(err::script_parse_rule, name);
            mode = option == Key::set ? collect_set : option == Key::into ? collect_into : collect_after;
        }
        if (mode == collect_into || mode == collect_after) {
            if (!word_value(name, target) || !in(cell::type(target), SERIES) ||
                series::node_of(target) == series::node_of(input))
                error::fire(err::script_parse_into_bad);
            InputKind tk = kind_of(cell::type(target));
            if (tk == InputKind::other || (tk != InputKind::cells && kind() == InputKind::cells))
                error::fire(err::script_parse_into_type);
        }
        uint32_t outer = collect_frame();
        uint32_t f = push(Kind::collect);
        frames[f].flags = mode;
        frames[f].b = name;
        if (mode == collect_into || mode == collect_after) {
            frames[f].a = target;
        } else {
            block::make_at(frames[f].a, 16);
            if (mode == collect_plain && outer == no_block && !has_result) {
                result = frames[f].a;
                has_result = true;
            }
        }
        return fetch;
    }

    Next keep(const Cell& word) {
        uint32_t target = collect_frame();
        if (target == no_block) error::fire(err::script_parse_keep);
        uint8_t flags = 0;
        Cell v;
        if (!peek(frames[block].pos, v)) error::fire(err::script_parse_end, word);
        if (keyword_of(v) == Key::pick) {
            flags = pick_flag;
            ++frames[block].pos;
            if (!peek(frames[block].pos, v)) error::fire(err::script_parse_end, v);
        }
        if (cell::is(v, T_paren)) {
            ++frames[block].pos;
            Cell value = eval_paren(v);
            target = collect_frame();
            if (target == no_block) error::fire(err::script_parse_keep);
            if ((flags & pick_flag) && in(cell::type(value), ANY_BLOCK)) {
                int64_t n = length_of(value);
                for (int64_t i = series::index_of(value); i < n; ++i) {
                    keep_value(target, cells::at(series::node_of(value), static_cast<uint32_t>(i)));
                    n = length_of(value);
                }
            } else {
                keep_value(target, value);
            }
            return matched(true);
        }
        uint32_t f = push(Kind::keep);
        frames[f].flags = flags;
        return fetch;
    }

    // break and reject: end the innermost repetition (without one, the innermost rule block).
    Next break_loop(bool matched_iteration) {
        uint32_t r = no_block;
        for (uint32_t k = static_cast<uint32_t>(frames.size()); k-- > head;) {
            if (frames[k].kind == Kind::repeat) {
                r = k;
                break;
            }
        }
        if (r == no_block) {
            unwind_above(block);
            ok = matched_iteration;
            return pop_block();
        }
        unwind_above(r);
        Frame& f = frames[r];
        if (matched_iteration) ++f.count;
        else index = f.start;
        block = f.owner;
        return end_repeat();
    }

    Next end_repeat() {
        Frame& f = top();
        ok = f.count >= f.min;
        if (!ok) index = f.entry;
        frames.pop_back();
        clip_index();
        return after;
    }

    // ---- commands ------------------------------------------------------------------------------
    Next apply() {
        uint32_t k = top_index();
        Frame& f = frames[k];
        switch (f.kind) {
        case Kind::repeat: {
            if (!ok) {
                index = f.start;
                clip_index();
                return end_repeat();
            }
            bool moved = index != f.start;
            ++f.count;
            bool stop = f.max >= 0 && f.count >= f.max;
            // An iteration that did not move ends the loop; `while` goes on when something
            // changed, since only then can the next iteration differ.
            if (!moved && (!(f.flags & while_flag) || effects == f.effects)) stop = true;
            if (stop) return end_repeat();
            f.start = index;
            f.effects = effects;
            frames[f.owner].pos = f.pos;
            event(words::loaded::iterate);
            return fetch;
        }
        case Kind::to:
        case Kind::thru:
            if (ok) {
                if (f.kind == Kind::to) index = f.start;
                frames.pop_back();
                return after;
            }
            if (f.start < end_index()) {
                index = ++f.start;
                frames[f.owner].pos = f.pos;
                return fetch;
            }
            index = f.entry;
            frames.pop_back();
            clip_index();
            return after;
        case Kind::not_:
        case Kind::ahead:
            index = f.entry;
            if (f.kind == Kind::not_) ok = !ok;
            frames.pop_back();
            clip_index();
            return after;
        case Kind::case_:
            case_ = (f.flags & case_flag) != 0;
            frames.pop_back();
            return after;
        case Kind::into: {
            bool whole = ok && index >= length_of(input);
            input = f.a;
            index = whole ? f.entry + 1 : f.entry;
            --nesting;
            frames.pop_back();
            clip_index();
            ok = whole;
            return after;
        }
        default:
            break;
        }
        // The commands that act on what their rule matched.
        Frame g = f;
        frames.pop_back();
        if (!ok) {
            index = g.entry;
            clip_index();
            if (g.kind == Kind::change) take_next(g.a);  // the value is not a rule
            return after;
        }
        int64_t from = g.entry;
        if (from > index) from = index;
        int64_t n = index - from;
        switch (g.kind) {
        case Kind::copy:
            temp = copy_at(input, from, n);
            set_word(g.a, temp);
            break;
        case Kind::set:
            set_word(g.a, n > 0 ? value_at(input, from) : none::value);
            break;
        case Kind::remove:
            ++effects;
            remove_at(input, from, n);
            index = from;
            break;
        case Kind::change: {
            Cell value = value_of(take_next(rule));
            ++effects;
            int64_t added = change_at(input, from, n, value, g.flags & only_flag);
            index = from + added;
            break;
        }
        case Kind::keep: {
            uint32_t target = collect_frame();
            if (target == no_block) error::fire(err::script_parse_keep);
            if (n == 1) {
                keep_value(target, value_at(input, from));
            } else if (n > 1 && (g.flags & pick_flag)) {
                for (int64_t i = from; i < from + n && i < length_of(input); ++i) keep_value(target, value_at(input, i));
            } else if (n > 1) {
                temp = copy_at(input, from, n);
                keep_value(target, temp);
            }
            break;
        }
        case Kind::collect:
            if (g.flags == collect_set) {
                set_word(g.b, g.a);
            } else if (g.flags == collect_plain) {
                uint32_t outer = collect_frame();
                if (outer != no_block) {
                    keep_value(outer, g.a);
                }
            }
            break;
        default:
            break;
        }
        clip_index();
        return after;
    }
};

void mark_frames() {
    for (const Frame& f : frames) {
        collector::mark_cell(f.a);
        collector::mark_cell(f.b);
    }
    for (Machine* m = active; m; m = m->prev) {
        collector::mark_cell(m->input);
        collector::mark_cell(m->rule);
        collector::mark_cell(m->temp);
        collector::mark_cell(m->result);
        collector::mark_cell(m->callback);
        collector::mark_cell(m->top_rules);
    }
}

}  // namespace

void init() {
    static bool done = false;
    if (done) return;
    done = true;
    frames.reserve(64);
    collector::push_root(mark_frames);
}

Cell process(const Cell& input, const Cell& rules, bool case_, int64_t limit, const Cell& callback) {
    init();
    if (!keys_ready) resolve_keys();
    Machine m(input, case_, limit, callback);
    m.index = series::index_of(input);
    m.clip_index();
    try {
        return m.run(rules);
    } catch (Exit&) {
        return none::value;
    } catch (Stop&) {
        return logic::make(false);
    }
}

}  // namespace kov::parse
