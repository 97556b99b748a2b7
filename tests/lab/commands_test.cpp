// The lab's commands against the real module on the simulated machine: what a user types and
// what the tools they know would show.
#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <string>

#include "tests/lab/lab_fixture.h"

namespace lab {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

class CommandsTest : public testing::LabTest {};

std::string run_program(const std::string& command) {
    std::string output;
    FILE* pipe = popen(("( " + command + " ) 2>&1").c_str(), "r");
    if (pipe == nullptr) return output;
    std::array<char, 4096> buffer{};
    std::size_t got = 0;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) output.append(buffer.data(), got);
    pclose(pipe);
    return output;
}

TEST_F(CommandsTest, ModinfoShowsWhatTheDistributionsModinfoShows) {
    const auto module = lab.machine().kernel().modules().resolve("8250");
    ASSERT_TRUE(std::filesystem::exists("/usr/sbin/modinfo")) << "kmod's modinfo is not installed";
    const std::string theirs = run_program("/usr/sbin/modinfo " + module.string());
    EXPECT_EQ(output_of("modinfo 8250"), theirs);
}

TEST_F(CommandsTest, LoadBannerCarriesItsPriorityAndTheClampedCount) {
    run("insmod 8250 nr_uarts=40");
    EXPECT_THAT(output_of("dmesg -r"),
                HasSubstr("<6>[    0.000000] Serial: 8250/16550 driver $Revision: 1.90 $ 32 ports, IRQ sharing enabled\n"));
    run("rmmod 8250\ndmesg -C\ninsmod 8250 share_irqs=0");
    EXPECT_THAT(output_of("dmesg"), HasSubstr("4 ports, IRQ sharing disabled\n"));
}

TEST_F(CommandsTest, LegacyPcHasTwoPortsAndTwoEmptySlots) {
    run("insmod 8250");
    EXPECT_EQ(output_of("setserial ttyS0"), "/dev/ttyS0, UART: 16550A, Port: 0x03f8, IRQ: 4\n");
    EXPECT_EQ(output_of("setserial ttyS1"), "/dev/ttyS1, UART: 16550A, Port: 0x02f8, IRQ: 3\n");
    EXPECT_EQ(output_of("setserial ttyS2"), "/dev/ttyS2, UART: unknown, Port: 0x03e8, IRQ: 4\n");
    EXPECT_EQ(output_of("cat /proc/ioports"), "02f8-02ff : serial\n03f8-03ff : serial\n");
}

TEST_F(CommandsTest, BareMachineFindsNothing) {
    run("machine bare\ninsmod 8250");
    EXPECT_EQ(output_of("hardware"), "no hardware placed\n");
    EXPECT_EQ(output_of("cat /proc/ioports"), "");
    EXPECT_EQ(output_of("inb 0x3fd"), "0x03fd: 0xff\n");
}

TEST_F(CommandsTest, ParameterFilesReadAndWriteAsInSysfs) {
    run("insmod 8250");
    EXPECT_EQ(output_of("cat /sys/module/8250/parameters/nr_uarts"), "4\n");
    run("echo 8 > /sys/module/8250/parameters/nr_uarts");
    EXPECT_EQ(output_of("cat /sys/module/8250/parameters/nr_uarts"), "8\n");
    EXPECT_EQ(output_of("ls /sys/module/8250/parameters"), "nr_uarts\nprobe_rsa\nshare_irqs\n");
}

TEST_F(CommandsTest, BoardDeviceAddsItsPortsAndTakesThemAway) {
    run("board add mmio phys=0xfe000000 shift=2 width=4 chip=XR16850 irq=10 trigger=level name=xr0\n"
        "board add mmio phys=0xfe001000 shift=2 chip=TI16750 irq=11 trigger=level name=ti0\n"
        "platform add serial8250 xr0 ti0\n"
        "insmod 8250 nr_uarts=8");
    const std::string ports = output_of("cat /proc/tty/driver/serial");
    EXPECT_THAT(ports, HasSubstr("4: uart:XR16850 mmio:0xFE000000 irq:10"));
    EXPECT_THAT(ports, HasSubstr("5: uart:TI16750 mmio:0xFE001000 irq:11"));
    // The byte-wide window is the driver's to claim; the 32-bit one comes mapped.
    EXPECT_THAT(output_of("cat /proc/iomem"), HasSubstr("fe001000-fe00101f : serial"));
    // Removal gives the slots back as ports of unknown type; the regions go with the chips.
    run("platform remove serial8250.0");
    EXPECT_THAT(output_of("cat /proc/tty/driver/serial"), HasSubstr("4: uart:unknown mmio:0xFE000000 irq:10\n"));
    EXPECT_EQ(output_of("cat /proc/iomem"), "");
}

