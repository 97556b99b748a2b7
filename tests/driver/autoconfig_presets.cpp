// Every real part of the family, placed at a port and added: detection finds the type the
// part's datasheet behaviour implies, and the port takes that type's settings.
#include <gtest/gtest.h>

#include <string>

#include "tests/driver/driver_harness.h"

namespace sim::hw {
inline void PrintTo(const UartPreset& preset, std::ostream* out) { *out << preset.features.part; }
}  // namespace sim::hw

namespace driver_test {
namespace {

using sim::hw::UartModel;
using sim::hw::UartPreset;

constexpr std::uint16_t board_base = 0x100;
constexpr std::uint32_t board_irq = 5;

class PresetDetection : public ::testing::TestWithParam<UartPreset> {
protected:
    void SetUp() override {
        chip = &dm.place_pc_uart(board_base, GetParam().model, board_irq);
        ASSERT_TRUE(dm.load("nr_uarts=8"));
    }
    DriverMachine dm;
    sim::hw::UartChip* chip = nullptr;
};

TEST_P(PresetDetection, FindsTheTypeAndTakesItsSettingsFromTheTable) {
    const UartPreset& preset = GetParam();
    uart_port templ = io_template(board_base, board_irq);
    const int line = dm.register_port(templ);
    ASSERT_EQ(line, 4);

    const serial8250_uart& up = dm.slot(4);
    ASSERT_EQ(up.port.uart_type, preset.type) << preset.features.part;
    const uart_type_info& info = dm.type_info(preset.type);
    EXPECT_STREQ(info.name_text, std::string(preset.type_name).c_str());
    EXPECT_EQ(up.port.fifo_depth, info.fifo_size);
    EXPECT_EQ(up.tx_load_size, info.tx_load);
    EXPECT_EQ(up.cap_flags, info.type_caps);
    EXPECT_EQ(up.quirk_flags & quirk_quot, preset.model == UartModel::ox16c952_rev1 ? quirk_quot : 0);
    EXPECT_TRUE(dm.ioport_claimed(board_base, 8, "serial"));
    EXPECT_TRUE(dm.machine.log().contains("ttyS4 at I/O 0x100 (irq = 5) is a " + std::string(preset.type_name)))
        << dm.machine.log().dmesg();

    // Left quiet: line settings as found, working FIFOs off and empty, no interrupt source enabled
    // except the unit-enable bit an XScale part cannot work without.
    EXPECT_EQ(chip->lcr(), 0x00);
    if ((info.type_caps & cap_fifo) != 0) {
        EXPECT_FALSE(chip->fifo_enabled());
    }
    EXPECT_EQ(chip->rx_level(), 0u);
    EXPECT_EQ(chip->ier() & 0x0f, 0x00);
    EXPECT_EQ(chip->ier() & 0x40, preset.type == type_xscale ? 0x40 : 0x00);
}

INSTANTIATE_TEST_SUITE_P(Presets, PresetDetection, ::testing::ValuesIn(sim::hw::uart_presets().begin(),
                                                                       sim::hw::uart_presets().end()),
                         [](const auto& info) {
                             std::string name(info.param.key);
                             for (char& ch : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             }
                             return name;
                         });

// The 16C950 has an EFR and sleep mode, but the driver runs it as a plain FIFO part.
TEST(CapabilityCrossCheck, WarnsWhenDetectedCapabilitiesDisagreeWithTheTable) {
    DriverMachine dm;
    dm.place_pc_uart(board_base, UartModel::ox16c950, board_irq);
    dm.place_pc_uart(0x200, UartModel::ns16550a, board_irq);
    ASSERT_TRUE(dm.load("nr_uarts=8"));
    uart_port templ = io_template(board_base, board_irq);
    ASSERT_EQ(dm.register_port(templ), 4);
    uart_port plain = io_template(0x200, board_irq);
    ASSERT_EQ(dm.register_port(plain), 5);

    unsigned warnings = 0;
    for (const auto& record : dm.machine.log().records()) {
        if (record.text.find("detected caps") == std::string::npos) continue;
        ++warnings;
        EXPECT_EQ(record.text, "ttyS4: detected caps 00000700 should be 00000100");
        EXPECT_EQ(record.priority, 4);
    }
    EXPECT_EQ(warnings, 1u) << "the 16550A agrees with its table entry";
    EXPECT_EQ(dm.slot(4).cap_flags, cap_fifo);
}

}  // namespace
}  // namespace driver_test
