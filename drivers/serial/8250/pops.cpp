// The operations table handed to the serial core.
#include "drivers/serial/8250/8250.h"

extern "C" const uart_ops serial8250_pops = {
    .tx_empty = nullptr,
    .set_mctrl = nullptr,
    .get_mctrl = nullptr,
    .stop_tx = nullptr,
    .start_tx = nullptr,
    .send_xchar = nullptr,
    .stop_rx = nullptr,
    .enable_ms = nullptr,
    .break_ctl = nullptr,
    .startup = nullptr,
    .shutdown = nullptr,
    .set_termios = nullptr,
    .pm = nullptr,
    .set_wake = nullptr,
    .type = serial8250_type,
    .release_port = nullptr,
    .request_port = nullptr,
    .config_port = nullptr,
    .verify_port = serial8250_verify_port,
    .ioctl = nullptr,
};
