#include "runtime/tui/input.h"

#include <cmath>

namespace kov::tui {

namespace {

constexpr unsigned char esc = 27;
constexpr uint32_t number_limit = 0x7FFFFFFF;
constexpr size_t max_sequence = 64;

int32_t key_of_csi(unsigned char first, unsigned char second, unsigned char final_byte) {
    if (final_byte == '~') {
        switch (first) {
        case '3': return key_delete;
        case '5': return key_page_up;
        case '6': return key_page_down;
        case '1':
            switch (second) {
            case '5': return -35;
            case '7': return -36;
            case '8': return -37;
            case '9': return -38;
            default: return 0;
            }
        case '2':
            switch (second) {
            case '0': return -39;
            case '1': return -40;
            case '3': return -41;
            case '4': return -42;
            default: return 0;
            }
        default: return 0;
        }
    }
    if (first != final_byte) return 0;  // a letter with parameters: a modified key, not listed
    switch (final_byte) {
    case 'A': return key_up;
    case 'B': return key_down;
    case 'C': return key_right;
    case 'D': return key_left;
    case 'F': return key_end;
    case 'H': return key_home;
    case 'Z': return key_back_tab;
    default: return 0;
    }
}

// The length of the UTF-8 character led by b, 0 for a byte that leads none.
size_t utf8_length(unsigned char b) { return b < 0x80 ? 1 : b < 0xC2 ? 0 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : b < 0xF5 ? 4 : 0; }

}  // namespace

void Decoder::clear() {
    buffer_.clear();
    read_ = 0;
}

void Decoder::decode(std::vector<Input>& out, bool pointer) {
    const size_t n = buffer_.size();
    while (read_ < n) {
        size_t start = read_;
        auto b = static_cast<unsigned char>(buffer_[start]);
        size_t used;
        if (b == esc && n - start > 1) {
            used = escape(start, out, pointer);
        } else if (b < 32 || b == 127) {
            int32_t c = b == 8 ? 127 : b == 10 ? 13 : b;
            if (c != 0) out.push_back({Input::character, c});
            used = 1;
        } else {
            size_t len = utf8_length(b);
            if (len == 0) {
                out.push_back({Input::character, 0xFFFD});
                used = 1;
            } else if (n - start < len) {
                used = 0;
            } else {
                uint32_t cp = len == 1 ? b : b & (0x7F >> len);
                bool ok = true;
                for (size_t i = 1; i < len; ++i) {
                    auto c = static_cast<unsigned char>(buffer_[start + i]);
                    if ((c & 0xC0) != 0x80) {
                        ok = false;
                        len = i;
                        break;
                    }
                    cp = (cp << 6) | (c & 0x3F);
                }
                if (!ok || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000)) cp = 0xFFFD;
                out.push_back({Input::character, static_cast<int32_t>(cp)});
                used = len;
            }
        }
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

size_t Decoder::escape(size_t at, std::vector<Input>& out, bool pointer) {
    const size_t n = buffer_.size();
    auto byte = [&](size_t i) { return static_cast<unsigned char>(buffer_[i]); };
    unsigned char kind = byte(at + 1);
    if (kind == ']' || kind == 'P') {
        for (size_t i = at + 2; i < n; ++i) {
            if (byte(i) == 7) return i - at + 1;
            if (byte(i) == esc) {
                if (i + 1 < n && byte(i + 1) == '\\') return i - at + 2;
                break;
            }
        }
        return 2;  // unfinished: an Alt key, which gives no event
    }
    if (kind == 'O') {
        if (n - at < 3) return 0;
        unsigned char c = byte(at + 2);
        if (c >= 'P' && c <= 'S') out.push_back({Input::special, key_f1 - (c - 'P')});
        return 3;
    }
    if (kind != '[') return 2;
    uint32_t params[4] = {0, 0, 0, 0};
    int count = 0;
    bool digits = false, sgr = false;
    for (size_t i = at + 2; i < n; ++i) {
        // No sequence the terminal sends is this long: an Alt+[ and text, not a sequence to
        // wait for without end.
        if (i - at > max_sequence) return 2;
        unsigned char c = byte(i);
        if (c == esc) return i - at;  // abandoned: the ESC starts the next item
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
        if (c < 64 || c > 126 || c == '[') continue;
        int kept = count > 4 ? 4 : count;
        if ((c == 'M' || c == 'm') && kept == 3) {
            if (pointer) mouse(params[0], params[1], params[2], c == 'm', out);
        } else if (c == 'R' && kept == 2 && !sgr) {
            area_row = static_cast<int>(params[0]) - 1;
            area_column = static_cast<int>(params[1]) - 1;
            cursor_reported = true;
        } else if (c != 'M' && c != 'm' && c != 'R') {
            unsigned char first = byte(at + 2);
            unsigned char second = at + 3 < n ? byte(at + 3) : 0;
            if (int32_t key = key_of_csi(first, second, c)) out.push_back({Input::special, key});
        }
        return i - at + 1;
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
        return;  // buttons 6 and 7: no event
    }
    out.push_back(item);
}

// ---- timers ---------------------------------------------------------------------------------

void Timers::add(int32_t owner, int32_t period) { list_.push_back({owner, period, 0, false, false}); }

void Timers::remove(int32_t owner) {
    for (size_t i = list_.size(); i-- > 0;) {
        if (list_[i].owner == owner) {
            list_.erase(list_.begin() + static_cast<std::ptrdiff_t>(i));
            return;
        }
    }
}

void Timers::advance(int32_t elapsed, std::vector<int32_t>& fired) {
    for (Timer& t : list_) {
        t.elapsed = t.elapsed > static_cast<int32_t>(number_limit) - elapsed ? static_cast<int32_t>(number_limit) : t.elapsed + elapsed;
        if (t.fired || t.elapsed < t.period) continue;
        fired.push_back(t.owner);
        t.elapsed = 0;
        t.fired = t.one_shot;
    }
}

int32_t period_of_rate(int64_t per_second) { return per_second > 0 ? static_cast<int32_t>(1000 / per_second) : 0; }

int32_t period_of_seconds(double seconds) {
    if (!(seconds > 0)) return 0;
    double ms = std::trunc(seconds * 1000);
    return ms >= number_limit ? static_cast<int32_t>(number_limit) : static_cast<int32_t>(ms);
}

// ---- the pacer ------------------------------------------------------------------------------

int Pacer::read_into(Decoder& decoder, int timeout_ms, Pass& pass) {
    unsigned char bytes[4096];
    int got = source_.read(bytes, sizeof bytes, timeout_ms);
    if (got > 0) {
        decoder.feed(bytes, static_cast<size_t>(got));
        pass.got_input = true;
    } else if (got == -3) {
        pass.resized = true;
    } else if (got == -4) {
        pass.interrupted = true;
    }
    return got;
}

Pacer::Pass Pacer::begin(Decoder& decoder, Timers& timers, std::vector<int32_t>& fired, bool once) {
    Pass pass;
    read_into(decoder, 0, pass);
    double now = clock_.now_ms();
    if (once) {
        double since = last_ < 0 ? 0 : now - last_;
        frame_ = since > number_limit ? static_cast<int32_t>(number_limit) : static_cast<int32_t>(since);
    } else if (frame_ <= frame_ms) {
        if (!pass.got_input && !pass.resized && !pass.interrupted) read_into(decoder, frame_ms - frame_, pass);
        frame_ = frame_ms;
    }
    start_ = clock_.now_ms();
    last_ = start_;
    pass.advanced = frame_;
    timers.advance(frame_, fired);
    return pass;
}

void Pacer::end() {
    double took = clock_.now_ms() - start_;
    frame_ = took <= 0 ? 0 : took > number_limit ? static_cast<int32_t>(number_limit) : static_cast<int32_t>(took);
}

}  // namespace kov::tui
