// The 16C950's indexed registers, the type table and its names, and the check of user settings.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "tests/driver/driver_harness.h"

namespace driver_test {
namespace {

using sim::hw::UartModel;

class IndexedRegisters : public ::testing::Test {
protected:
    void SetUp() override {
        chip = &dm.place_pc_uart(0x2a0, UartModel::ox16c950, 0);
        ASSERT_TRUE(dm.load("nr_uarts=0"));
        up.port.io_base = 0x2a0;
        up.port.access_kind = access_port_io;
    }
    DriverMachine dm;
    sim::hw::UartChip* chip = nullptr;
    serial8250_uart up{};
};

TEST_F(IndexedRegisters, ReadOpensAcrReadAccessOnlyForTheRead) {
    auto serial_icr_read = dm.function<std::uint32_t(serial8250_uart*, int)>("serial_icr_read");
    up.acr_shadow = 0x02;
    dm.start_trace();
    EXPECT_EQ(serial_icr_read(&up, 8), 0x16u) << "first identification byte of the 16C950";
    const std::vector<RegisterAccess> expected = {
        wr("SCR", 0x00), wr("ICR", 0x42), wr("SCR", 0x08), rd("ICR"), wr("SCR", 0x00), wr("ICR", 0x02),
    };
    EXPECT_EQ(dm.register_trace("serial"), expected);
    EXPECT_EQ(up.acr_shadow, 0x02);
    EXPECT_EQ(chip->icr(0), 0x02) << "ACR is back as it was";
}

TEST_F(IndexedRegisters, WriteSelectsThroughScrAndWritesOffset5) {
    auto serial_icr_write = dm.function<void(serial8250_uart*, int, std::uint32_t)>("serial_icr_write");
    dm.start_trace();
    serial_icr_write(&up, 0x0c, 0x00);
    serial_icr_write(&up, 0x00, 0x02);
    const std::vector<RegisterAccess> expected = {wr("SCR", 0x0c), wr("ICR", 0x00), wr("SCR", 0x00), wr("ICR", 0x02)};
    EXPECT_EQ(dm.register_trace("serial"), expected);
    EXPECT_EQ(chip->icr(0), 0x02);
}

class TypeTable : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dm.load("nr_uarts=0")); }
    DriverMachine dm;
};

TEST_F(TypeTable, HoldsEachTypesFifoLoadControlAndCapabilities) {
    struct Row {
        const char* name;
        std::uint16_t fifo_size;
        std::uint16_t tx_load;
        std::uint8_t fifo_ctrl;
        std::uint32_t type_caps;
    };
    const Row expected[type_count] = {
        {"unknown", 1, 1, 0x00, 0},          {"8250", 1, 1, 0x00, 0},
        {"16450", 1, 1, 0x00, 0},            {"16550", 1, 1, 0x00, 0},
        {"16550A", 16, 16, 0x81, 0x0100},    {"Cirrus", 1, 1, 0x00, 0},
        {"ST16650", 1, 1, 0x00, 0x0700},     {"ST16650V2", 32, 16, 0x41, 0x0700},
        {"TI16750", 64, 64, 0xa1, 0x0d00},   {"Startech", 1, 1, 0x00, 0},
        {"16C950/954", 128, 128, 0x81, 0x0100}, {"ST16654", 64, 32, 0x61, 0x0700},
        {"XR16850", 128, 128, 0x81, 0x0700}, {"RSA", 2048, 2048, 0xc1, 0x0100},
        {"NS16550A", 16, 16, 0x81, 0x0108},  {"XScale", 32, 32, 0x81, 0x1100},
    };
    for (unsigned type = 0; type < type_count; ++type) {
        SCOPED_TRACE(testing::Message() << "type " << type);
        const uart_type_info& info = dm.type_info(type);
        EXPECT_STREQ(info.name_text, expected[type].name);
        EXPECT_EQ(info.fifo_size, expected[type].fifo_size);
        EXPECT_EQ(info.tx_load, expected[type].tx_load);
        EXPECT_EQ(info.fifo_ctrl, expected[type].fifo_ctrl);
        EXPECT_EQ(info.type_caps, expected[type].type_caps);
    }
}

TEST_F(TypeTable, NamesEveryTypeAndCallsOutOfRangeTypesUnknown) {
    auto type_name = dm.function<const char*(uart_port*)>("serial8250_type");
    uart_port port{};
    for (unsigned type = 0; type < type_count; ++type) {
        port.uart_type = type;
        EXPECT_STREQ(type_name(&port), dm.type_info(type).name_text);
    }
    port.uart_type = 15;
    EXPECT_STREQ(type_name(&port), "XScale");
    for (std::uint32_t out_of_range : {16u, 255u, 0xffffffffu}) {
        port.uart_type = out_of_range;
        EXPECT_STREQ(type_name(&port), "unknown") << out_of_range;
    }
}

TEST_F(TypeTable, SettingsCheckRefusesLinesClocksAndTypesTheDriverCannotUse) {
    auto verify = dm.function<int(uart_port*, requested_settings*)>("serial8250_verify_port");
    struct Case {
        const char* what;
        std::int32_t type;
        std::int32_t irq;
        std::int32_t baud_base;
        int result;
    };
    const Case cases[] = {
        {"ordinary settings", 4, 4, 115200, 0},
        {"last interrupt line", 4, 4095, 115200, 0},
        {"line beyond the chain table", 4, 4096, 115200, -22},
        {"negative line is huge unsigned", 4, -1, 115200, -22},
        {"slowest clock", 4, 0, 9600, 0},
        {"clock below 9600", 4, 0, 9599, -22},
        {"negative clock", 4, 0, -115200, -22},
        {"smallest negative clock", 4, 0, INT_MIN, -22},
        {"type unknown", 0, 0, 115200, 0},
        {"type RSA", 13, 0, 115200, 0},
        {"type XScale", 15, 0, 115200, 0},
        {"negative type", -1, 0, 115200, -22},
        {"Cirrus is only named", 5, 0, 115200, -22},
        {"Startech is only named", 9, 0, 115200, -22},
        {"type beyond the table", 16, 0, 115200, -22},
    };
    for (const Case& c : cases) {
        requested_settings settings{};
        settings.req_type = c.type;
        settings.req_irq = c.irq;
        settings.req_baud_base = c.baud_base;
        EXPECT_EQ(verify(nullptr, &settings), c.result) << c.what;
    }
}

}  // namespace
}  // namespace driver_test
