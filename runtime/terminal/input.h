// Terminal input: the one decoder that turns the bytes a terminal sends (UTF-8 text, control
// characters, CSI and SS3 key sequences, mouse reports, cursor position reports) into input
// items, the one list of key codes, and the two readings of those bytes: the line editor's and
// the GUI back end's. The GUI back end feeds the decoder what each frame read and takes the
// items; the line editor reads one key at a time through `KeyReader`, which feeds it byte by
// byte and settles a key whose bytes stop coming for `escape_timeout_ms`.
//
// The decoder keeps the bytes of an item that ends inside a character or a sequence and
// decodes it whole once the rest has arrived (or, settled, as far as it came). String
// sequences (OSC, DCS) end at BEL or at ESC \; one not finished in the bytes at hand, or cut
// by another ESC, is dropped as an Alt key, so that Alt+] cannot swallow the keys after it nor
// grow the buffer without bound; so is a control sequence still unfinished after 64 bytes.
// Numbers saturate rather than overflow.
//
// Where the two readers hear the same bytes differently, the difference is data (`Reading`):
// which sequences name which key, whether modifiers are allowed, and how a malformed sequence
// ends. Moving memory: nothing here allocates series memory or runs Kov code.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kov::terminal {

// A character key is its code point; special keys are negative; back-tab is 10.
enum KeyCode : int32_t {
    key_failed = -1,  // input ended or failed: no key will come
    key_none = 0,     // a key without a character or a code of its own
    key_up = -20,
    key_down = -21,
    key_right = -22,
    key_left = -23,
    key_end = -24,
    key_home = -25,
    key_insert = -26,
    key_delete = -27,
    key_page_up = -28,
    key_page_down = -29,
    key_f1 = -31,  // F1 to F12: -31 to -42
    key_f12 = -42,
    key_back_tab = 10,
    key_redraw = -100,  // no key: the window changed size or the program was continued
};

// Event flag bits, as the event! datatype has them.
enum InputFlag : uint32_t { f_away = 0x4000000, f_down = 0x2000000, f_control = 0x10000000, f_shift = 0x20000000, f_alt = 0x40000000 };

// Event type ids of the pointer items.
enum PointerType : int32_t { t_down = 1, t_up = 2, t_mid_down = 3, t_mid_up = 4, t_alt_down = 5, t_alt_up = 6, t_wheel = 11, t_over = 12 };

struct Input {
    // none: bytes that name nothing (only for a reading with `unknown_as_none`).
    enum Kind { character, special, button, over, wheel, none } kind;
    int32_t code;        // the character, the key code, the button event type or the wheel amount
    float x = 0, y = 0;  // pointer position in cells, relative to the drawing area
    uint32_t flags = 0;
};

// A key sent as a sequence: ESC, the introducer ('[' CSI, 'O' SS3), parameter bytes, a final byte.
struct KeySequence {
    char introducer;
    const char* parameters;
    char final_byte;
    int32_t key;
};

// How one reader hears the terminal.
struct Reading {
    std::span<const KeySequence> keys;
    // A key may carry a modifier, which names the same key: CSI "1;5C" is "C", "3;2~" is "3~",
    // SS3 "5A" is "A". Without, only the leading parameter bytes are looked at ("35~" is "3~")
    // and a letter key has no parameters.
    bool modifiers;
    // A byte that cannot be part of a sequence (a control, 0x7F and above, or a parameter byte
    // after an intermediate one) ends it and is read on its own, and "[" is a final byte,
    // except before any parameter, where it begins the Linux console's function keys (ESC [ [
    // and one byte); otherwise such bytes and "[" are passed over as part of the sequence.
    bool strict;
    // "ESC [ M" and three bytes is a mouse report of the oldest form.
    bool x10_mouse;
    // ESC ESC is the Escape key, the second ESC beginning what follows; otherwise the pair is
    // an Alt+Escape, which names nothing.
    bool escape_twice;
    // What names nothing (an unknown sequence, an Alt key, a report not taken) is an item of
    // kind none rather than no item.
    bool unknown_as_none;
    // The character that bytes which make no character read as.
    int32_t replacement;
};

extern const Reading editor_reading;    // the line editor's
extern const Reading back_end_reading;  // the GUI back end's

class Decoder {
public:
    explicit Decoder(const Reading& reading) : reading_(&reading) {}
    void feed(const unsigned char* bytes, size_t n) { buffer_.append(reinterpret_cast<const char*>(bytes), n); }
    void clear();
    // Decodes what can be decoded; the pointer items only when `pointer` (a window is shown).
    // A lone ESC at the end is the Escape key unless more bytes may still belong to it
    // (`escape_may_continue`).
    void decode(std::vector<Input>& out, bool pointer = true, bool escape_may_continue = false);
    // The input paused: an item cut short reads as far as it came (a lone ESC is the Escape key;
    // a sequence or character names nothing).
    void settle(std::vector<Input>& out);
    size_t pending() const { return buffer_.size() - read_; }

    int area_row = 0, area_column = 0;  // 0-based, from the last cursor position report
    bool cursor_reported = false;

private:
    enum class End { wait, escape_key, settle };
    void run(std::vector<Input>& out, bool pointer, End end);
    // Each gives the bytes the item took, or 0 when the buffer ends inside it and `end` waits.
    size_t item(size_t at, std::vector<Input>& out, bool pointer, End end);
    size_t escape(size_t at, std::vector<Input>& out, bool pointer, End end);
    size_t ss3(size_t at, std::vector<Input>& out, End end);
    size_t csi(size_t at, std::vector<Input>& out, bool pointer, End end);
    void mouse(uint32_t b, uint32_t x, uint32_t y, bool release, std::vector<Input>& out);
    void nothing(std::vector<Input>& out) const;
    int32_t key_of(char introducer, size_t from, size_t to, unsigned char final_byte) const;
    unsigned char byte(size_t i) const { return static_cast<unsigned char>(buffer_[i]); }

    const Reading* reading_;
    std::string buffer_;
    size_t read_ = 0;
    int last_release_ = 1;
};

// Where key bytes come from: answers a byte 0-255 or one of os::tty's no_byte, end_of_input,
// interrupted, interrupt_key, waiting at most timeout_ms (negative: no limit).
struct ByteSource {
    int (*read)(void* context, int timeout_ms);
    void* context;
};

// How long the bytes of one key may lag behind each other; an Escape followed by nothing
// within it is the Escape key.
constexpr int escape_timeout_ms = 100;

// One key code at a time, for the line editor: the bytes of a key are waited for with the
// escape timeout, after which what came is settled; the end of input, a resize (key_redraw)
// and an interrupt (Ctrl+C, 3) that cut a key come after it.
class KeyReader {
public:
    explicit KeyReader(const Reading& reading, ByteSource source = {nullptr, nullptr}) : decoder_(reading), source_(source) {}
    void set_source(ByteSource source);
    int32_t next();

private:
    static constexpr int nothing = -1000;
    Decoder decoder_;
    ByteSource source_;
    std::vector<Input> items_;
    size_t taken_ = 0;
    int held_ = nothing;  // a signal that came inside a key, answered after it
};

}  // namespace kov::terminal
