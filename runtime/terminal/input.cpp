// Terminal input. See input.h for the decoder's buffer and the two readings.
#include "runtime/terminal/input.h"

#include <string_view>

#include "runtime/platform/terminal.h"

namespace kov::terminal {

namespace {

constexpr unsigned char esc = 27;
constexpr uint32_t number_limit = 0x7FFFFFFF;
constexpr size_t max_sequence = 64;

// The line editor takes every form the common terminals send a key in, modifiers ignored
// (Ctrl+Right is Right, Shift+Delete is Delete), the Linux console's F1 to F5 ("[[A" to
// "[[E") among them.
constexpr KeySequence editor_keys[] = {
    {'[', "", 'A', key_up},        {'[', "", 'B', key_down},      {'[', "", 'C', key_right},
    {'[', "", 'D', key_left},      {'[', "", 'H', key_home},      {'[', "", 'F', key_end},
    {'[', "", 'P', key_f1},        {'[', "", 'Q', key_f1 - 1},    {'[', "", 'R', key_f1 - 2},
    {'[', "", 'S', key_f1 - 3},    {'[', "1", '~', key_home},     {'[', "7", '~', key_home},
    {'[', "2", '~', key_insert},   {'[', "3", '~', key_delete},   {'[', "4", '~', key_end},
    {'[', "8", '~', key_end},      {'[', "5", '~', key_page_up},  {'[', "6", '~', key_page_down},
    {'[', "11", '~', key_f1},      {'[', "12", '~', key_f1 - 1},  {'[', "13", '~', key_f1 - 2},
    {'[', "14", '~', key_f1 - 3},  {'[', "15", '~', key_f1 - 4},  {'[', "17", '~', key_f1 - 5},
    {'[', "18", '~', key_f1 - 6},  {'[', "19", '~', key_f1 - 7},  {'[', "20", '~', key_f1 - 8},
    {'[', "21", '~', key_f1 - 9},  {'[', "23", '~', key_f1 - 10}, {'[', "24", '~', key_f12},
    {'[', "[", 'A', key_f1},       {'[', "[", 'B', key_f1 - 1},   {'[', "[", 'C', key_f1 - 2},
    {'[', "[", 'D', key_f1 - 3},   {'[', "[", 'E', key_f1 - 4},   {'O', "", 'A', key_up},
    {'O', "", 'B', key_down},      {'O', "", 'C', key_right},     {'O', "", 'D', key_left},
    {'O', "", 'H', key_home},      {'O', "", 'F', key_end},       {'O', "", 'P', key_f1},
    {'O', "", 'Q', key_f1 - 1},    {'O', "", 'R', key_f1 - 2},    {'O', "", 'S', key_f1 - 3},
};

// The GUI back end's table: a letter key without parameters, a "~" key by its leading bytes.
// Insert, the application cursor keys and modified letter keys are not in it.
constexpr KeySequence back_end_keys[] = {
    {'[', "", 'A', key_up},         {'[', "", 'B', key_down},      {'[', "", 'C', key_right},
    {'[', "", 'D', key_left},       {'[', "", 'F', key_end},       {'[', "", 'H', key_home},
    {'[', "", 'Z', key_back_tab},   {'[', "3", '~', key_delete},   {'[', "5", '~', key_page_up},
    {'[', "6", '~', key_page_down}, {'[', "15", '~', key_f1 - 4},  {'[', "17", '~', key_f1 - 5},
    {'[', "18", '~', key_f1 - 6},   {'[', "19", '~', key_f1 - 7},  {'[', "20", '~', key_f1 - 8},
    {'[', "21", '~', key_f1 - 9},   {'[', "23", '~', key_f1 - 10}, {'[', "24", '~', key_f12},
    {'O', "", 'P', key_f1},         {'O', "", 'Q', key_f1 - 1},    {'O', "", 'R', key_f1 - 2},
    {'O', "", 'S', key_f1 - 3},
};

// The length of the UTF-8 character led by b, 0 for a byte that leads none.
size_t utf8_length(unsigned char b) { return b < 0x80 ? 1 : b < 0xC2 ? 0 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : b < 0xF5 ? 4 : 0; }

bool is_control(unsigned char c) { return c < 0x20 || c == 0x7F; }

}  // namespace

const Reading editor_reading{editor_keys, true, true, true, true, true, key_none};
const Reading back_end_reading{back_end_keys, false, false, false, false, false, 0xFFFD};

// ---- the decoder ----------------------------------------------------------------------------

void Decoder::clear() {
    buffer_.clear();
    read_ = 0;
}

void Decoder::decode(std::vector<Input>& out, bool pointer, bool escape_may_continue) {
    run(out, pointer, escape_may_continue ? End::wait : End::escape_key);
}

void Decoder::settle(std::vector<Input>& out) { run(out, false, End::settle); }

void Decoder::run(std::vector<Input>& out, bool pointer, End end) {
    while (read_ < buffer_.size()) {
        size_t start = read_;
        size_t used = item(start, out, pointer, end);
        if (used == 0) {
            // The rest comes with a later read: keep the item's bytes at the front.
            buffer_.erase(0, start);
            read_ = 0;
            return;
        }
        read_ = start + used;
    }
    clear();
}

void Decoder::nothing(std::vector<Input>& out) const {
    if (reading_->unknown_as_none) out.push_back({Input::none, key_none});
}

size_t Decoder::item(size_t at, std::vector<Input>& out, bool pointer, End end) {
    const size_t n = buffer_.size();
    unsigned char b = byte(at);
    if (b == esc) {
        if (n - at > 1) return escape(at, out, pointer, end);
        if (end == End::wait) return 0;  // the rest of a sequence may still come
        // otherwise the Escape key, a control character like the others
    }
    if (b < 32 || b == 127) {
        int32_t c = b == 8 ? 127 : b == 10 ? 13 : b;
        if (c != 0) out.push_back({Input::character, c});
        return 1;
    }
    size_t len = utf8_length(b);
    if (len == 0) {
        out.push_back({Input::character, reading_->replacement});
        return 1;
    }
    // Read by frames, a character is judged once its length has come; read byte by byte, at
    // the first byte that cannot continue it (the byte after it may be a key of its own).
    if (n - at < len && end == End::escape_key) return 0;
    uint32_t cp = len == 1 ? b : b & (0x7F >> len);
    bool ok = true;
    for (size_t i = 1; i < len; ++i) {
        if (at + i == n) {
            // The buffer ends inside the character: the rest comes later, or (settled) never.
            if (end != End::settle) return 0;
            out.push_back({Input::character, reading_->replacement});
            return n - at;
        }
        unsigned char c = byte(at + i);
        if ((c & 0xC0) != 0x80) {
            ok = false;
            len = i;
            break;
        }
        cp = (cp << 6) | (c & 0x3F);
    }
    bool valid = ok && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF) && !(len == 3 && cp < 0x800) && !(len == 4 && cp < 0x10000);
    out.push_back({Input::character, valid ? static_cast<int32_t>(cp) : reading_->replacement});
    return len;
}