TEST_F(CommandsTest, RsaBoardIsFoundThroughProbeRsa) {
    run("board add rsa io=0x100 irq=5 name=rsa0\nplatform add serial8250 rsa0\ninsmod 8250 probe_rsa=0x100");
    EXPECT_THAT(output_of("cat /proc/tty/driver/serial"), HasSubstr("uart:RSA port:00000100 irq:5"));
    EXPECT_THAT(output_of("cat /proc/ioports"), HasSubstr("00f8-00ff : serial-rsa\n0100-0107 : serial\n"));
}

TEST_F(CommandsTest, SttySettingsReachTheChipThroughTheDriver) {
    run("insmod 8250\nopen ttyS0\nstty -F ttyS0 9600 cs7 parenb parodd cstopb");
    EXPECT_THAT(output_of("stty -F ttyS0 -a"), HasSubstr("parenb parodd -cmspar cs7 hupcl cstopb cread clocal -crtscts\n"));
    EXPECT_THAT(output_of("regs com1"), HasSubstr("(9600 bit/s from 1843200 Hz), framing 7O2"));
}

TEST_F(CommandsTest, TraceNamesTheRegistersOfOneChip) {
    run("insmod 8250\ntrace on\nopen ttyS1\nstty -F ttyS1 19200");
    const std::string com2 = output_of("trace show com2");
    EXPECT_THAT(com2, HasSubstr("out    0x02fb     LCR   0x93\n"));
    EXPECT_THAT(com2, HasSubstr("  com2       out    0x02f8     DLL   "));
    EXPECT_THAT(com2, HasSubstr("  com2       in     0x02fd     LSR   "));
    EXPECT_THAT(com2, Not(HasSubstr("com1")));
    EXPECT_EQ(output_of("trace show com2 last 1").size(), com2.substr(com2.rfind('\n', com2.size() - 2) + 1).size());
}

TEST_F(CommandsTest, RawBusReachesRegistersAndFloatingPorts) {
    EXPECT_EQ(output_of("inb 0x3e8"), "0x03e8: 0xff\n");
    run("outb 0x3ff 0x5a");
    EXPECT_EQ(output_of("inb 0x3ff"), "0x03ff: 0x5a\n");  // com1's scratch register
    run("board add mmio phys=0xfe000000 shift=2 width=4 chip=16550A name=m");
    run("writel 0xfe00001c 0x000000a5");
    EXPECT_EQ(output_of("readl 0xfe00001c"), "0xfe00001c: 0x000000a5\n");
    EXPECT_EQ(output_of("readb 0xfd000000"), "0xfd000000: 0xff\n");
}

TEST_F(CommandsTest, NullModemCarriesDataAndModemLines) {
    run("cable com1 com2\ninsmod 8250\nopen ttyS0\nopen ttyS1\nwrite ttyS0 \"hello\\r\\n\"\nwait ttyS1 bytes 7 within 20ms");
    EXPECT_EQ(output_of("read ttyS1"), "ttyS1: 7 bytes: \"hello\\r\\n\"\n");
    EXPECT_EQ(output_of("modem ttyS1"), "ttyS1: DTR RTS -OUT1 OUT2 -LOOP  | CTS DSR CD -RI\n");
    run("modem ttyS0 clear RTS DTR");
    EXPECT_EQ(output_of("modem ttyS1"), "ttyS1: DTR RTS -OUT1 OUT2 -LOOP  | -CTS -DSR -CD -RI\n");
    EXPECT_THAT(output_of("counters ttyS1"), HasSubstr("ttyS1: rx 7 tx 0 "));
}

