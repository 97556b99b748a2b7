// A machine with the serial core and a ttyS driver registered, and stub ports to add.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "sim/kernel/machine.h"
#include "sim/kernel/serial_core/serial_core.h"
#include "tests/serial_core/stub_uart.h"

namespace serial_core_test {

class SerialCoreFixture : public ::testing::Test {
protected:
    SerialCoreFixture() { EXPECT_EQ(uart_register_driver(&driver), 0); }
    ~SerialCoreFixture() override { uart_unregister_driver(&driver); }

    StubUart& make_port(std::uint32_t line) {
        ports.push_back(std::make_unique<StubUart>(machine, line));
        return *ports.back();
    }
    // A stub port added at `line` as a 16550A at the legacy address of ttyS0.
    StubUart& add_port(std::uint32_t line = 0) {
        StubUart& stub = make_port(line);
        EXPECT_EQ(uart_add_one_port(&driver, stub.port()), 0);
        stub.calls.clear();
        return stub;
    }
    sim::kernel::FileHandle open_ok(const char* device,
                                    sim::kernel::OpenMode mode = sim::kernel::OpenMode::blocking) {
        auto file = core.open(device, mode);
        EXPECT_TRUE(file.ok()) << device << ": " << file.error();
        return file.ok() ? *file : sim::kernel::FileHandle{};
    }

    sim::kernel::Machine machine;
    sim::kernel::SerialCore& core = machine.subsystem<sim::kernel::SerialCore>();
    uart_driver driver = make_ttys_driver();
    std::vector<std::unique_ptr<StubUart>> ports;
};

}  // namespace serial_core_test
