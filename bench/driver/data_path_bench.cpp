// Host work per character moved through the driver end to end, at 115200 8N1 between two
// 16550As: the write goes into the transmit ring, the transmit interrupt has transmit_chars
// load the chip, the far chip's receive interrupt has receive_chars push the characters to the
// tty, and the reader takes them. The models' own share is measured by bench/sim_hw.
#include <benchmark/benchmark.h>

#include <chrono>
#include <vector>

#include "bench/driver/pair_rig.h"

namespace driver_bench {
namespace {

std::vector<unsigned char> pattern(std::size_t length) {
    std::vector<unsigned char> bytes(length);
    for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<unsigned char>(i * 31 + 7);
    return bytes;
}

// Host time per character, and the machine time per character on one line (at least the line
// rate: 86.8 us at 115200 8N1). `directions` lines carry the characters side by side.
void report(benchmark::State& state, const PairRig& rig, sim::hw::TimePoint started, std::size_t per_iteration,
            unsigned directions = 1) {
    const double characters = static_cast<double>(state.iterations()) * static_cast<double>(per_iteration);
    state.SetItemsProcessed(static_cast<std::int64_t>(characters));
    state.counters["host_per_char"] = benchmark::Counter(characters, benchmark::Counter::kIsRate |
                                                                         benchmark::Counter::kInvert);
    const auto machine_time = std::chrono::duration<double, std::micro>(rig.machine.now() - started);
    state.counters["machine_us_per_char"] = machine_time.count() * directions / characters;
}

void BM_OneWay(benchmark::State& state) {
    PairRig rig;
    if (!rig.error().empty()) {
        state.SkipWithError(rig.error().c_str());
        return;
    }
    const std::vector<unsigned char> bytes = pattern(static_cast<std::size_t>(state.range(0)));
    if (!rig.move(bytes)) state.SkipWithError("warm-up: the characters did not arrive");
    const sim::hw::TimePoint started = rig.machine.now();
    for (auto _ : state) {
        if (!rig.move(bytes)) {
            state.SkipWithError("the characters did not arrive unchanged");
            break;
        }
    }
    report(state, rig, started, bytes.size());
}
BENCHMARK(BM_OneWay)->Arg(16)->Arg(256)->Arg(2048)->Unit(benchmark::kMicrosecond);

void BM_BothWays(benchmark::State& state) {
    PairRig rig;
    if (!rig.error().empty()) {
        state.SkipWithError(rig.error().c_str());
        return;
    }
    const std::vector<unsigned char> bytes = pattern(static_cast<std::size_t>(state.range(0)));
    const sim::hw::TimePoint started = rig.machine.now();
    for (auto _ : state) {
        if (!rig.exchange(bytes)) {
            state.SkipWithError("the characters did not arrive unchanged");
            break;
        }
    }
    report(state, rig, started, 2 * bytes.size(), 2);
}
BENCHMARK(BM_BothWays)->Arg(256)->Arg(2048)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace driver_bench