TEST_F(CommandsTest, HostEndpointSeesFramingErrorsAndBreaks) {
    run("host attach com1 baud=9600 format=7E1\ninsmod 8250\nopen ttyS0\nstty -F ttyS0 9600 cs7 parenb inpck brkint");
    run("host send host0 \"AT\\r\"\nwait ttyS0 bytes 3 within 20ms");
    EXPECT_EQ(output_of("read ttyS0"), "ttyS0: 3 bytes: \"AT\\r\"\n");
    run("host send host0 --parity-error x\nhost break host0 5ms\nrun 20ms");
    EXPECT_EQ(output_of("read ttyS0"), "ttyS0: 2 bytes: [parity 0x78] [break 0x00]\n");
    EXPECT_THAT(output_of("counters ttyS0"), HasSubstr("parity 1 overrun 0 break 1"));
}

TEST_F(CommandsTest, TransferReportsBytesTimeAndUtilisation) {
    run("cable com1 com2\ninsmod 8250\nopen ttyS0\nopen ttyS1\n"
        "stty -F ttyS0 115200 crtscts\nstty -F ttyS1 115200 crtscts");
    const std::string report = output_of("transfer ttyS0 ttyS1 size=16K");
    EXPECT_THAT(report, HasSubstr("  100%      16384 bytes"));
    EXPECT_THAT(report, HasSubstr("sent 16384 bytes, received 16384 bytes, all equal in 1.4"));
    const auto at = report.find("line utilisation ");
    ASSERT_NE(at, std::string::npos) << report;
    EXPECT_GE(std::stod(report.substr(at + 17)), 99.0) << report;
}

TEST_F(CommandsTest, ScriptFilesAreFoundBesideTheScript) {
    const auto folder = std::filesystem::temp_directory_path() / "lab-script-folder";
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "payload.txt") << "from a file";
    std::ofstream(folder / "send.lab") << "cable com1 com2\ninsmod 8250\nopen ttyS0\nopen ttyS1\n"
                                          "write ttyS0 -f payload.txt\nwait ttyS1 bytes 11 within 20ms\nread ttyS1\n";
    captured.output.clear();
    EXPECT_EQ(session.run_script_file(folder / "send.lab"), 0) << captured.errors;
    EXPECT_THAT(captured.output, HasSubstr("ttyS1: 11 bytes: \"from a file\"\n"));
    std::filesystem::remove_all(folder);
}

TEST_F(CommandsTest, WaitThatTimesOutSaysWhatItSaw) {
    run("insmod 8250\nopen ttyS0");
    EXPECT_EQ(refusal_of("wait ttyS0 bytes 1 within 1ms"), "bad.lab:1: wait: ttyS0 bytes 1: not within 1.000ms (0 there)");
}

TEST(Program, CommandStringsRunInOrderAndStopAtTheFirstError) {
    const std::string output = run_program(std::string(SERIAL_LAB_PATH) + " -c 'echo a; nope; echo b' -c 'echo c'; echo status=$?");
    EXPECT_EQ(output, "a\n-c:2: nope: unknown command (type 'help' for the list)\nstatus=1\n");
}

TEST(Program, HelpDescribesEveryCommandWithAnExample) {
    const std::string output = run_program(std::string(SERIAL_LAB_PATH) + " --help");
    for (const char* synopsis : {"insmod MODULE [PARAM=VALUE ...]", "stty -F ttySN [-a] [SETTING...]", "inb PORT",
                                 "transfer FROM TO", "platform add serial8250", "wait CONDITION [within DURATION]"}) {
        EXPECT_THAT(output, HasSubstr(synopsis));
    }
    EXPECT_THAT(output, HasSubstr("e.g. insmod 8250 nr_uarts=8 probe_rsa=0x100"));
}

TEST(Program, ScriptOnStandardInput) {
    const std::string output = run_program("printf 'insmod 8250\\nsetserial ttyS0\\n' | " + std::string(SERIAL_LAB_PATH));
    EXPECT_EQ(output, "/dev/ttyS0, UART: 16550A, Port: 0x03f8, IRQ: 4\n");
}

}  // namespace
}  // namespace lab
