// What the data-path suites share: ports whose registers answer from a script in front of a
// real chip (so that autoconfiguration finds a real part, and a test then decides exactly what
// LSR, IIR, RBR and MSR show), each prepared as an open port: opened once through the serial
// core (so that the core's side of the line, its write wake-ups included, is live), then given a
// `core_port_state` of the test's own (tty, transmit ring, wait queues), an IER shadow and, for
// the handler, the ring of its line's chain. The chip's interrupt output is cut after the open,
// so nothing but the test calls the driver. The driver's routines are called the way their
// callers call them: with the port lock held, from a hard-interrupt or a timer context.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "driver_harness.h"
#include "trace_queries.h"
#include "drivers/serial/kernel/lock_guards.h"
#include "drivers/serial/kernel/timer.h"
#include "sim/hw/uart/odd_uarts.h"
#include "sim/kernel/tty/tty.h"

namespace driver_test {

// Register offsets as the scripts name them.
namespace offset {
inline constexpr unsigned rbr = 0, ier = 1, iir = 2, lcr = 3, mcr = 4, lsr = 5, msr = 6;
}

// The serial core's side of an open port: the tty, the transmit ring and the two wait queues.
class OpenState {
public:
    explicit OpenState(int line, sim::kernel::TtyLimits limits = {}) : tty(line, limits) {
        state.tty = tty.raw();
        state.transmit_ring.buf = ring.data();
        init_queue(state.open_wait);
        init_queue(state.modem_change_wait);
    }
    OpenState(const OpenState&) = delete;
    OpenState& operator=(const OpenState&) = delete;

    // `count` bytes waiting from `tail` on; byte i of them is (i & 0xff).
    void fill(int tail, int count) {
        for (int i = 0; i < count; ++i) ring[static_cast<std::size_t>((tail + i) & (uart_xmit_size - 1))] =
            static_cast<unsigned char>(i & 0xff);
        state.transmit_ring.tail = tail;
        state.transmit_ring.head = (tail + count) & (uart_xmit_size - 1);
    }
    int waiting() const { return uart_circ_chars_pending(&state.transmit_ring); }

    sim::kernel::Tty tty;
    std::array<unsigned char, uart_xmit_size> ring{};
    core_port_state state{};

private:
    static void init_queue(wait_queue_head_t& queue) {
        spin_lock_init(&queue.lock);
        queue.task_list.next = &queue.task_list;
        queue.task_list.prev = &queue.task_list;
        queue.wake_count = 0;
    }
};

struct ScriptedPortSetup {
    std::string name;  // the board's claim on the bus, which the trace shows as the device
    std::uint16_t base;
    std::uint32_t irq;
    sim::hw::UartModel model = sim::hw::UartModel::ns16550a;
};

// One registered port and the hardware behind it.
struct ScriptedPort {
    std::string name;
    sim::hw::ScriptedUart* uart = nullptr;
    sim::hw::UartChip* chip = nullptr;
    int line = -1;
    serial8250_uart* up = nullptr;
    std::unique_ptr<OpenState> open;
    core_port_state* core_owned_state = nullptr;  // the serial core's own, put back before close
    sim::kernel::FileHandle file{};

    serial8250_uart& uart_record() const { return *up; }
    sim::kernel::Tty& tty() const { return open->tty; }
    core_port_state& state() const { return open->state; }
};

class DataPathRig {
public:
    explicit DataPathRig(const std::vector<ScriptedPortSetup>& setups, sim::kernel::TtyLimits limits = {}) {
        for (const ScriptedPortSetup& setup : setups) {
            ScriptedPort port;
            port.name = setup.name;
            port.chip = &dm.add_chip(setup.model);
            port.uart = &dm.place<sim::hw::ScriptedUart>(dm.machine.events(), port.chip);
            dm.place<sim::hw::PcSerialCard>(dm.machine.bus(), dm.machine.interrupt_controller(), *port.uart,
                                            setup.base, sim::hw::InterruptWiring::edge(setup.irq), setup.name);
            ports.push_back(std::move(port));
        }
        loaded_ = static_cast<bool>(dm.load("nr_uarts=8"));
        EXPECT_TRUE(loaded_) << "module load";
        if (!loaded_) return;
        for (std::size_t i = 0; i < setups.size(); ++i) {
            uart_port templ = io_template(setups[i].base, setups[i].irq);
            ScriptedPort& port = ports[i];
            port.line = dm.register_port(templ);
            EXPECT_GE(port.line, 0) << "registration of " << port.name;
            if (port.line < 0) return;
            port.up = &dm.slot(static_cast<unsigned>(port.line));
            EXPECT_EQ(port.up->port.uart_type, sim::hw::uart_preset(setups[i].model).type) << port.name;
            if (!prepare_open(port, limits)) return;
        }
        ready_ = true;
    }
    ~DataPathRig() {
        for (ScriptedPort& port : ports) {
            if (port.up == nullptr || port.file.id < 0) continue;
            for (unsigned reg = 0; reg < 8; ++reg) port.uart->script_reads(reg, {});
            port.chip->set_faults({});
            del_timer_sync(&port.up->poll_timer);
            port.up->port.core_state = port.core_owned_state;
            EXPECT_EQ(dm.core().close(port.file), 0) << port.name;
        }
    }
    DataPathRig(const DataPathRig&) = delete;
    DataPathRig& operator=(const DataPathRig&) = delete;