size_t Decoder::escape(size_t at, std::vector<Input>& out, bool pointer, End end) {
    const size_t n = buffer_.size();
    unsigned char kind = byte(at + 1);
    if (kind == esc && reading_->escape_twice) {
        out.push_back({Input::character, esc});
        return 1;
    }
    if (kind == ']' || kind == 'P') {
        size_t used = 2;  // unfinished: an Alt key
        for (size_t i = at + 2; i < n; ++i) {
            if (byte(i) == 7) {
                used = i - at + 1;
                break;
            }
            if (byte(i) == esc) {
                if (i + 1 < n && byte(i + 1) == '\\') used = i - at + 2;
                break;
            }
        }
        nothing(out);
        return used;
    }
    if (kind == 'O') return ss3(at, out, end);
    if (kind == '[') return csi(at, out, pointer, end);
    nothing(out);  // Alt with a key
    return 2;
}

size_t Decoder::ss3(size_t at, std::vector<Input>& out, End end) {
    const size_t n = buffer_.size();
    size_t i = at + 2;
    if (reading_->modifiers)
        while (i < n && byte(i) >= '0' && byte(i) <= '9') ++i;
    if (i - at > max_sequence) {  // as for a control sequence: an Alt+O and text
        nothing(out);
        return 2;
    }
    if (i >= n) {
        if (end != End::settle) return 0;
        nothing(out);
        return n - at;
    }
    unsigned char c = byte(i);
    if (reading_->strict && is_control(c)) {  // a control key typed after Alt+O
        nothing(out);
        return i - at;
    }
    // Digits before the final byte are a modifier: the key is looked up without them.
    if (int32_t key = key_of('O', i, i, c)) out.push_back({Input::special, key});
    else nothing(out);
    return i - at + 1;
}

