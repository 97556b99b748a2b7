// The operations table handed to the serial core.
#include "drivers/serial/8250/8250.h"

extern "C" const uart_ops serial8250_pops = {
    .tx_empty = serial8250_tx_empty,
    .set_mctrl = serial8250_set_mctrl,
    .get_mctrl = serial8250_get_mctrl,
    .stop_tx = serial8250_stop_tx,
    .start_tx = serial8250_start_tx,
    .send_xchar = nullptr,
    .stop_rx = serial8250_stop_rx,
    .enable_ms = serial8250_enable_ms,
    .break_ctl = serial8250_break_ctl,
    .startup = serial8250_startup,
    .shutdown = serial8250_shutdown,
    .set_termios = serial8250_set_termios,
    .pm = serial8250_pm,
    .set_wake = nullptr,
    .type = serial8250_type,
    .release_port = serial8250_release_port,
    .request_port = serial8250_request_port,
    .config_port = serial8250_config_port,
    .verify_port = serial8250_verify_port,
    .ioctl = nullptr,
};
