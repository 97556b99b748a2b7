#include "tools/serial-lab/tty/setserial_words.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plain_words.h"

namespace lab {
namespace {

SerialInfo com1() {
    SerialInfo info;
    info.line = 0;
    info.type = 4;
    info.type_name = "16550A";
    info.port = 0x3f8;
    info.irq = 4;
    info.flags = 0x10000040;
    info.baud_base = 115200;
    info.close_delay = 50;
    info.closing_wait = 3000;
    return info;
}

TEST(SetserialReport, FormatsAsSetserialDoes) {
    EXPECT_EQ(format_setserial(com1(), SetserialReport::plain), "/dev/ttyS0, UART: 16550A, Port: 0x03f8, IRQ: 4\n");
    EXPECT_EQ(format_setserial(com1(), SetserialReport::all),
              "/dev/ttyS0, Line 0, UART: 16550A, Port: 0x03f8, IRQ: 4\n"
              "\tBaud_base: 115200, close_delay: 50, divisor: 0\n"
              "\tclosing_wait: 3000\n"
              "\tFlags: spd_normal skip_test configure_on_add\n\n");
    EXPECT_EQ(format_setserial(com1(), SetserialReport::boot), "/dev/ttyS0 at 0x03f8 (irq = 4) is a 16550A\n");
}

TEST(SetserialWords, ChangesAreCollectedBeforeAnythingIsDone) {
    const auto words = words_of({"port", "0x2e8", "irq", "5", "uart", "16c950", "^skip_test", "spd_vhi",
                                 "low_latency", "baud_base", "921600"});
    const auto change = parse_setserial_words(words);
    ASSERT_TRUE(change.ok()) << change.error().message;
    const SerialInfo after = change->applied_to(com1());
    EXPECT_EQ(after.port, 0x2e8u);
    EXPECT_EQ(after.irq, 5);
    EXPECT_EQ(after.type, 10u);
    EXPECT_EQ(after.baud_base, 921600u);
    EXPECT_EQ(format_serial_flags(after.flags), "spd_vhi low_latency configure_on_add");
    EXPECT_TRUE(change->changes_settings());
}

TEST(SetserialWords, BadWordsAreRefused) {
    for (std::vector<std::string> bad : {std::vector<std::string>{"port"}, {"port", "0x10000"}, {"irq", "x"},
                                         {"uart", "16551"}, {"frobnicate"}, {"^nothing"}}) {
        const auto words = words_of(bad);
        EXPECT_FALSE(parse_setserial_words(words).ok()) << bad.front();
    }
}

TEST(UartTypeNames, NamesAndNumbers) {
    EXPECT_EQ(uart_type_from_name("16550A"), 4u);
    EXPECT_EQ(uart_type_from_name("16550a"), 4u);
    EXPECT_EQ(uart_type_from_name("16C950/954"), 10u);
    EXPECT_EQ(uart_type_from_name("none"), 0u);
    EXPECT_EQ(uart_type_from_name("13"), 13u);
    EXPECT_FALSE(uart_type_from_name("z80").has_value());
    EXPECT_EQ(uart_type_name(14), "NS16550A");
    EXPECT_EQ(uart_type_name(99), "unknown");
}

}  // namespace
}  // namespace lab
