// A simulated machine with the 8250 module, and the hardware the driver's tests place on it:
// UARTs on PC cards, RSA boards, memory-mapped boards. The driver is reached the way other
// kernel code reaches it: through its module's symbols and the serial core.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "drivers/serial/8250/8250.h"
#include "sim/hw/board/mmio_board.h"
#include "sim/hw/board/pc_card.h"
#include "sim/hw/board/rsa_board.h"
#include "sim/hw/uart/uart_chip.h"
#include "sim/hw/uart/uart_presets.h"
#include "sim/kernel/machine.h"
#include "sim/kernel/serial_core/serial_core.h"

namespace driver_test {

inline constexpr std::string_view module_name = "8250";

// One bus access as a test states it: direction, register name, and the value for writes.
struct RegisterAccess {
    bool is_write;
    std::string name;
    std::optional<std::uint8_t> value;  // reads: the value is not asserted
    friend bool operator==(const RegisterAccess&, const RegisterAccess&) = default;
};

inline RegisterAccess rd(std::string name) { return {false, std::move(name), std::nullopt}; }
inline RegisterAccess wr(std::string name, std::uint8_t value) { return {true, std::move(name), value}; }

inline std::ostream& operator<<(std::ostream& out, const RegisterAccess& access) {
    out << (access.is_write ? "write " : "read ") << access.name;
    if (access.value) out << " 0x" << std::hex << unsigned{*access.value} << std::dec;
    return out;
}

class DriverMachine {
public:
    DriverMachine() = default;
    explicit DriverMachine(sim::kernel::MachineSettings settings) : machine(std::move(settings)) {}
    // The module goes before the hardware it drives, the hardware before the machine; a board
    // goes before the chip it holds.
    ~DriverMachine() {
        machine.modules().unload_all();
        while (!hardware_.empty()) hardware_.pop_back();
        while (!chips_.empty()) chips_.pop_back();
    }
    DriverMachine(const DriverMachine&) = delete;
    DriverMachine& operator=(const DriverMachine&) = delete;

    sim::kernel::LoadResult load(std::string_view parameters = {}) {
        return machine.modules().load(SERIAL_8250_MODULE_PATH, parameters);
    }
    sim::kernel::LoadResult unload() { return machine.modules().unload(module_name); }
    bool loaded() { return machine.modules().loaded(module_name); }

    // A symbol of the loaded module, exported or not.
    template <typename T>
    T* symbol(std::string_view name) {
        void* address = machine.modules().symbol(module_name, name);
        EXPECT_NE(address, nullptr) << "module symbol " << name;
        return static_cast<T*>(address);
    }
    template <typename Signature>
    Signature* function(std::string_view name) {
        return reinterpret_cast<Signature*>(symbol<void>(name));
    }

    serial8250_uart& slot(unsigned index) { return symbol<serial8250_uart>("serial8250_ports")[index]; }
    const uart_type_info& type_info(unsigned type) { return symbol<const uart_type_info>("uart_config")[type]; }

    sim::kernel::SerialCore& core() { return machine.subsystem<sim::kernel::SerialCore>(); }

    // The exported functions, as another driver finds them.
    int register_port(uart_port& templ) {
        return machine.symbols().function<int(uart_port*)>("serial8250_register_port")(&templ);
    }
    void unregister_port(int line) {
        machine.symbols().function<void(int)>("serial8250_unregister_port")(line);
    }
    int suspend_port(int line) { return machine.symbols().function<int(int)>("serial8250_suspend_port")(line); }
    int resume_port(int line) { return machine.symbols().function<int(int)>("serial8250_resume_port")(line); }

    // A UART of `model` on a PC card at `base`, its interrupt wired as given.
    sim::hw::UartChip& place_pc_uart(std::uint16_t base, sim::hw::UartModel model,
                                     sim::hw::InterruptWiring wiring) {
        auto& chip = add_chip(model);
        hardware_.push_back(std::make_unique<Owned<sim::hw::PcSerialCard>>(
            machine.bus(), machine.interrupt_controller(), chip, base, wiring));
        return chip;
    }
    sim::hw::UartChip& place_pc_uart(std::uint16_t base, sim::hw::UartModel model, std::uint32_t irq) {
        return place_pc_uart(base, model, sim::hw::InterruptWiring::edge(irq));
    }

