// Host work to move one character end to end through the models, and the allocations it
// makes (reported as allocs_per_char; it should be 0 once the queues have grown).
#include <benchmark/benchmark.h>

#include "bench/sim_hw/allocation_counter.h"

#include "sim/hw/board/pc_card.h"
#include "sim/hw/bus.h"
#include "sim/hw/line/host_endpoint.h"
#include "sim/hw/line/null_modem.h"
#include "sim/hw/uart/uart_chip.h"

namespace sim::hw {
namespace {

void program(UartChip& chip) {
    chip.write(3, 0x83);
    chip.write(0, 0x01);
    chip.write(1, 0x00);
    chip.write(3, 0x03);
    chip.write(2, 0x07);
}

// Chip to chip over a null-modem cable: THR write, shift out, sample, FIFO, RBR read.
void BM_NullModemCharacter(benchmark::State& state) {
    EventQueue events;
    UartChip a(events, UartModel::ns16550a);
    UartChip b(events, UartModel::ns16550a);
    NullModemCable cable(a, b);
    program(a);
    program(b);
    std::uint8_t byte = 0;
    auto one = [&] {
        a.write(0, byte++);
        while (!(b.read(5) & 0x01)) events.run_next();
        benchmark::DoNotOptimize(b.read(0));
    };
    for (int i = 0; i < 64; ++i) one();  // let the queues reach their working size
    const std::size_t before = allocations_so_far();
    for (auto _ : state) one();
    state.counters["allocs_per_char"] =
        benchmark::Counter(static_cast<double>(allocations_so_far() - before), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_NullModemCharacter);

// The same through the I/O bus and a PC card, with the interrupt line toggling each time.
void BM_BusCharacterWithInterrupt(benchmark::State& state) {
    EventQueue events;
    Bus bus(events);
    InterruptController irqs;
    UartChip a(events, UartModel::ns16550a);
    UartChip b(events, UartModel::ns16550a);
    PcSerialCard card_a(bus, irqs, a, 0x3f8, InterruptWiring::edge(4));
    PcSerialCard card_b(bus, irqs, b, 0x2f8, InterruptWiring::edge(3));
    NullModemCable cable(a, b);
    program(a);
    program(b);
    bus.outb(0x2f9, 0x01);
    bus.outb(0x2fc, 0x08);
    std::uint8_t byte = 0;
    auto one = [&] {
        bus.outb(0x3f8, byte++);
        while (!irqs.pending(InterruptLine{3})) events.run_next();
        irqs.acknowledge(InterruptLine{3});
        benchmark::DoNotOptimize(bus.inb(0x2fa));
        benchmark::DoNotOptimize(bus.inb(0x2fd));
        benchmark::DoNotOptimize(bus.inb(0x2f8));
    };
    for (int i = 0; i < 64; ++i) one();
    const std::size_t before = allocations_so_far();
    for (auto _ : state) one();
    state.counters["allocs_per_char"] =
        benchmark::Counter(static_cast<double>(allocations_so_far() - before), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_BusCharacterWithInterrupt);

// A burst of FIFO-sized writes: the per-character cost when the transmitter streams.
void BM_StreamingThroughput(benchmark::State& state) {
    EventQueue events;
    UartChip chip(events, UartModel::ns16550a);
    HostEndpoint host(events);
    host.connect(chip);
    program(chip);
    std::size_t chars = 0;
    for (auto _ : state) {
        for (int i = 0; i < 16; ++i) chip.write(0, static_cast<std::uint8_t>(i));
        while (chip.tx_level() > 0 || chip.transmitter_busy()) events.run_next();
        chars += 16;
        host.clear_received();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(chars));
    host.disconnect();
}
BENCHMARK(BM_StreamingThroughput);

}  // namespace
}  // namespace sim::hw