    bool ready() const { return ready_; }
    ScriptedPort& port(std::size_t index = 0) { return ports[index]; }
    serial8250_uart& up(std::size_t index = 0) { return *ports[index].up; }

    // Links the ports, in the order given, into the ring of `line`'s chain, the first at the head.
    // Startup has already linked every open port of the line; this fixes the walk order.
    void link_chain(unsigned line, const std::vector<std::size_t>& order) {
        std::vector<list_head*> links;
        for (std::size_t index : order) links.push_back(&ports[index].up->chain_link);
        for (std::size_t i = 0; i < links.size(); ++i) {
            links[i]->next = links[(i + 1) % links.size()];
            links[i]->prev = links[(i + links.size() - 1) % links.size()];
        }
        dm.chain_entry(line).chain_head = links.front();
    }

    // The accesses of one operation to port `index`'s registers, from a trace started just
    // before it.
    template <typename Operation>
    std::vector<RegisterAccess> traced(std::size_t index, Operation&& operation) {
        return dm.traced(std::forward<Operation>(operation), ports[index].name);
    }
    // Every access of one operation, each tagged with its port ("A:IIR").
    template <typename Operation>
    std::vector<std::string> traced_all(Operation&& operation) {
        dm.start_trace();
        operation();
        std::vector<std::string> out;
        for (const sim::hw::BusAccess& access : dm.machine.bus().trace())
            out.push_back(access.device + ":" + std::string(access.register_name));
        dm.machine.bus().set_tracing(false);
        return out;
    }

    // The driver's routines, called as their callers call them.
    void with_port_lock(serial8250_uart& up, auto&& body) {
        irqsave_lock lock(&up.port.port_lock);
        body();
    }
    void receive_chars(serial8250_uart& up, std::uint32_t& status) {
        auto receive = dm.function<void(serial8250_uart*, std::uint32_t*)>("receive_chars");
        with_port_lock(up, [&] { receive(&up, &status); });
    }
    void transmit_chars(serial8250_uart& up) {
        auto transmit = dm.function<void(serial8250_uart*)>("transmit_chars");
        with_port_lock(up, [&] { transmit(&up); });
    }
    void service_port(serial8250_uart& up) {
        auto service = dm.function<void(serial8250_uart*)>("service_port");
        with_port_lock(up, [&] { service(&up); });
    }
    std::uint32_t check_modem_status(serial8250_uart& up) {
        auto check = dm.function<std::uint32_t(serial8250_uart*)>("check_modem_status");
        std::uint32_t msr = 0;
        with_port_lock(up, [&] { msr = check(&up); });
        return msr;
    }
    // The kernel runs a line's handler in hard-interrupt context with local interrupts off.
    irqreturn_t interrupt(unsigned line) {
        auto handler = dm.function<irqreturn_t(int, void*, pt_regs*)>("serial8250_interrupt");
        dm.machine.local_irq_disable();
        dm.machine.cpu().enter_hardirq(line);
        const irqreturn_t result = handler(static_cast<int>(line), &dm.chain_entry(line), nullptr);
        dm.machine.cpu().exit_hardirq();
        dm.machine.local_irq_enable();
        return result;
    }
    // Timer callbacks run in softirq context.
    void run_timer_callback(std::string_view name, serial8250_uart& up) {
        auto callback = dm.function<void(unsigned long)>(name);
        dm.machine.cpu().enter_softirq();
        callback(reinterpret_cast<unsigned long>(&up));
        dm.machine.cpu().exit_softirq();
    }

    unsigned long write_wakeups(std::size_t index = 0) {
        return dm.core().write_wakeups(static_cast<unsigned>(ports[index].line));
    }

    DriverMachine dm;
    std::vector<ScriptedPort> ports;

private:
    bool prepare_open(ScriptedPort& port, sim::kernel::TtyLimits limits) {
        auto opened = dm.core().open("ttyS" + std::to_string(port.line), sim::kernel::OpenMode::nonblocking);
        EXPECT_TRUE(opened.ok()) << port.name << ": " << opened.error();
        if (!opened.ok()) return false;
        port.file = *opened;
        sim::hw::UartFaults quiet;
        quiet.interrupt_output_dead = true;
        port.chip->set_faults(quiet);

        port.open = std::make_unique<OpenState>(port.line, limits);
        serial8250_uart& up = *port.up;
        port.core_owned_state = up.port.core_state;
        up.port.core_state = &port.open->state;
        up.port.pending_xchar = 0;
        up.port.rx_status_mask = 0;
        up.port.rx_ignore_mask = 0;
        up.port.fifo_timeout = 20;
        up.quirk_flags = 0;
        up.acr_shadow = 0;
        up.ier_shadow = 0x05;  // received data and line status, as startup leaves it
        up.tx_load_size = 16;
        up.poll_timer.data = reinterpret_cast<unsigned long>(&up);
        return true;
    }

    bool loaded_ = false;
    bool ready_ = false;
};

}  // namespace driver_test
