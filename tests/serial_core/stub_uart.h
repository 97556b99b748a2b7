// A UART driver of the tests' own, behind the operations table the serial core calls: it records
// every call (with whether the port lock was held), answers as the test sets it up, and moves
// bytes: what the serial core queues goes out at a fixed pace, what the test "receives" goes to
// the tty as a driver's receive path would hand it.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "drivers/serial/kernel/serial_core.h"
#include "sim/kernel/machine.h"

namespace serial_core_test {

struct StubCall {
    std::string operation;
    bool port_lock_held;
    long argument;  // the mctrl, flags, state, cflag ... the call had; 0 when none
};

class StubUart;

// The record the serial core sees: the generic port first, so the operations find the stub.
struct StubPortRecord {
    uart_port port;
    StubUart* stub;
};

class StubUart {
public:
    explicit StubUart(sim::kernel::Machine& machine, std::uint32_t line = 0);
    StubUart(const StubUart&) = delete;
    StubUart& operator=(const StubUart&) = delete;

    uart_port* port() { return &record_.port; }

    // Answers.
    std::uint32_t detected_type = 4;           // what config_port settles on
    int startup_result = 0;
    int request_port_result = 0;
    int verify_result = 0;
    unsigned int modem_status = TIOCM_CTS | TIOCM_DSR | TIOCM_CAR;  // get_mctrl
    bool transmitter_idle = true;              // tx_empty
    // Transmission: one burst of up to `burst` bytes every `pace` once start_tx was called.
    std::size_t burst = 16;
    std::chrono::nanoseconds pace = std::chrono::microseconds(1000);

    // What happened.
    std::vector<StubCall> calls;
    std::vector<unsigned char> sent;
    std::vector<std::string> names() const;
    std::size_t count(const std::string& operation) const;
    const StubCall* last(const std::string& operation) const;

    // The receive path: hands bytes with flags to the open tty and pushes them.
    void receive(const std::vector<unsigned char>& bytes, char flag = 0);
    // Records a change of the modem-status lines as a driver's modem-status path would: counts
    // it and wakes the modem-change waiters.
    void modem_change(unsigned int new_status);

    static const uart_ops operations;

    // Used by the operations.
    void record(const char* operation, long argument = 0);
    void start_transmitter();
    void transmit_burst();

    sim::kernel::Machine& machine;
    bool transmitting = false;

private:
    StubPortRecord record_{};
};

// The registration record a driver of ttyS devices hands the serial core.
uart_driver make_ttys_driver();

}  // namespace serial_core_test
