// Host work for one type detection (config_port with want_type_detect, then release_port), for
// the 16550A and, for comparison, a part identified through its indexed registers and one whose
// FIFO is measured (20 ms of busy-waiting in machine time).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <string>

#include "drivers/serial/8250/8250.h"
#include "sim/hw/board/pc_card.h"
#include "sim/hw/uart/uart_chip.h"
#include "sim/hw/uart/uart_presets.h"
#include "sim/kernel/machine.h"

namespace driver_bench {
namespace {

constexpr std::uint16_t uart_base = 0x2a0;

void BM_Detection(benchmark::State& state, sim::hw::UartModel model) {
    const sim::hw::UartPreset& preset = sim::hw::uart_preset(model);
    sim::kernel::Machine machine;
    sim::hw::UartChip chip(machine.events(), model);
    sim::hw::PcSerialCard card(machine.bus(), machine.interrupt_controller(), chip, uart_base,
                               sim::hw::InterruptWiring::none());
    if (const auto loaded = machine.modules().load(SERIAL_8250_MODULE_PATH); !loaded) {
        state.SkipWithError(("insmod 8250: " + loaded.message).c_str());
        return;
    }
    const auto* ops = static_cast<const uart_ops*>(machine.modules().symbol("8250", "serial8250_pops"));
    if (ops == nullptr) {
        state.SkipWithError("the module has no serial8250_pops");
        return;
    }
    // A port record of our own, as a board driver would hand one over before registering it.
    serial8250_uart record{};
    spin_lock_init(&record.port.port_lock);
    record.port.io_base = uart_base;
    record.port.uart_clock_hz = standard_clock_hz;
    record.port.access_kind = access_port_io;
    record.port.port_ops = ops;
    record.port.line_index = 7;

    auto detect_once = [&] {
        record.port.uart_type = type_unknown;
        ops->config_port(&record.port, want_type_detect);
        const std::uint32_t type = record.port.uart_type;
        if (type != type_unknown) ops->release_port(&record.port);
        return type;
    };
    if (const std::uint32_t type = detect_once(); type != preset.type) {
        state.SkipWithError(("found type " + std::to_string(type) + ", expected " + std::to_string(preset.type)).c_str());
        machine.modules().unload_all();
        return;
    }
    const sim::hw::TimePoint started = machine.now();
    for (auto _ : state) benchmark::DoNotOptimize(detect_once());
    const auto machine_time = std::chrono::duration<double, std::micro>(machine.now() - started);
    state.counters["machine_us_per_detection"] = machine_time.count() / static_cast<double>(state.iterations());
    machine.modules().unload_all();
}
BENCHMARK_CAPTURE(BM_Detection, 16550A, sim::hw::UartModel::ns16550a)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Detection, 16C950, sim::hw::UartModel::ox16c950)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Detection, ST16654_fifo_measured, sim::hw::UartModel::st16c654)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace driver_bench
