// Each preset shows the register behaviour that tells its part apart, tested on the model.
#include <optional>
#include <ostream>

#include <gtest/gtest.h>

#include "sim/hw/uart/uart_chip.h"
#include "sim/hw/uart/uart_presets.h"
#include "tests/sim_hw/uart_probe.h"

namespace sim::hw {
namespace {

using test::UartProbe;

enum class Efr { none, under_dlab, bank_bf };

// What each part shows to the probes, from its datasheet.
struct PresetRow {
    UartModel model;
    unsigned fifo_bits;                  // IIR 7-6 after FCR 0x01
    bool scratch;
    Efr efr;
    std::optional<std::uint16_t> divisor_id;
    bool ns_mirror;
    bool wide_fifo;                      // IIR >> 5: 6 then 7
    bool uue;
    std::optional<std::uint8_t> id3;     // 16C950 third identification byte
    unsigned measured_fifo;              // loopback burst kept by the receiver (0: not measured)
};

// Names the row by its preset when a case fails.
void PrintTo(const PresetRow& row, std::ostream* os) { *os << uart_preset(row.model).key; }

class PresetTable : public ::testing::TestWithParam<PresetRow> {
protected:
    EventQueue events;
};

TEST_P(PresetTable, ShowsItsDatasheetBehaviour) {
    const PresetRow& row = GetParam();
    UartChip chip(events, row.model);
    UartProbe probe(events, chip);
    EXPECT_TRUE(probe.ier_reads_back());
    EXPECT_EQ(probe.loopback_msr(), 0x90);
    EXPECT_EQ(probe.fifo_bits(), row.fifo_bits);
    EXPECT_EQ(probe.scratch_holds(), row.scratch);
    if (row.fifo_bits == 3) {
        const auto dlab = probe.register2_under_dlab();
        EXPECT_EQ(dlab.first == 0 && dlab.holds_a8, row.efr == Efr::under_dlab);
        if (row.efr != Efr::under_dlab) {
            EXPECT_EQ(probe.register2_under_bf() == 0,
                      row.efr == Efr::bank_bf || row.divisor_id == std::uint16_t{0x0201});
        }
    }
    const std::uint16_t id = probe.divisor_id();
    if (row.divisor_id) {
        EXPECT_EQ(id, *row.divisor_id);
    } else {
        EXPECT_EQ(id, 0u) << "the latch reads back the zeros written to it";
    }
    EXPECT_EQ(probe.ns_bank2_mirror(), row.ns_mirror);
    if (row.fifo_bits == 3 && row.efr == Efr::none) {
        EXPECT_EQ(probe.wide_fifo_iir() == std::make_pair(6u, 7u), row.wide_fifo);
        EXPECT_EQ(probe.ier_bit6_settable(), row.uue);
    }
    if (row.efr == Efr::bank_bf) {
        probe.enable_enhanced();
        const std::uint8_t id1 = probe.icr_read(8), id2 = probe.icr_read(9), id3 = probe.icr_read(10);
        if (row.id3) {
            EXPECT_EQ(id1, 0x16);
            EXPECT_EQ(id2, 0xc9);
            EXPECT_EQ(id3, *row.id3);
        } else {
            EXPECT_NE(id1, 0x16) << "offset 5 is the LSR on a part without indexed registers";
        }
    }
    // The 16C950 measures its 650-mode FIFO: the probe above switched the enhanced mode on.
    if (row.measured_fifo) {
        EXPECT_EQ(probe.fifo_size(), row.measured_fifo);
    }
}

TEST_P(PresetTable, DetectionTableGivesItsType) {
    const PresetRow& row = GetParam();
    UartChip chip(events, row.model);
    UartProbe probe(events, chip);
    EXPECT_EQ(probe.classify(), uart_preset(row.model).type);
}

using M = UartModel;
INSTANTIATE_TEST_SUITE_P(
    Presets, PresetTable,
    ::testing::Values(
        //        model              fifo scr   efr             div id  ns     wide   uue    id3   fifo
        PresetRow{M::i8250,            0, false, Efr::none,    {},     false, false, false, {},   0},
        PresetRow{M::ns16450,          0, true,  Efr::none,    {},     false, false, false, {},   0},
        PresetRow{M::ns16550,          2, true,  Efr::none,    {},     false, false, false, {},   0},
        PresetRow{M::ns16550a,         3, true,  Efr::none,    {},     false, false, false, {},   16},
        PresetRow{M::rsa_16550a,       3, true,  Efr::none,    {},     false, false, false, {},   16},
        PresetRow{M::st16c650,         3, true,  Efr::under_dlab, {},  false, false, false, {},   32},
        PresetRow{M::st16c650v2,       3, true,  Efr::bank_bf, {},     false, false, false, {},   32},
        PresetRow{M::st16c654,         3, true,  Efr::bank_bf, {},     false, false, false, {},   64},
        PresetRow{M::ti16c750,         3, true,  Efr::none,    {},     false, true,  false, {},   16},
        PresetRow{M::ox16c950,         3, true,  Efr::bank_bf, {},     false, false, false, 0x50, 128},
        PresetRow{M::ox16c954,         3, true,  Efr::bank_bf, {},     false, false, false, 0x54, 0},
        PresetRow{M::ox16c952_rev1,    3, true,  Efr::bank_bf, {},     false, false, false, 0x52, 0},
        PresetRow{M::ox16c952_rev2,    3, true,  Efr::bank_bf, {},     false, false, false, 0x52, 0},
        PresetRow{M::xr16c850,         3, true,  Efr::bank_bf, 0x1003, false, false, false, {},   128},
        PresetRow{M::xr16c852,         3, true,  Efr::bank_bf, 0x1201, false, false, false, {},   0},
        PresetRow{M::xr16c854,         3, true,  Efr::bank_bf, 0x1401, false, false, false, {},   0},
        PresetRow{M::ns_pc8733x,       3, true,  Efr::none,    {},     true,  false, false, {},   16},
        PresetRow{M::pxa_xscale,       3, true,  Efr::none,    {},     false, false, true,  {},   0},
        PresetRow{M::xr16c2550_a2,     3, true,  Efr::none,    0x0201, false, false, false, {},   16}),
    [](const ::testing::TestParamInfo<PresetRow>& info) {
        std::string key(uart_preset(info.param.model).key);
        for (char& c : key) {
            if (c == '-') c = '_';
        }
        return key;
    });

TEST(PresetCatalogue, KeysAreUniqueAndFindTheirModel) {
    for (const UartPreset& p : uart_presets()) {
        EXPECT_EQ(uart_model_by_key(p.key), p.model) << p.key;
    }
    EXPECT_FALSE(uart_model_by_key("16551").has_value());
}

TEST(Presets16C950, RevisionAndSampleClockRegistersReadBack) {
    EventQueue events;
    UartChip rev1(events, UartModel::ox16c952_rev1);
    UartChip rev2(events, UartModel::ox16c952_rev2);
    UartProbe p1(events, rev1), p2(events, rev2);
    EXPECT_EQ(p1.icr_read(11), 0x01);
    EXPECT_EQ(p2.icr_read(11), 0x02);
    // ACR is restored by the read sequence; TCR keeps what was written.
    p1.out(7, 2);
    p1.out(5, 0x08);
    EXPECT_EQ(p1.icr_read(2), 0x08);
    EXPECT_EQ(rev1.icr(0), 0x00);
    EXPECT_EQ(rev1.peek(5) & 0x60, 0x60) << "with ACR bit 6 clear offset 5 reads LSR again";
}

}  // namespace
}  // namespace sim::hw
