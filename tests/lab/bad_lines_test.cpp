// Every bad line gets one error line naming the script line, what was wrong and, for a call
// the kernel refused, its error; and the machine is left as it was.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "tests/lab/lab_fixture.h"

namespace lab {
namespace {

struct BadLine {
    std::string line;
    std::string error;  // after "bad.lab:1: "
};

void PrintTo(const BadLine& row, std::ostream* out) { *out << row.line; }

class BadLineTest : public testing::LabTest, public ::testing::WithParamInterface<BadLine> {
protected:
    void SetUp() override { run("cable com1 com2\ninsmod 8250\nopen ttyS0\nstty -F ttyS0 19200 crtscts\n"); }
};

TEST_P(BadLineTest, GivesOneErrorLineAndChangesNothing) {
    const std::string before = snapshot();
    const std::string shown = refusal_of(GetParam().line);
    EXPECT_EQ(shown, "bad.lab:1: " + GetParam().error);
    EXPECT_EQ(shown.find('\n'), std::string::npos) << "more than one line";
    EXPECT_EQ(snapshot(), before);
}

// The snapshot must see what the table says stays the same, or the table proves nothing.
TEST_F(BadLineTest, SnapshotSeesEveryKindOfChange) {
    for (const char* change : {"stty -F ttyS0 9600", "chip add 16550A io=0x3e8 irq=4", "echo 2 > /sys/module/8250/parameters/nr_uarts",
                               "setserial ttyS0 spd_hi", "open ttyS1", "run 1ms"}) {
        const std::string before = snapshot();
        run(change);
        EXPECT_NE(snapshot(), before) << change;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, BadLineTest,
    ::testing::Values(
        BadLine{"frobnicate 1", "frobnicate: unknown command (type 'help' for the list)"},
        BadLine{"echo \"open", "unterminated double quote"},
        BadLine{"insmod 8250", "insmod: could not insert module 8250: module file is already loaded (-17 File exists)"},
        BadLine{"rmmod 8250", "rmmod: could not remove module 8250: Module 8250 is in use (-16 Device or resource busy)"},
        BadLine{"cat /proc/ioports /proc/nope", "cat: /proc/nope (-2 No such file or directory)"},
        BadLine{"echo 1 > /sys/module/8250/parameters/probe_rsa",
                "echo: write error on /sys/module/8250/parameters/probe_rsa (-13 Permission denied)"},
        BadLine{"echo abc > /sys/module/8250/parameters/nr_uarts",
                "echo: write error on /sys/module/8250/parameters/nr_uarts (-22 Invalid argument)"},
        BadLine{"stty -F ttyS0 115201", "stty: invalid speed '115201' (not a standard rate)"},
        // The speed before the bad word is not applied either.
        BadLine{"stty -F ttyS0 115200 -crtscts bogus", "stty: invalid argument 'bogus'"},
        BadLine{"stty -F ttyS9 -a", "stty: cannot open ttyS9 (-6 No such device or address)"},
        BadLine{"stty -F ttyS99", "stty: unknown device 'ttyS99' (ttyS0 to ttyS31)"},
        BadLine{"setserial ttyS0 uart 16551", "setserial: unknown UART type '16551'"},
        BadLine{"setserial ttyS0 irq 5000", "setserial: irq '5000' is out of range (at most 4095)"},
        BadLine{"setserial ttyS0 spd_hi baud_base 100",
                "setserial: /dev/ttyS0: cannot set the serial information (-22 Invalid argument)"},
        BadLine{"write ttyS1 hi", "write: ttyS1 is not open (open ttyS1 first)"},
        BadLine{"modem ttyS0 set DTR CTS", "modem: 'CTS' is not a line the port drives (DTR RTS OUT1 OUT2 LOOP)"},
        BadLine{"modem ttyS0 set RTS clear RTS", "modem: a line cannot be set and cleared at once"},
        BadLine{"break ttyS0 5parsecs", "break: bad time '5parsecs': unknown unit 'parsecs'"},
        BadLine{"open ttyS0", "open: ttyS0 is already open"},
        BadLine{"transfer ttyS0 ttyS1 size=1K", "transfer: ttyS1 is not open (open ttyS1 first)"},
        BadLine{"chip add 16550A io=0x3f8 irq=4", "chip: I/O ports 0x3f8-0x3ff would overlap com1"},
        BadLine{"chip add 16550A io=0x3fc irq=4", "chip: I/O ports 0x3fc-0x403 would overlap com1"},
        BadLine{"chip add 16550A io=0x10000", "chip: io '0x10000' is out of range (at most 0xffff)"},
        BadLine{"chip add 16550A io=0x3e8 irq=4 name=com1", "chip: the name 'com1' is taken"},
        BadLine{"chip remove com1", "chip: ttyS0 is open on com1; close it first"},
        BadLine{"board add mmio phys=0xfe000000 irq=4 trigger=level", "board: irq 4 is edge-triggered for com1"},
        BadLine{"board add fourport io=0x1a8 irq=9", "board: a fourport board sits at a multiple of 0x20, not 0x1a8"},
        BadLine{"board add rsa io=0x340 irq=5 chip=none", "board: an RSA board needs its UART"},
        BadLine{"board add mmio io=0x300", "board: a mmio board sits at phys=ADDRESS"},
        BadLine{"cable com1 com2", "cable: com1 is already connected to com2"},
        BadLine{"cable com1 nothing", "cable: no chip 'nothing' (see 'hardware')"},
        BadLine{"host attach com1", "host: com1 is already connected to com2"},
        BadLine{"platform add serial8250 nothing", "platform: no chip or board 'nothing' (or give an entry: io=0x100,irq=5)"},
        BadLine{"platform add serial8250 io=0x100,irq=5,flags=0", "platform: an entry's flags must not be 0 (0 ends the list)"},
        BadLine{"platform remove serial8250.7", "platform: no board device 'serial8250.7' (see 'platform list')"},
        BadLine{"run 10", "run: time '10' needs a unit (ns, us, ms, s, min)"},
        BadLine{"wait ttyS0 frob", "wait: unknown condition 'frob' (bytes, sent, CTS, DSR, CD, RI)"},
        BadLine{"inb 0x10000", "inb: port '0x10000' is out of range (at most 0xffff)"},
        BadLine{"outb 0x3f8 0x100", "outb: value '0x100' is out of range (at most 0xff)"},
        BadLine{"readl 0xfe000001", "readl: address 0xfe000001 is not aligned to 4 bytes"},
        BadLine{"machine z80", "machine: no machine 'z80' (pc, bare)"}));

// A load the kernel refuses leaves nothing loaded and says why in one line.
class RefusedLoadTest : public testing::LabTest, public ::testing::WithParamInterface<BadLine> {};

TEST_P(RefusedLoadTest, LeavesNothingLoaded) {
    const std::string before = snapshot();
    EXPECT_EQ(refusal_of(GetParam().line, "demo.lab"), "demo.lab:1: " + GetParam().error);
    EXPECT_EQ(snapshot(), before);
    EXPECT_TRUE(lab.machine().kernel().modules().names().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Loads, RefusedLoadTest,
    ::testing::Values(
        BadLine{"insmod 8250 foo=1", "insmod: could not insert module 8250: Unknown parameter `foo' (-22 Invalid argument)"},
        BadLine{"insmod 8250 nr_uarts=abc",
                "insmod: could not insert module 8250: `abc' invalid for parameter `nr_uarts' (-22 Invalid argument)"},
        BadLine{"insmod 8250 probe_rsa=1,2,3,4,5",
                "insmod: could not insert module 8250: `1,2,3,4,5' invalid for parameter `probe_rsa' (-22 Invalid argument)"}));

}  // namespace
}  // namespace lab
