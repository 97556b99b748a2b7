// The tty side that a serial driver feeds: the receive ("flip") buffer and the stop bits.
#pragma once

#include <cstddef>
#include <cstdint>

#include "drivers/serial/kernel/wait.h"

// Flags that travel with each received character.
inline constexpr char TTY_NORMAL = 0;
inline constexpr char TTY_BREAK = 1;
inline constexpr char TTY_FRAME = 2;
inline constexpr char TTY_PARITY = 3;
inline constexpr char TTY_OVERRUN = 4;

// One receive buffer: `used` characters and as many flags, filled from position 0.
struct tty_buffer {
    tty_buffer* next;
    unsigned char* char_buf_ptr;
    char* flag_buf_ptr;
    int used;
    int size;
    int commit;
    int read;
};

struct tty_bufhead {
    tty_buffer* head;  // oldest buffer not yet pushed to the reader
    tty_buffer* tail;  // buffer being filled
};

// Stop bits of `tty_struct::stopped_bits`.
inline constexpr std::uint8_t output_stopped = 0x01;  // stopped by the user (^S, tcflow)
inline constexpr std::uint8_t modem_stopped = 0x02;   // stopped by hardware flow control

struct tty_struct {
    int index;                 // the line number
    tty_bufhead buf;
    std::uint8_t stopped_bits;
    void* driver_data;         // the serial core's state of the port
};

extern "C" {
// Takes `count` characters with their flags when the current buffer is full; returns how many
// it took.
int tty_insert_flip_string_flags(tty_struct* tty, const unsigned char* chars, const char* flags,
                                 std::size_t count);
// Hands what was received so far to the reader.
void tty_flip_buffer_push(tty_struct* tty);
void tty_hangup(tty_struct* tty);
// The secure attention key: kills everything that has the terminal open.
void do_SAK(tty_struct* tty);
}

// Stores one character and its flag at the current buffer's fill position, or hands them to the
// kernel when that buffer is full.
inline int tty_insert_flip_char(tty_struct* tty, unsigned char character, char flag) {
    tty_buffer* buffer = tty->buf.tail;
    if (buffer != nullptr && buffer->used < buffer->size) {
        buffer->flag_buf_ptr[buffer->used] = flag;
        buffer->char_buf_ptr[buffer->used] = character;
        ++buffer->used;
        return 1;
    }
    return tty_insert_flip_string_flags(tty, &character, &flag, 1);
}