size_t Decoder::csi(size_t at, std::vector<Input>& out, bool pointer, End end) {
    const size_t n = buffer_.size();
    uint32_t params[4] = {0, 0, 0, 0};
    int count = 0;
    bool digits = false, sgr = false;
    bool parameter_bytes = false, intermediates = false;  // read strictly: in that order
    size_t parameters_end = at + 2;                       // and the key named by the parameters alone
    for (size_t i = at + 2; i < n; ++i) {
        // No sequence the terminal sends is this long: an Alt+[ and text, not a sequence to
        // wait for without end.
        if (i - at > max_sequence) {
            nothing(out);
            return 2;
        }
        unsigned char c = byte(i);
        if (c == esc || (reading_->strict && (c < 0x20 || c >= 0x7F))) {
            nothing(out);  // abandoned: the byte starts the next item
            return i - at;
        }
        if (reading_->strict) {
            if (c >= 0x20 && c <= 0x2F) {
                intermediates = true;
            } else if (c >= 0x30 && c <= 0x3F) {
                if (intermediates) {  // not a sequence after all: the byte is a key of its own
                    nothing(out);
                    return i - at;
                }
                parameter_bytes = true;
                parameters_end = i + 1;
            }
        }
        if (c >= '0' && c <= '9') {
            if (!digits) {
                digits = true;
                ++count;
            }
            if (count <= 4) {
                uint32_t& p = params[count - 1];
                p = p > (number_limit - 9) / 10 ? number_limit : p * 10 + (c - '0');
            }
            continue;
        }
        if (c == ';') {
            if (!digits) ++count;  // an empty parameter counts as 0
            digits = false;
            continue;
        }
        if (c == '<') {
            sgr = true;
            continue;
        }
        if (c == '[' && reading_->strict) {
            if (parameter_bytes) {  // a final byte
                nothing(out);
                return i - at + 1;
            }
            // ESC [ [ and one byte: the Linux console's F1 to F5.
            if (i + 1 >= n) {
                if (end != End::settle) return 0;
                nothing(out);
                return n - at;
            }
            if (int32_t key = key_of('[', i, i + 1, byte(i + 1))) out.push_back({Input::special, key});
            else nothing(out);
            return i - at + 2;
        }
        if (c < 64 || c > 126 || c == '[') continue;
        int kept = count > 4 ? 4 : count;
        if (c == 'M' && i == at + 2 && reading_->x10_mouse) {
            if (n - i - 1 < 3) {
                if (end != End::settle) return 0;
                nothing(out);
                return n - at;
            }
            nothing(out);
            return i - at + 4;
        }
        if ((c == 'M' || c == 'm') && kept == 3) {
            if (pointer) mouse(params[0], params[1], params[2], c == 'm', out);
            else nothing(out);
        } else if (c == 'R' && kept == 2 && !sgr) {
            area_row = static_cast<int>(params[0]) - 1;
            area_column = static_cast<int>(params[1]) - 1;
            cursor_reported = true;
            nothing(out);
        } else if (int32_t key = key_of('[', at + 2, reading_->strict ? parameters_end : i, c)) {
            out.push_back({Input::special, key});
        } else {
            nothing(out);
        }
        return i - at + 1;
    }
    if (end != End::settle) return 0;
    nothing(out);
    return n - at;
}