    // An RSA board whose UART sits at `base`; the board's registers take the 8 ports below.
    sim::hw::RsaBoard& place_rsa_board(std::uint16_t base, std::uint32_t irq) {
        auto& chip = add_chip(sim::hw::UartModel::rsa_16550a);
        auto owned = std::make_unique<Owned<sim::hw::RsaBoard>>(
            machine.bus(), machine.interrupt_controller(), chip, base, sim::hw::InterruptWiring::edge(irq));
        auto& board = owned->object;
        hardware_.push_back(std::move(owned));
        return board;
    }

    // A memory-mapped UART at physical `base`, registers spaced by 1 << shift.
    sim::hw::UartChip& place_mmio_uart(std::uint64_t base, unsigned shift, sim::hw::UartModel model) {
        auto& chip = add_chip(model);
        hardware_.push_back(std::make_unique<Owned<sim::hw::MmioUartBoard>>(
            machine.bus(), machine.interrupt_controller(), chip, base, shift,
            sim::hw::InterruptWiring::none()));
        return chip;
    }

    template <typename Device, typename... Args>
    Device& place(Args&&... args) {
        auto owned = std::make_unique<Owned<Device>>(std::forward<Args>(args)...);
        auto& device = owned->object;
        hardware_.push_back(std::move(owned));
        return device;
    }

    sim::hw::UartChip& add_chip(sim::hw::UartModel model) {
        chips_.push_back(std::make_unique<sim::hw::UartChip>(machine.events(), model));
        return *chips_.back();
    }

    // Register accesses recorded since tracing started, in order, for the claim named `device`
    // (all devices when empty).
    std::vector<RegisterAccess> register_trace(std::string_view device = {}) {
        std::vector<RegisterAccess> out;
        for (const sim::hw::BusAccess& access : machine.bus().trace()) {
            if (!device.empty() && access.device != device) continue;
            const bool is_write = access.kind == sim::hw::AccessKind::io_write ||
                                  access.kind == sim::hw::AccessKind::mem_write;
            out.push_back({is_write, std::string(access.register_name),
                           is_write ? std::optional<std::uint8_t>(static_cast<std::uint8_t>(access.value))
                                    : std::nullopt});
        }
        return out;
    }
    void start_trace() {
        machine.bus().set_tracing(true);
        machine.bus().clear_trace();
    }
    // The register accesses of one operation (to `device` only, when given), from a trace
    // started just before it; tracing is off again afterwards.
    template <typename Operation>
    std::vector<RegisterAccess> traced(Operation&& operation, std::string_view device = {}) {
        start_trace();
        operation();
        std::vector<RegisterAccess> trace = register_trace(device);
        machine.bus().set_tracing(false);
        return trace;
    }

    // The module's chain entry of interrupt line `line`.
    irq_chain& chain_entry(unsigned line) { return symbol<irq_chain>("irq_lists")[line]; }

    bool ioport_claimed(std::uint64_t start, std::uint64_t length, std::string_view name) {
        return machine.ioports().claimed(start, length, name);
    }
    std::string proc_ioports() { return machine.files().read("/proc/ioports").content; }

    sim::kernel::Machine machine;

private:
    struct Holder {
        virtual ~Holder() = default;
    };
    template <typename T>
    struct Owned final : Holder {
        template <typename... Args>
        explicit Owned(Args&&... args) : object(std::forward<Args>(args)...) {}
        T object;
    };
    std::vector<std::unique_ptr<sim::hw::UartChip>> chips_;
    std::vector<std::unique_ptr<Holder>> hardware_;
};

// A registration template for a UART on the I/O port space.
inline uart_port io_template(std::uint32_t io_base, std::uint32_t irq, std::uint32_t flags = 0) {
    uart_port templ{};
    templ.io_base = io_base;
    templ.irq_line = irq;
    templ.uart_clock_hz = standard_clock_hz;
    templ.access_kind = access_port_io;
    templ.port_flags = flags;
    return templ;
}

}  // namespace driver_test
