// The tty a serial port feeds: received characters travel with a flag each, first into receive
// ("flip") buffers that the driver fills, then, once the driver pushes them, into the read queue
// a process reads from.
//
// Behaviour, as a tty layer of this kernel generation has it:
// - Flip buffers hold `flip_buffer_size` (character, flag) pairs each. The driver stores into the
//   current buffer itself while it has room (`tty_insert_flip_char`); when it is full
//   `tty_insert_flip_string_flags` starts the next one. All buffers together never hold more
//   than `flip_memory_limit` pairs: past that, characters are dropped and counted, as a kernel
//   that cannot allocate another buffer drops them.
// - `tty_flip_buffer_push` commits what the buffers hold and moves it, in order, into the read
//   queue (at most `read_queue_capacity` pairs). What does not fit stays in the flip buffers
//   and follows as the reader makes room: received data is held back, not dropped.
// - Throttling: when fewer than `throttle_room` places are left in the read queue the tty asks
//   its owner to throttle the sender (the serial core drops RTS under CRTSCTS, or sends STOP
//   under IXOFF); once the reader has brought the queue down to `unthrottle_level` pairs it asks
//   to unthrottle.
// - Hang-up and the secure attention key are recorded as events and passed to the owner's
//   hooks. The hooks run in the caller's context, which may be an interrupt handler holding the
//   port lock: an owner that has heavy work to do (a hang-up shuts the port down) defers it.
// - The line discipline is raw: characters reach the reader as they were received, with their
//   flags beside them; no echo, no line editing, no character mapping.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "drivers/serial/kernel/tty.h"

namespace sim::kernel {

struct TtyLimits {
    std::size_t flip_buffer_size = 512;
    std::size_t flip_memory_limit = 64 * 1024;
    std::size_t read_queue_capacity = 4096;
    std::size_t throttle_room = 128;
    std::size_t unthrottle_level = 128;
};

struct ReceivedChar {
    unsigned char character;
    char flag;  // TTY_NORMAL, TTY_BREAK, TTY_FRAME, TTY_PARITY, TTY_OVERRUN

    friend bool operator==(const ReceivedChar&, const ReceivedChar&) = default;
};

enum class TtyEvent : std::uint8_t { throttle, unthrottle, hangup, secure_attention };

// What the tty asks of its owner. Each hook may be empty.
struct TtyHooks {
    std::function<void()> throttle{};
    std::function<void()> unthrottle{};
    std::function<void()> hangup{};
    std::function<void()> secure_attention{};
};

class Tty {
public:
    explicit Tty(int index, TtyLimits limits = {});
    ~Tty();
    Tty(const Tty&) = delete;
    Tty& operator=(const Tty&) = delete;

    // The record the driver sees. Its address stays the same for the tty's life.
    tty_struct* raw() { return &record_; }
    const tty_struct* raw() const { return &record_; }
    // The tty whose record this is; null for a record no live tty owns.
    static Tty* from(const tty_struct* record);

    void set_hooks(TtyHooks hooks) { hooks_ = std::move(hooks); }

    // Driver side (the seam functions of the same names land here).
    std::size_t insert_flip_string_flags(std::span<const unsigned char> chars,
                                         std::span<const char> flags);
    void flip_buffer_push();
    void hangup();
    void secure_attention();

    // Reader side.
    // Pairs the reader can take now.
    std::size_t readable() const { return read_queue_.size(); }
    // Pairs received but not yet pushed, or pushed but waiting for room in the read queue.
    std::size_t held_in_flip_buffers() const;
    // Takes up to `max` pairs from the read queue, refills it from the flip buffers and
    // unthrottles when the queue has drained far enough.
    std::vector<ReceivedChar> read(std::size_t max);
    // Discards the read queue and everything held in the flip buffers (TCIFLUSH, hang-up).
    void flush_input();

    bool throttled() const { return throttled_; }
    std::uint8_t stopped_bits() const { return record_.stopped_bits; }
    void set_stopped_bits(std::uint8_t bits) { record_.stopped_bits = bits; }

    bool hung_up() const { return hangups_ != 0; }
    unsigned long hangups() const { return hangups_; }
    unsigned long secure_attentions() const { return secure_attentions_; }
    // Characters lost because the flip buffers were at their memory limit.
    unsigned long dropped() const { return dropped_; }
    std::span<const TtyEvent> events() const { return events_; }
    const TtyLimits& limits() const { return limits_; }

private:
    struct FlipBuffer;

    FlipBuffer* append_buffer();
    void release_consumed_buffers();
    void deliver();  // moves committed pairs into the read queue while it has room
    void check_throttle();
    void relink();

    tty_struct record_{};
    TtyLimits limits_;
    TtyHooks hooks_;
    std::deque<std::unique_ptr<FlipBuffer>> buffers_;  // oldest first; record_.buf mirrors it
    std::deque<ReceivedChar> read_queue_;
    bool throttled_ = false;
    unsigned long hangups_ = 0;
    unsigned long secure_attentions_ = 0;
    unsigned long dropped_ = 0;
    std::vector<TtyEvent> events_;
};

}  // namespace sim::kernel
