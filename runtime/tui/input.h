// Terminal input for the GUI back end: the decoder that turns the bytes the terminal sends
// (UTF-8 text, control characters, CSI and SS3 key sequences, SGR mouse reports, cursor
// position reports) into input items, and the loop's clocks: the frame pacer, the face
// timers and the double-click timing.
//
// The decoder keeps the bytes of an item that ends inside a character or a sequence and
// decodes it whole once the rest has arrived. String sequences (OSC, DCS) end at BEL or at
// ESC \; one not finished in the bytes at hand, or cut by another ESC, is dropped as an Alt
// key, so that Alt+] cannot swallow the keys after it nor grow the buffer without bound; so
// is a control sequence still unfinished after 64 bytes. Numbers saturate rather than
// overflow.
//
// The clock and the byte source are handed in, so that tests never sleep. Nothing here
// allocates series memory or runs Kov code.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kov::tui {

// Key codes shared with the line editor; back-tab is 10.
enum KeyCode : int32_t {
    key_up = -20, key_down = -21, key_right = -22, key_left = -23, key_end = -24, key_home = -25,
    key_insert = -26, key_delete = -27, key_page_up = -28, key_page_down = -29, key_f1 = -31,
    key_f12 = -42, key_back_tab = 10,
};

// Event flag bits, as the event! datatype has them.
enum InputFlag : uint32_t { f_away = 0x4000000, f_down = 0x2000000, f_control = 0x10000000, f_shift = 0x20000000, f_alt = 0x40000000 };

// Event type ids of the pointer items.
enum PointerType : int32_t { t_down = 1, t_up = 2, t_mid_down = 3, t_mid_up = 4, t_alt_down = 5, t_alt_up = 6, t_wheel = 11, t_over = 12 };

struct Input {
    enum Kind { character, special, button, over, wheel } kind;
    int32_t code;      // the character, the key code, the button event type or the wheel amount
    float x = 0, y = 0;  // pointer position in cells, relative to the drawing area
    uint32_t flags = 0;
};

class Decoder {
public:
    void feed(const unsigned char* bytes, size_t n) { buffer_.append(reinterpret_cast<const char*>(bytes), n); }
    void clear();
    // Decodes what can be decoded; the pointer items only when `pointer` (a window is shown).
    void decode(std::vector<Input>& out, bool pointer = true);
    size_t pending() const { return buffer_.size() - read_; }

    int area_row = 0, area_column = 0;  // 0-based, from the last cursor position report
    bool cursor_reported = false;

private:
    // Each gives the bytes the item took, or 0 when the buffer ends inside it.
    size_t escape(size_t at, std::vector<Input>& out, bool pointer);
    void mouse(uint32_t b, uint32_t x, uint32_t y, bool release, std::vector<Input>& out);

    std::string buffer_;
    size_t read_ = 0;
    int last_release_ = 1;
};

// The face timers, in order of creation, each named by its owner's id.
class Timers {
public:
    void add(int32_t owner, int32_t period);
    // The last timer of the owner.
    void remove(int32_t owner);
    // Advances every timer; the owners of those that fired, in list order.
    void advance(int32_t elapsed, std::vector<int32_t>& fired);
    size_t size() const { return list_.size(); }
    void clear() { list_.clear(); }

private:
    struct Timer {
        int32_t owner, period, elapsed;
        bool one_shot, fired;
    };
    std::vector<Timer> list_;
};

// A timer period from a face's rate: n per second, or seconds; 0 when the rate is unusable.
int32_t period_of_rate(int64_t per_second);
int32_t period_of_seconds(double seconds);

// Double clicks: two completed clicks less than 500 ms apart, counted in frames.
class Clicks {
public:
    // Once per frame.
    void tick() {
        if (state_ == 2 && timer_ < 800) timer_ += 33;
    }
    // Whether a click now completes a double click; it then counts as the double click.
    bool take_double() {
        if (state_ == 2 && timer_ < 500) {
            state_ = 10;
            return true;
        }
        return false;
    }
    // After every button release.
    void released() {
        state_ = state_ == 10 ? 0 : 2;
        timer_ = 0;
    }
    void reset() { state_ = timer_ = 0; }

private:
    int state_ = 0, timer_ = 0;
};

class Clock {
public:
    virtual ~Clock() = default;
    virtual double now_ms() = 0;
};

class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Up to capacity bytes, waiting at most timeout_ms for the first: the count, 0 when
    // nothing came, or a negative code (the terminal's: end of input, resized, interrupt).
    virtual int read(unsigned char* buffer, int capacity, int timeout_ms) = 0;
};

// One pass of the event loop up to its dispatch: read, wait out the frame, advance the
// timers. Passes are 33 ms of nominal time; one whose work took longer counts what it took.
class Pacer {
public:
    static constexpr int frame_ms = 33;
    Pacer(Clock& clock, ByteSource& source) : clock_(clock), source_(source) {}

    struct Pass {
        bool got_input = false;
        bool resized = false;
        bool interrupted = false;
        int32_t advanced = 0;  // ms the timers moved
    };
    // A single pass (`once`, while a script waits) does not wait: its timers move by the
    // time since the pass before.
    Pass begin(Decoder& decoder, Timers& timers, std::vector<int32_t>& fired, bool once);
    // After the dispatch: what the pass's work took, for the next pass's wait.
    void end();
    void reset() { frame_ = 0; last_ = -1; }
    int32_t frame() const { return frame_; }

private:
    int read_into(Decoder& decoder, int timeout_ms, Pass& pass);

    Clock& clock_;
    ByteSource& source_;
    int32_t frame_ = 0;
    double start_ = 0;
    double last_ = -1;
};

}  // namespace kov::tui
