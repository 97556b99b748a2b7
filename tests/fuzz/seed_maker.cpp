// Writes the fuzzer's seed corpus: each seed is a case header followed by the answers that a
// real chip model gave to the detection's reads, so that the fuzzer starts from inputs that
// take every branch of the detection (each UART type, the RSA board, every access kind, the
// interrupt-line probe, the early returns). Each seed is checked to give the expected type.
//
//     detection_seed_maker <corpus folder>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "sim/hw/board/four_port_board.h"
#include "sim/hw/board/hub6_board.h"
#include "sim/hw/board/mmio_board.h"
#include "sim/hw/board/pc_card.h"
#include "sim/hw/board/rsa_board.h"
#include "sim/hw/uart/uart_chip.h"
#include "sim/hw/uart/uart_presets.h"
#include "sim/kernel/machine.h"
#include "tests/fuzz/detection_harness.h"

namespace detection_fuzz {
namespace {

using sim::hw::InterruptWiring;
using sim::hw::UartModel;

// The hardware of one seed, taken down newest first (boards before their chips).
class Rig {
public:
    explicit Rig(sim::kernel::Machine& machine) : machine(machine) {}
    ~Rig() {
        while (!parts_.empty()) parts_.pop_back();
    }
    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;

    template <typename T, typename... Args>
    T& add(Args&&... args) {
        auto part = std::make_shared<T>(std::forward<Args>(args)...);
        T& ref = *part;
        parts_.push_back(std::move(part));
        return ref;
    }
    sim::hw::UartChip& chip(UartModel model) { return add<sim::hw::UartChip>(machine.events(), model); }
    void pc_card(std::uint16_t base, UartModel model) {
        add<sim::hw::PcSerialCard>(machine.bus(), machine.interrupt_controller(), chip(model), base,
                                   InterruptWiring::none());
    }