int32_t Decoder::key_of(char introducer, size_t from, size_t to, unsigned char final_byte) const {
    std::string_view p(buffer_.data() + from, to - from);
    for (const KeySequence& k : reading_->keys) {
        if (k.introducer != introducer || static_cast<unsigned char>(k.final_byte) != final_byte) continue;
        std::string_view t(k.parameters);
        bool match;
        if (reading_->modifiers) {
            // A key is named by the number its parameters lead with, whatever follows it (a
            // modifier); one without parameters is also sent as "1;" and a modifier. Private
            // forms (led by "<", "=", ">", "?") and parameters past 16 bytes name none.
            if (!t.empty() && (t[0] < '0' || t[0] > '9')) {
                match = p == t;
            } else if (p.size() > 16 || (!p.empty() && (p[0] < '0' || p[0] > ';'))) {
                match = false;
            } else {
                uint32_t lead = 0;
                size_t i = 0;
                for (; i < p.size() && p[i] >= '0' && p[i] <= '9'; ++i) lead = lead > 99999 ? lead : lead * 10 + uint32_t(p[i] - '0');
                if (t.empty()) {
                    match = p.empty() || (lead == 1 && i < p.size() && p[i] == ';');
                } else {
                    uint32_t number = 0;
                    for (char d : t) number = number * 10 + uint32_t(d - '0');
                    match = i > 0 && lead == number;
                }
            }
        } else {
            match = t.empty() ? p.empty() : p.starts_with(t);
        }
        if (match) return k.key;
    }
    return 0;
}

void Decoder::mouse(uint32_t b, uint32_t x, uint32_t y, bool release, std::vector<Input>& out) {
    uint32_t e = (b & 3) | ((b & 0x40) >> 4);
    Input item{Input::over, 0};
    item.x = static_cast<float>(static_cast<double>(x) - 1);
    item.y = static_cast<float>(static_cast<double>(y) - area_row - 1);
    item.flags = ((b >> 2) & 3) * f_shift + ((b & 16) ? uint32_t{f_control} : 0u);
    if (e <= 2) {
        int r = release ? 1 : 0;
        if (r != last_release_) {
            last_release_ = r;
            item.kind = Input::button;
            item.code = static_cast<int32_t>(e) * 2 + r + 1;
        } else {
            item.flags |= f_down;
        }
    } else if (e == 4 || e == 5) {
        item.kind = Input::wheel;
        item.code = e == 4 ? 1 : -1;
    } else if (e != 3) {
        nothing(out);  // buttons 6 and 7: no event
        return;
    }
    out.push_back(item);
}

// ---- one key at a time ----------------------------------------------------------------------

void KeyReader::set_source(ByteSource source) {
    source_ = source;
    decoder_.clear();
    items_.clear();
    taken_ = 0;
    held_ = nothing;
}

int32_t KeyReader::next() {
    for (;;) {
        if (taken_ < items_.size()) {
            const Input& in = items_[taken_++];
            return in.kind == Input::character || in.kind == Input::special ? in.code : key_none;
        }
        items_.clear();
        taken_ = 0;
        int b;
        if (held_ != nothing) {
            b = held_;
            held_ = nothing;
        } else {
            b = source_.read ? source_.read(source_.context, decoder_.pending() ? escape_timeout_ms : -1) : os::tty::end_of_input;
        }
        if (b >= 0) {
            auto byte = static_cast<unsigned char>(b);
            decoder_.feed(&byte, 1);
            decoder_.decode(items_, false, true);
            continue;
        }
        if (decoder_.pending()) {
            // The key's bytes stopped coming; the end or a redraw is still to be answered.
            if (b != os::tty::no_byte) held_ = b;
            decoder_.settle(items_);
            continue;
        }
        if (b == os::tty::end_of_input) return key_failed;
        if (b == os::tty::interrupted) return key_redraw;
        if (b == os::tty::interrupt_key) return 3;  // a SIGINT sent while the editor waits
        return key_none;
    }
}

}  // namespace kov::terminal
