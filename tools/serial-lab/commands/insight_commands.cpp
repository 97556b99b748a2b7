// Insight: the bus trace of a chip's register accesses by register name with virtual time
// stamps, a chip's registers, and the port record the driver keeps for a ttyS.
#include <string>

#include <fmt/format.h>

#include "drivers/serial/8250/8250.h"
#include "tools/serial-lab/arguments.h"
#include "tools/serial-lab/commands/commands.h"
#include "tools/serial-lab/commands/lookup.h"
#include "tools/serial-lab/lab.h"
#include "tools/serial-lab/machine/line_format_words.h"
#include "tools/serial-lab/machine/port_flag_words.h"
#include "tools/serial-lab/numbers.h"
#include "tools/serial-lab/tty/setserial_words.h"

namespace lab {
namespace {

constexpr const char* group = "insight";

std::string seconds_text(sim::hw::TimePoint time) {
    const auto ns = time.time_since_epoch().count();
    return fmt::format("{}.{:09}", ns / 1'000'000'000, ns % 1'000'000'000);
}

std::string access_word(const sim::hw::BusAccess& access) {
    switch (access.kind) {
        case sim::hw::AccessKind::io_read: return "in";
        case sim::hw::AccessKind::io_write: return "out";
        case sim::hw::AccessKind::mem_read: return access.width == 4 ? "readl" : "readb";
        case sim::hw::AccessKind::mem_write: return access.width == 4 ? "writel" : "writeb";
    }
    return "?";
}

// Whether an access reached `chip`: its board's claim, and for boards that hold several chips
// on separate addresses, the chip's own registers.
bool reaches(const sim::hw::BusAccess& access, const PlacedChip& chip, const PlacedBoard* board) {
    if (access.device != chip.board) return false;
    if (board == nullptr || board->chips.size() == 1 || chip.address.access == RegisterAccess::hub6) return true;
    return access.address >= chip.address.base && access.address < chip.address.base + (8u << chip.address.reg_shift);
}

Status trace(Lab& lab, Arguments arguments) {
    auto& bus = lab.machine().kernel().bus();
    const std::string action = arguments.empty() ? "show" : arguments[0].text;
    if (action == "on") {
        if (auto counted = expect_count(arguments, 1, 1); !counted) return counted;
        bus.clear_trace();
        bus.set_tracing(true);
        return ok();
    }
    if (action == "off") {
        if (auto counted = expect_count(arguments, 1, 1); !counted) return counted;
        bus.set_tracing(false);
        return ok();
    }
    if (action == "clear") {
        if (auto counted = expect_count(arguments, 1, 1); !counted) return counted;
        bus.clear_trace();
        return ok();
    }
    if (action != "show") return error(fmt::format("unknown action '{}' (on, off, show, clear)", action));
    const PlacedChip* only = nullptr;
    std::size_t last = SIZE_MAX;
    const Arguments rest = arguments.empty() ? arguments : arguments.subspan(1);
    for (std::size_t index = 0; index < rest.size(); ++index) {
        if (rest[index].text == "last") {
            if (index + 1 >= rest.size()) return error("'last' needs a count");
            auto count = parse_number(rest[++index].text, "count");
            if (!count) return count.error();
            last = *count;
        } else if (only == nullptr) {
            auto chip = find_chip(lab, rest[index].text);
            if (!chip) return chip.error();
            only = *chip;
        } else {
            return error(fmt::format("unexpected argument '{}'", rest[index].text));
        }
    }
    if (!bus.tracing() && bus.trace().empty()) return error("the trace is off (trace on)");
    const PlacedBoard* board = only == nullptr ? nullptr : lab.machine().hardware().board(only->board);
    std::vector<const sim::hw::BusAccess*> shown;
    for (const auto& access : bus.trace()) {
        if (only != nullptr && !reaches(access, *only, board)) continue;
        shown.push_back(&access);
    }
    const std::size_t first = shown.size() > last ? shown.size() - last : 0;
    std::string text;
    for (std::size_t index = first; index < shown.size(); ++index) {
        const auto& access = *shown[index];
        const bool memory = access.kind == sim::hw::AccessKind::mem_read || access.kind == sim::hw::AccessKind::mem_write;
        text += fmt::format("{:>14}  {:<10} {:<6} {:<10} {:<5} {}\n", seconds_text(access.time),
                            access.device.empty() ? "-" : access.device, access_word(access),
                            memory ? fmt::format("{:#x}", access.address) : fmt::format("{:#06x}", access.address),
                            access.register_name.empty() ? "-" : access.register_name,
                            access.width == 4 ? fmt::format("{:#010x}", access.value) : fmt::format("{:#04x}", access.value));
    }
    lab.console().write(text);
    return ok();
}

Status registers(Lab& lab, Arguments arguments) {
    if (auto counted = expect_count(arguments, 1, 1); !counted) return counted;
    auto found = find_chip(lab, arguments[0].text);
    if (!found) return found.error();
    const PlacedChip& placed = **found;
    if (!placed.chip) {
        lab.console().print("{}: empty socket, every register reads 0xff\n", placed.name);
        return ok();
    }
    const sim::hw::UartChip& chip = *placed.chip;
    std::string line = fmt::format("{} ({}):", placed.name, chip.features().part);
    for (unsigned reg = 0; reg < sim::hw::uart_reg::count; ++reg) {
        line += fmt::format(" {} {:#04x}", chip.register_name(reg, false), chip.peek(reg));
    }
    lab.console().print("{}\n", line);
    const unsigned divisor = chip.divisor();
    const auto rate = divisor == 0 ? 0.0 : static_cast<double>(chip.input_clock()) / (16.0 * divisor);
    lab.console().print("  divisor {:#06x} ({:.0f} bit/s from {} Hz), framing {}, EFR {:#04x}{}{}{}\n", divisor, rate,
                        chip.input_clock(), format_line_format(chip.line_format()), chip.efr(),
                        chip.loopback() ? ", loopback" : "", chip.break_active() ? ", break" : "",
                        chip.asleep() ? ", asleep" : "");
    lab.console().print("  FIFO {} (depth {}, receive trigger {}), receive FIFO {} bytes, transmit FIFO {} bytes{}\n",
                        chip.fifo_enabled() ? "on" : "off", chip.fifo_depth(), chip.rx_trigger_level(), chip.rx_level(),
                        chip.tx_level(), chip.transmitter_busy() ? ", shifting" : "");
    lab.console().print("  interrupt output {}, RTS {} DTR {} OUT1 {} OUT2 {}\n", chip.interrupt_output() ? "high" : "low",
                        chip.rts_output() ? "on" : "off", chip.dtr_output() ? "on" : "off", chip.out1() ? "on" : "off",
                        chip.out2() ? "on" : "off");
    return ok();
}

std::string_view access_kind_name(std::uint8_t kind) {
    switch (kind) {
        case access_port_io: return "port";
        case access_hub6: return "hub6";
        case access_mem8: return "mem8";
        case access_mem32: return "mem32";
        case access_wide_window: return "wide window";
        case access_mem8_quirk: return "mem8 quirk";
        default: return "?";
    }
}

Status port_record(Lab& lab, Arguments arguments) {
    if (auto counted = expect_count(arguments, 1, 1); !counted) return counted;
    auto line = parse_tty(arguments[0].text);
    if (!line) return line.error();
    uart_port* port = lab.machine().port(*line);
    if (port == nullptr) return error(fmt::format("ttyS{} has no port (is the driver loaded?)", *line));
    // The driver's record holds the generic part first; its own fields follow.
    const serial8250_uart& uart = *to_uart(port);
    lab.console().print("ttyS{}: type {} \"{}\", {} access\n", port->line_index, port->uart_type,
                        uart_type_name(port->uart_type), access_kind_name(port->access_kind));
    lab.console().print("  io_base {:#x}, reg_window_phys {:#x}, window {}, reg_shift {}, hub6_index {}\n", port->io_base,
                        port->reg_window_phys, port->reg_window == nullptr ? "not mapped" : "mapped", port->reg_shift,
                        port->hub6_index);
    lab.console().print("  irq {}, clock {} Hz, fifo_depth {}, tx_load_size {}, fifo_timeout {} ticks\n", port->irq_line,
                        port->uart_clock_hz, port->fifo_depth, uart.tx_load_size, port->fifo_timeout);
    lab.console().print("  port_flags {:#010x} {}\n", port->port_flags, format_port_flags(port->port_flags));
    lab.console().print("  cap_flags {:#06x}, quirk_flags {:#06x}, modem_ctrl {:#x}\n", uart.cap_flags, uart.quirk_flags,
                        port->modem_ctrl);
    lab.console().print("  shadows: IER {:#04x} LCR {:#04x} MCR {:#04x} ACR {:#04x}, mcr_mask {:#04x} mcr_force {:#04x}\n",
                        uart.ier_shadow, uart.lcr_shadow, uart.mcr_shadow, uart.acr_shadow, uart.mcr_mask, uart.mcr_force);
    lab.console().print("  rx_status_mask {:#04x}, rx_ignore_mask {:#04x}, {}\n", port->rx_status_mask, port->rx_ignore_mask,
                        port->core_state == nullptr ? "closed" : "open");
    return ok();
}

}  // namespace

void add_insight_commands(CommandRegistry& registry) {
    registry.add({.name = "trace",
                  .group = group,
                  .synopsis = "trace on|off|clear | trace [show] [CHIP|ttySN] [last N]",
                  .summary = "record bus accesses; show them by register name with virtual time stamps",
                  .example = "trace on\nopen ttyS0\ntrace show com1 last 20",
                  .completion = Completion::words,
                  .words = {"on", "off", "clear", "show"},
                  .run = trace});
    registry.add({.name = "regs",
                  .group = group,
                  .synopsis = "regs CHIP|ttySN",
                  .summary = "show a chip's registers (read without side effects) and what they mean",
                  .example = "regs com1\nregs ttyS1",
                  .completion = Completion::device,
                  .run = registers});
    registry.add({.name = "port",
                  .group = group,
                  .synopsis = "port ttySN",
                  .summary = "show the driver's port record of a ttyS",
                  .example = "port ttyS0",
                  .completion = Completion::device,
                  .run = port_record});
}

}  // namespace lab