    sim::kernel::Machine& machine;

private:
    std::vector<std::shared_ptr<void>> parts_;
};

struct Seed {
    std::string name;
    DetectionCase detection_case;
    std::function<void(Rig&)> place;
    unsigned expected_type;
};

DetectionCase io_case(Placement placement = Placement::plain_base) {
    DetectionCase c;
    c.placement = placement;
    return c;
}

std::vector<Seed> seeds() {
    std::vector<Seed> list;
    for (const sim::hw::UartPreset& preset : sim::hw::uart_presets()) {
        const UartModel model = preset.model;
        list.push_back({fmt::format("io-{}", preset.key), io_case(),
                        [model](Rig& rig) { rig.pc_card(plain_base, model); }, preset.type});
    }
    auto rsa_board = [](Rig& rig) {
        rig.add<sim::hw::RsaBoard>(rig.machine.bus(), rig.machine.interrupt_controller(),
                                   rig.chip(UartModel::rsa_16550a), static_cast<std::uint16_t>(rsa_probe_base),
                                   InterruptWiring::none());
    };
    list.push_back({"rsa-board", io_case(Placement::rsa_probe_base), rsa_board, type_rsa});
    {
        DetectionCase c = io_case(Placement::rsa_probe_base);
        c.rsa_region_busy = true;
        list.push_back({"rsa-board-region-busy", c, rsa_board, type_16550a});
    }
    list.push_back({"absent", io_case(), [](Rig&) {}, type_unknown});
    {
        DetectionCase c = io_case();
        c.irq_probe = true;
        list.push_back({"irq-probe-16550a", c, [](Rig& rig) { rig.pc_card(plain_base, UartModel::ns16550a); },
                        type_16550a});
    }
    {
        DetectionCase c = io_case();
        c.irq_probe = true;
        c.four_port = true;
        list.push_back({"fourport-irq-probe", c,
                        [](Rig& rig) {
                            std::array<sim::hw::UartRegisters*, 4> chips{};
                            for (auto& chip : chips) chip = &rig.chip(UartModel::ns16550a);
                            rig.add<sim::hw::FourPortBoard>(rig.machine.bus(), rig.machine.interrupt_controller(),
                                                            chips, static_cast<std::uint16_t>(plain_base),
                                                            InterruptWiring::none());
                        },
                        type_16550a});
    }
    {
        DetectionCase c = io_case();
        c.access_kind = access_hub6;
        list.push_back({"hub6-16550a", c,
                        [](Rig& rig) {
                            std::array<sim::hw::UartRegisters*, 1> chips{&rig.chip(UartModel::ns16550a)};
                            rig.add<sim::hw::Hub6Board>(rig.machine.bus(), rig.machine.interrupt_controller(),
                                                        std::span<sim::hw::UartRegisters* const>(chips),
                                                        static_cast<std::uint16_t>(plain_base), InterruptWiring::none());
                        },
                        type_16550a});
    }
    auto mmio = [](unsigned shift, UartModel model) {
        return [shift, model](Rig& rig) {
            rig.add<sim::hw::MmioUartBoard>(rig.machine.bus(), rig.machine.interrupt_controller(), rig.chip(model),
                                            window_base, shift, InterruptWiring::none());
        };
    };
    {
        DetectionCase c;
        c.access_kind = access_mem8;
        list.push_back({"mem8-16550a", c, mmio(0, UartModel::ns16550a), type_16550a});
        c.map_on_request = true;
        list.push_back({"mem8-map-on-request-16c950", c, mmio(0, UartModel::ox16c950), type_16c950});
        c = {};
        c.access_kind = access_mem32;
        c.reg_shift = 2;
        list.push_back({"mem32-xscale", c, mmio(2, UartModel::pxa_xscale), type_xscale});
        c = {};
        c.access_kind = access_mem8_quirk;
        list.push_back({"mem8-quirk-16550a", c,
                        [](Rig& rig) {
                            rig.add<sim::hw::IirWordBoard>(rig.machine.bus(), rig.machine.interrupt_controller(),
                                                           rig.chip(UartModel::ns16550a), window_base,
                                                           InterruptWiring::none());
                        },
                        type_16550a});
        c = {};
        c.access_kind = access_wide_window;
        c.map_on_request = true;
        list.push_back({"wide-window-16550a", c, [](Rig& rig) { rig.pc_card(plain_base, UartModel::ns16550a); },
                        type_16550a});
    }
    {
        DetectionCase c = io_case();
        c.entry = Entry::config_port_op;
        c.stray_request_bits = true;
        c.irq_probe = true;
        list.push_back({"op-stray-bits-ti16750", c, [](Rig& rig) { rig.pc_card(plain_base, UartModel::ti16c750); },
                        type_16750});
        c.type_detect = false;
        list.push_back({"op-no-type-detect", c, [](Rig& rig) { rig.pc_card(plain_base, UartModel::ns16550a); },
                        type_unknown});
    }
    {
        DetectionCase c = io_case();
        c.no_presence_test = true;
        c.skip_test = true;
        list.push_back({"no-tests-st16654", c, [](Rig& rig) { rig.pc_card(plain_base, UartModel::st16c654); },
                        type_16654});
        c = io_case();
        c.std_region_busy = true;
        list.push_back({"std-region-busy", c, [](Rig& rig) { rig.pc_card(plain_base, UartModel::ns16550a); },
                        type_unknown});
        c = io_case(Placement::no_address);
        list.push_back({"no-address", c, [](Rig&) {}, type_unknown});
    }
    return list;
}

}  // namespace
}  // namespace detection_fuzz

int main(int argc, char** argv) {
    using namespace detection_fuzz;
    if (argc != 2) {
        std::fputs("usage: detection_seed_maker <corpus folder>\n", stderr);
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::filesystem::create_directories(folder);
    int failures = 0;
    for (const Seed& seed : seeds()) {
        sim::kernel::Machine machine;
        std::vector<std::uint8_t> bytes;
        unsigned type = 0;
        {
            Rig rig(machine);
            seed.place(rig);
            DetectionHarness harness(machine, SERIAL_8250_MODULE_PATH);
            type = harness.run(seed.detection_case).uart_type;
            const CaseHeader header = encode_case(seed.detection_case);
            bytes.assign(header.begin(), header.end());
            const std::vector<std::uint8_t> answers = harness.last_answers();
            bytes.insert(bytes.end(), answers.begin(), answers.end());
            machine.modules().unload_all();
        }
        if (type != seed.expected_type) {
            std::fprintf(stderr, "seed %s: type %u, expected %u\n", seed.name.c_str(), type, seed.expected_type);
            ++failures;
            continue;
        }
        std::ofstream out(folder / seed.name, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        std::printf("%-28s type %2u, %zu bytes\n", seed.name.c_str(), type, bytes.size());
    }
    return failures == 0 ? 0 : 1;
}
