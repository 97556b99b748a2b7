// Raw bus access, as a machine monitor offers it, so a register sequence can be played by hand.
#include <string>

#include <fmt/format.h>

#include "tools/serial-lab/arguments.h"
#include "tools/serial-lab/commands/commands.h"
#include "tools/serial-lab/lab.h"
#include "tools/serial-lab/numbers.h"

namespace lab {
namespace {

constexpr const char* group = "raw bus";

Status inb(Lab& lab, Arguments arguments) {
    if (auto counted = expect_count(arguments, 1, 1); !counted) return counted;
    auto port = parse_number(arguments[0].text, "port", 0xffff);
    if (!port) return port.error();
    const auto value = lab.machine().kernel().bus().inb(static_cast<std::uint16_t>(*port));
    lab.console().print("{:#06x}: {:#04x}\n", *port, value);
    return ok();
}

Status outb(Lab& lab, Arguments arguments) {
    if (auto counted = expect_count(arguments, 2, 2); !counted) return counted;
    auto port = parse_number(arguments[0].text, "port", 0xffff);
    if (!port) return port.error();
    auto value = parse_number(arguments[1].text, "value", 0xff);
    if (!value) return value.error();
    lab.machine().kernel().bus().outb(static_cast<std::uint16_t>(*port), static_cast<std::uint8_t>(*value));
    return ok();
}

template <unsigned Width>
Status read_memory(Lab& lab, Arguments arguments) {
    if (auto counted = expect_count(arguments, 1, 1); !counted) return counted;
    auto address = parse_number(arguments[0].text, "address");
    if (!address) return address.error();
    if (*address % Width != 0) return error(fmt::format("address {:#x} is not aligned to {} bytes", *address, Width));
    const auto value = lab.machine().kernel().bus().read_memory(*address, Width);
    lab.console().print("{:#x}: {:#0{}x}\n", *address, value, 2 + 2 * Width);
    return ok();
}

template <unsigned Width>
Status write_memory(Lab& lab, Arguments arguments) {
    if (auto counted = expect_count(arguments, 2, 2); !counted) return counted;
    auto address = parse_number(arguments[0].text, "address");
    if (!address) return address.error();
    if (*address % Width != 0) return error(fmt::format("address {:#x} is not aligned to {} bytes", *address, Width));
    auto value = parse_number(arguments[1].text, "value", Width == 1 ? 0xff : 0xffffffff);
    if (!value) return value.error();
    lab.machine().kernel().bus().write_memory(*address, Width, static_cast<std::uint32_t>(*value));
    return ok();
}

}  // namespace

void add_bus_commands(CommandRegistry& registry) {
    registry.add({.name = "inb",
                  .group = group,
                  .synopsis = "inb PORT",
                  .summary = "read a byte from an I/O port (a floating port reads 0xff)",
                  .example = "inb 0x3fd",
                  .run = inb});
    registry.add({.name = "outb",
                  .group = group,
                  .synopsis = "outb PORT VALUE",
                  .summary = "write a byte to an I/O port",
                  .example = "outb 0x3fb 0x83",
                  .run = outb});
    registry.add({.name = "readb",
                  .group = group,
                  .synopsis = "readb ADDRESS",
                  .summary = "read a byte at a physical address",
                  .example = "readb 0xfe000014",
                  .run = read_memory<1>});
    registry.add({.name = "writeb",
                  .group = group,
                  .synopsis = "writeb ADDRESS VALUE",
                  .summary = "write a byte at a physical address",
                  .example = "writeb 0xfe00000c 0x03",
                  .run = write_memory<1>});
    registry.add({.name = "readl",
                  .group = group,
                  .synopsis = "readl ADDRESS",
                  .summary = "read a 32-bit word at a physical address",
                  .example = "readl 0xfe000014",
                  .run = read_memory<4>});
    registry.add({.name = "writel",
                  .group = group,
                  .synopsis = "writel ADDRESS VALUE",
                  .summary = "write a 32-bit word at a physical address",
                  .example = "writel 0xfe00000c 0x00000003",
                  .run = write_memory<4>});
}

}  // namespace lab
