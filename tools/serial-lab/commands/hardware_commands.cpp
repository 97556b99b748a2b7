// Hardware: the machine preset, chips and boards at their addresses with their interrupt
// wiring, null-modem cables, host endpoints, and the board devices ("serial8250" platform
// devices with their port entries) that tell the driver about them.
#include <algorithm>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "sim/kernel/platform/board_devices.h"
#include "tools/serial-lab/arguments.h"
#include "tools/serial-lab/commands/commands.h"
#include "tools/serial-lab/commands/lookup.h"
#include "tools/serial-lab/lab.h"
#include "tools/serial-lab/machine/line_format_words.h"
#include "tools/serial-lab/machine/port_flag_words.h"
#include "tools/serial-lab/numbers.h"
#include "tools/serial-lab/tokenizer.h"
#include "tools/serial-lab/tty/received_format.h"

namespace lab {
namespace {

constexpr const char* group = "hardware";

std::vector<std::string> split_list(const std::string& text) {
    std::vector<std::string> items;
    std::size_t start = 0;
    while (start <= text.size()) {
        auto end = text.find(',', start);
        if (end == std::string::npos) end = text.size();
        items.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return items;
}

Expected<sim::hw::InterruptWiring> parse_wiring(const Settings& settings) {
    sim::hw::InterruptWiring wiring = sim::hw::InterruptWiring::none();
    const auto irq = settings.text("irq");
    if (irq && *irq != "none") {
        auto line = parse_number(*irq, "irq", sim::hw::interrupt_line_count - 1);
        if (!line) return line.error();
        wiring = sim::hw::InterruptWiring::edge(static_cast<std::uint32_t>(*line));
    }
    if (const auto trigger = settings.text("trigger")) {
        if (*trigger == "level") {
            wiring.trigger = sim::hw::Trigger::level;
        } else if (*trigger != "edge") {
            return error(fmt::format("bad trigger '{}' (edge or level)", *trigger));
        }
        if (!wiring.line) return error("trigger= needs an irq= line");
    }
    return wiring;
}

Expected<std::optional<sim::hw::InterruptGate>> parse_gate(const Settings& settings) {
    const auto gate = settings.text("gate");
    if (!gate) return std::optional<sim::hw::InterruptGate>{};
    if (*gate == "out2") return std::optional{sim::hw::InterruptGate::out2};
    if (*gate == "out1") return std::optional{sim::hw::InterruptGate::out1};
    if (*gate == "none") return std::optional{sim::hw::InterruptGate::none};
    return error(fmt::format("bad gate '{}' (out2, out1 or none)", *gate));
}

// The settings shared by chip add and board add.
Status fill_request(BoardRequest& request, const Settings& settings) {
    const bool memory = request.kind == BoardKind::mmio || request.kind == BoardKind::iirword;
    const char* address_key = memory ? "phys" : "io";
    if (settings.has(memory ? "io" : "phys")) {
        return error(fmt::format("a {} board sits at {}=ADDRESS", board_kind_name(request.kind), address_key));
    }
    if (!settings.has(address_key)) return error(fmt::format("missing {}=ADDRESS", address_key));
    auto base = settings.number(address_key, 0, memory ? UINT64_MAX : 0xffff);
    if (!base) return base.error();
    request.base = *base;
    auto wiring = parse_wiring(settings);
    if (!wiring) return wiring.error();
    request.wiring = *wiring;
    auto clock = settings.optional_number("clock", UINT32_MAX);
    if (!clock) return clock.error();
    if (*clock) request.clock_hz = static_cast<std::uint32_t>(**clock);
    auto shift = settings.number("shift", 0, 4);
    if (!shift) return shift.error();
    if (*shift != 0 && request.kind != BoardKind::mmio) return error("shift= is for mmio boards");
    request.reg_shift = static_cast<unsigned>(*shift);
    auto width = settings.number("width", 1, 4);
    if (!width) return width.error();
    if (*width != 1 && *width != 4) return error("width= is 1 or 4 (bytes)");
    if (*width != 1 && request.kind != BoardKind::mmio) return error("width= is for mmio boards");
    request.width = static_cast<unsigned>(*width);
    auto gate = parse_gate(settings);
    if (!gate) return gate.error();
    request.gate = *gate;
    if (const auto name = settings.text("name")) request.name = *name;
    return ok();
}

Status report_placed(Lab& lab, const std::string& board_name) {
    const PlacedBoard* board = lab.machine().hardware().board(board_name);
    if (board == nullptr) return ok();
    lab.console().print("{}: {} board with {}\n", board->name, board_kind_name(board->kind),
                        fmt::join(board->chips, ", "));
    return ok();
}

Status chip_add(Lab& lab, Arguments arguments) {
    if (arguments.empty()) return error("missing chip model (chip add 16550A io=0x3f8 irq=4)");
    auto settings = Settings::parse(arguments.subspan(1), {"io", "irq", "trigger", "clock", "gate", "name"});
    if (!settings) return settings.error();
    BoardRequest request;
    request.kind = BoardKind::pc;
    request.models = {arguments[0].text};
    if (auto filled = fill_request(request, *settings); !filled) return filled;
    request.chip_names = {request.name};
    auto placed = lab.machine().hardware().add_board(request);
    if (!placed) return placed.error();
    if (request.name.empty()) lab.console().print("{}: {} at io {:#x}\n", *placed, arguments[0].text, request.base);
    return ok();
}

Status board_add(Lab& lab, Arguments arguments) {
    if (arguments.empty()) return error("missing board kind (pc, rsa, fourport, hub6, mmio, iirword)");
    const auto kind = board_kind_from_name(arguments[0].text);
    if (!kind) return error(fmt::format("no board kind '{}' (pc, rsa, fourport, hub6, mmio, iirword)", arguments[0].text));
    auto settings = Settings::parse(arguments.subspan(1), {"io", "phys", "irq", "trigger", "clock", "gate", "name",
                                                          "chip", "chips", "names", "shift", "width"});
    if (!settings) return settings.error();
    BoardRequest request;
    request.kind = *kind;
    if (auto filled = fill_request(request, *settings); !filled) return filled;
    if (settings->has("chip") && settings->has("chips")) return error("give chip= or chips=, not both");
    if (const auto models = settings->text(settings->has("chip") ? "chip" : "chips")) request.models = split_list(*models);
    if (const auto names = settings->text("names")) request.chip_names = split_list(*names);
    auto placed = lab.machine().hardware().add_board(request);
    if (!placed) return placed.error();
    // Names the lab chose are shown: later lines need them.
    if (request.name.empty() || (request.chip_names.empty() && request.kind == BoardKind::fourport) ||
        (request.chip_names.empty() && request.kind == BoardKind::hub6)) {
        return report_placed(lab, *placed);
    }
    return ok();
}

Status remove_hardware(Lab& lab, Arguments arguments) {
    if (auto counted = expect_count(arguments, 1, 1); !counted) return counted;
    Hardware& hardware = lab.machine().hardware();
    // A chip the driver holds as an open port is still in use.
    for (const auto& [line, file] : lab.machine().open_files()) {
        uart_port* port = lab.machine().port(line);
        PlacedChip* chip = port == nullptr ? nullptr : lab.machine().chip_of(*port);
        if (chip == nullptr) continue;
        if (chip->name == arguments[0].text || chip->board == arguments[0].text) {
            return error(fmt::format("ttyS{} is open on {}; close it first", line, chip->name));
        }
    }
    return hardware.remove_board(arguments[0].text);
}

Status chip(Lab& lab, Arguments arguments) {
    if (arguments.empty()) return error("chip add MODEL io=PORT ... | chip remove NAME | chip models");
    const std::string& action = arguments[0].text;
    if (action == "add") return chip_add(lab, arguments.subspan(1));
    if (action == "remove") return remove_hardware(lab, arguments.subspan(1));
    if (action == "models") {
        for (const auto& preset : sim::hw::uart_presets()) {
            lab.console().print("{:<12} {:<16} found as type {} \"{}\"\n", preset.key, preset.features.part, preset.type,
                                preset.type_name);
        }
        lab.console().print("{:<12} {:<16} nothing answers (the bus floats)\n", "none", "empty socket");
        return ok();
    }
    return error(fmt::format("unknown action '{}' (add, remove, models)", action));
}

Status board(Lab& lab, Arguments arguments) {
    if (arguments.empty()) return error("board add KIND ... | board remove NAME");
    const std::string& action = arguments[0].text;
    if (action == "add") return board_add(lab, arguments.subspan(1));
    if (action == "remove") return remove_hardware(lab, arguments.subspan(1));
    return error(fmt::format("unknown action '{}' (add, remove)", action));
}

Expected<std::string> chip_name_of(Lab& lab, const std::string& name) {
    auto found = find_chip(lab, name);
    if (!found) return found.error();
    return (*found)->name;
}

Status cable(Lab& lab, Arguments arguments) {
    if (!arguments.empty() && arguments[0].text == "remove") {
        if (auto counted = expect_count(arguments, 2, 2); !counted) return counted;
        auto name = chip_name_of(lab, arguments[1].text);
        if (!name) return name.error();
        return lab.machine().hardware().remove_cable(*name);
    }
    if (auto counted = expect_count(arguments, 2, 2); !counted) return counted;
    auto first = chip_name_of(lab, arguments[0].text);
    if (!first) return first.error();
    auto second = chip_name_of(lab, arguments[1].text);
    if (!second) return second.error();
    return lab.machine().hardware().connect_cable(*first, *second);
}

Expected<sim::hw::HostSettings> host_settings(const Settings& settings, sim::hw::HostSettings base) {
    auto baud = settings.number("baud", base.baud, 10'000'000);
    if (!baud) return baud.error();
    if (*baud == 0) return error("baud must not be 0");
    base.baud = static_cast<std::uint32_t>(*baud);
    if (const auto format = settings.text("format")) {
        auto parsed = parse_line_format(*format);
        if (!parsed) return parsed.error();
        base.format = *parsed;
    }
    return base;
}

Status host_show_received(Lab& lab, PlacedHost& host) {
    const auto received = host.endpoint->received();
    std::vector<sim::kernel::ReceivedChar> shown;
    for (std::size_t index = host.shown; index < received.size(); ++index) {
        const auto& c = received[index];
        const char flag = c.break_condition ? TTY_BREAK : c.framing_error ? TTY_FRAME : c.parity_error ? TTY_PARITY : TTY_NORMAL;
        shown.push_back({c.data, flag});
    }
    host.shown = received.size();
    lab.console().print("{}: {} byte{}{}{}\n", host.name, shown.size(), shown.size() == 1 ? "" : "s",
                        shown.empty() ? "" : ": ", format_received(shown));
    return ok();
}

Status host(Lab& lab, Arguments arguments) {
    if (arguments.empty()) return error("host attach|detach|send|break|set|lines|read ...");
    const std::string& action = arguments[0].text;
    Hardware& hardware = lab.machine().hardware();
    if (action == "attach") {
        if (arguments.size() < 2) return error("missing chip (host attach com1 [baud=115200] [format=8N1])");
        auto chip_name = chip_name_of(lab, arguments[1].text);
        if (!chip_name) return chip_name.error();
        auto settings = Settings::parse(arguments.subspan(2), {"name", "baud", "format", "flow"});
        if (!settings) return settings.error();
        auto line_settings = host_settings(*settings, {});
        if (!line_settings) return line_settings.error();
        HostRequest request;
        request.name = settings->text("name").value_or("");
        request.chip = *chip_name;
        request.settings = *line_settings;
        const auto flow = settings->text("flow").value_or("none");
        if (flow != "none" && flow != "rts") return error(fmt::format("bad flow '{}' (none or rts)", flow));
        request.honour_rts = flow == "rts";
        auto attached = hardware.attach_host(request);
        if (!attached) return attached.error();
        lab.console().print("{}: on {} at {} {}\n", *attached, *chip_name, request.settings.baud,
                            format_line_format(request.settings.format));
        return ok();
    }
    if (arguments.size() < 2) return error(fmt::format("missing host endpoint (host {} host0 ...)", action));
    PlacedHost* target = hardware.host(arguments[1].text);
    if (target == nullptr) return error(fmt::format("no host endpoint '{}'", arguments[1].text));
    const Arguments rest = arguments.subspan(2);
    if (action == "detach") {
        if (auto counted = expect_count(rest, 0, 0); !counted) return counted;
        return hardware.detach_host(target->name);
    }
    if (action == "send") {
        sim::hw::FrameFault fault = sim::hw::FrameFault::none;
        std::string bytes;
        for (const auto& word : rest) {
            if (!word.quoted && word.text == "--parity-error") {
                fault = sim::hw::FrameFault::parity;
            } else if (!word.quoted && word.text == "--framing-error") {
                fault = sim::hw::FrameFault::framing;
            } else {
                bytes += (bytes.empty() ? "" : " ") + word.text;
            }
        }
        if (bytes.empty()) return error("nothing to send");
        for (unsigned char c : bytes) target->endpoint->send_byte(c, fault);
        return ok();
    }
    if (action == "break") {
        if (auto counted = expect_count(rest, 0, 1); !counted) return counted;
        auto length = rest.empty() ? Expected<sim::hw::Duration>(std::chrono::milliseconds(250)) : parse_duration(rest[0].text);
        if (!length) return length.error();
        target->endpoint->send_break(*length);
        return ok();
    }
    if (action == "set") {
        auto settings = Settings::parse(rest, {"baud", "format", "flow"});
        if (!settings) return settings.error();
        auto line_settings = host_settings(*settings, target->endpoint->settings());
        if (!line_settings) return line_settings.error();
        const auto flow = settings->text("flow");
        if (flow && *flow != "none" && *flow != "rts") return error(fmt::format("bad flow '{}' (none or rts)", *flow));
        target->endpoint->set_settings(*line_settings);
        if (flow) target->endpoint->set_flow_control(*flow == "rts");
        return ok();
    }
    if (action == "lines") {
        auto settings = Settings::parse(rest, {"cts", "dsr", "dcd", "ri"});
        if (!settings) return settings.error();
        const std::array<std::pair<const char*, sim::hw::ModemSignal>, 4> signals{{
            {"cts", sim::hw::ModemSignal::cts}, {"dsr", sim::hw::ModemSignal::dsr},
            {"dcd", sim::hw::ModemSignal::dcd}, {"ri", sim::hw::ModemSignal::ri}}};
        std::vector<std::pair<sim::hw::ModemSignal, bool>> changes;
        for (const auto& [name, signal] : signals) {
            auto value = settings->optional_number(name, 1);
            if (!value) return value.error();
            if (*value) changes.emplace_back(signal, **value == 1);
        }
        for (const auto& [signal, on] : changes) target->endpoint->set_modem_output(signal, on);
        lab.console().print("{}: sees RTS {} DTR {}\n", target->name, target->endpoint->peer_rts() ? "on" : "off",
                            target->endpoint->peer_dtr() ? "on" : "off");
        return ok();
    }
    if (action == "read") {
        if (auto counted = expect_count(rest, 0, 0); !counted) return counted;
        return host_show_received(lab, *target);
    }
    return error(fmt::format("unknown action '{}' (attach, detach, send, break, set, lines, read)", action));
}

// ---- board devices ----

platform_port_entry entry_for_chip(const PlacedChip& chip, std::uint32_t extra_flags, BoardKind kind) {
    platform_port_entry entry{};
    entry.irq_line = chip.wiring.line ? static_cast<std::uint32_t>(*chip.wiring.line) : 0;
    entry.uart_clock_hz = chip.clock_hz;
    entry.reg_shift = static_cast<std::uint8_t>(chip.address.reg_shift);
    entry.access_kind = static_cast<std::uint8_t>(chip.address.access);
    entry.hub6_index = chip.address.hub6_index;
    entry.port_flags = configure_on_add | extra_flags;
    if (chip.address.is_memory()) {
        entry.reg_window_phys = chip.address.base;
        // The driver maps byte-wide windows itself; 32-bit and word-lane windows come mapped
        // by the board code (the lab maps them when it places the device).
        if (chip.address.access == RegisterAccess::mem8) entry.port_flags |= map_on_request;
    } else {
        entry.io_base = chip.address.base;
    }
    if (kind == BoardKind::fourport) entry.port_flags |= four_port;
    return entry;
}

// One explicit entry: "io=0x100,irq=5,clock=1843200,flags=skip_test" and friends.
Expected<platform_port_entry> explicit_entry(const std::string& text) {
    Words words;
    for (auto& item : split_list(text)) words.push_back(Word{item, false});
    auto settings = Settings::parse(words, {"io", "mem", "irq", "clock", "shift", "iotype", "hub6", "flags"});
    if (!settings) return settings.error();
    platform_port_entry entry{};
    auto io = settings->number("io", 0, 0xffffffff);
    if (!io) return io.error();
    auto mem = settings->number("mem", 0);
    if (!mem) return mem.error();
    auto irq = settings->number("irq", 0, 4095);
    if (!irq) return irq.error();
    auto clock = settings->number("clock", 1'843'200, UINT32_MAX);
    if (!clock) return clock.error();
    auto shift = settings->number("shift", 0, 255);
    if (!shift) return shift.error();
    auto hub6 = settings->number("hub6", 0, 255);
    if (!hub6) return hub6.error();
    std::uint32_t flags = configure_on_add;
    if (const auto given = settings->text("flags")) {
        auto parsed = parse_port_flags(*given);
        if (!parsed) return parsed.error();
        flags = *parsed;
    }
    const std::string iotype = settings->text("iotype").value_or(*mem != 0 ? "mem8" : "port");
    static constexpr std::array<std::pair<std::string_view, std::uint8_t>, 6> kinds{{
        {"port", access_port_io}, {"hub6", access_hub6}, {"mem8", access_mem8}, {"mem32", access_mem32},
        {"wide", access_wide_window}, {"mem8quirk", access_mem8_quirk}}};
    const auto kind = std::find_if(kinds.begin(), kinds.end(), [&](const auto& k) { return k.first == iotype; });
    if (kind == kinds.end()) return error(fmt::format("bad iotype '{}' (port, hub6, mem8, mem32, wide, mem8quirk)", iotype));
    if (flags == 0) return error("an entry's flags must not be 0 (0 ends the list)");
    entry.io_base = *io;
    entry.reg_window_phys = *mem;
    entry.irq_line = static_cast<std::uint32_t>(*irq);
    entry.uart_clock_hz = static_cast<std::uint32_t>(*clock);
    entry.reg_shift = static_cast<std::uint8_t>(*shift);
    entry.access_kind = kind->second;
    entry.hub6_index = static_cast<std::uint8_t>(*hub6);
    entry.port_flags = flags;
    return entry;
}

std::string describe_entry(const platform_port_entry& entry) {
    std::string where = entry.reg_window_phys != 0 ? fmt::format("mem {:#x}", entry.reg_window_phys)
                                                    : fmt::format("io {:#x}", entry.io_base);
    return fmt::format("{} irq {} clock {} shift {} iotype {} flags {}", where, entry.irq_line, entry.uart_clock_hz,
                       entry.reg_shift, entry.access_kind, format_port_flags(entry.port_flags));
}

Status platform_add(Lab& lab, Arguments arguments) {
    if (arguments.empty() || arguments[0].text != "serial8250") {
        return error("only \"serial8250\" board devices can be placed (platform add serial8250 ENTRY...)");
    }
    std::uint32_t extra_flags = 0;
    std::vector<platform_port_entry> entries;
    std::vector<std::string> described;
    Hardware& hardware = lab.machine().hardware();
    for (const auto& word : arguments.subspan(1)) {
        if (word.text.starts_with("flags=") && word.text.find(',') == std::string::npos) {
            auto flags = parse_port_flags(word.text.substr(6));
            if (!flags) return flags.error();
            extra_flags |= *flags;
        }
    }
    for (const auto& word : arguments.subspan(1)) {
        const std::string& text = word.text;
        if (text.starts_with("flags=") && text.find(',') == std::string::npos) continue;
        if (text.find('=') != std::string::npos) {
            auto entry = explicit_entry(text);
            if (!entry) return entry.error();
            entries.push_back(*entry);
            described.push_back(text);
            continue;
        }
        std::vector<const PlacedChip*> chips;
        BoardKind kind = BoardKind::pc;
        if (const PlacedBoard* board = hardware.board(text)) {
            kind = board->kind;
            for (const auto& name : board->chips) chips.push_back(hardware.chip(name));
        } else if (PlacedChip* placed = hardware.chip(text)) {
            chips.push_back(placed);
            if (const PlacedBoard* holder = hardware.board(placed->board)) kind = holder->kind;
        } else {
            return error(fmt::format("no chip or board '{}' (or give an entry: io=0x100,irq=5)", text));
        }
        for (const PlacedChip* placed : chips) {
            entries.push_back(entry_for_chip(*placed, extra_flags, kind));
            described.push_back(placed->name);
        }
    }
    if (entries.empty()) return error("no port entries (name chips or boards, or give io=...,irq=... entries)");
    auto& devices = lab.machine().board_devices();
    int id = 0;
    while (std::any_of(devices.begin(), devices.end(),
                       [&](const LabBoardDevice& device) { return device.bus_id == fmt::format("serial8250.{}", id); })) {
        ++id;
    }
    // Windows the driver does not map itself are mapped here, as board set-up code would.
    std::vector<void*> windows;
    auto& mappings = lab.machine().kernel().mappings();
    for (auto& entry : entries) {
        const bool premapped = entry.reg_window_phys != 0 && entry.reg_window == nullptr &&
                               (entry.access_kind == access_mem32 || entry.access_kind == access_mem8_quirk);
        if (!premapped) continue;
        void* window = mappings.map(entry.reg_window_phys, std::size_t{8} << entry.reg_shift);
        if (window == nullptr) {
            for (void* mapped : windows) mappings.unmap(mapped);
            return kernel_refused(fmt::format("cannot map the window at {:#x}", entry.reg_window_phys), -12);
        }
        entry.reg_window = static_cast<unsigned char*>(window);
        windows.push_back(window);
    }
    const auto placed = sim::kernel::add_serial8250_board(lab.machine().kernel(), id, entries);
    if (!placed) {
        for (void* mapped : windows) mappings.unmap(mapped);
        return kernel_refused("cannot add the board device", placed.error);
    }
    devices.push_back(LabBoardDevice{fmt::format("serial8250.{}", id), placed.device, entries, described, windows});
    lab.console().print("serial8250.{}: {} port entr{}\n", id, entries.size(), entries.size() == 1 ? "y" : "ies");
    return ok();
}

Status platform(Lab& lab, Arguments arguments) {
    if (arguments.empty()) return error("platform add serial8250 ENTRY... | platform remove ID | platform list");
    const std::string& action = arguments[0].text;
    auto& devices = lab.machine().board_devices();
    if (action == "add") return platform_add(lab, arguments.subspan(1));
    if (action == "remove") {
        if (auto counted = expect_count(arguments, 2, 2); !counted) return counted;
        const auto found = std::find_if(devices.begin(), devices.end(),
                                        [&](const LabBoardDevice& device) { return device.bus_id == arguments[1].text; });
        if (found == devices.end()) return error(fmt::format("no board device '{}' (see 'platform list')", arguments[1].text));
        sim::kernel::remove_board_device(lab.machine().kernel(), found->device);
        for (void* window : found->windows) lab.machine().kernel().mappings().unmap(window);
        devices.erase(found);
        return ok();
    }
    if (action == "list") {
        if (auto counted = expect_count(arguments, 1, 1); !counted) return counted;
        for (const auto* device : lab.machine().kernel().platform().devices()) {
            const char* driver = device->dev.driver != nullptr ? device->dev.driver->name : "(no driver)";
            lab.console().print("{} bound to {}\n", device->dev.bus_id, driver);
            for (const auto& placed : devices) {
                if (placed.device != device) continue;
                for (std::size_t index = 0; index < placed.entries.size(); ++index) {
                    lab.console().print("  [{}] {}: {}\n", index, placed.described_as[index],
                                        describe_entry(placed.entries[index]));
                }
            }
        }
        return ok();
    }
    return error(fmt::format("unknown action '{}' (add, remove, list)", action));
}

Status machine(Lab& lab, Arguments arguments) {
    if (arguments.empty()) {
        lab.console().print("machine {} at HZ {}, virtual time {}\n", machine_preset_name(lab.machine().preset()),
                            lab.machine().kernel().hz(),
                            format_duration(lab.machine().kernel().now().time_since_epoch()));
        return ok();
    }
    const auto preset = machine_preset_from_name(arguments[0].text);
    if (!preset) return error(fmt::format("no machine '{}' (pc, bare)", arguments[0].text));
    auto settings = Settings::parse(arguments.subspan(1), {"hz"});
    if (!settings) return settings.error();
    auto hz = settings->number("hz", 250, 10000);
    if (!hz) return hz.error();
    if (*hz < 10) return error("hz must be at least 10");
    lab.replace_machine(*preset, static_cast<unsigned>(*hz));
    return ok();
}

Status hardware_listing(Lab& lab, Arguments arguments) {
    if (auto counted = expect_count(arguments, 0, 0); !counted) return counted;
    lab.console().write(lab.machine().hardware().describe());
    for (const auto* placed : lab.machine().hardware().hosts()) {
        const auto& settings = placed->endpoint->settings();
        lab.console().print("{:<8} host endpoint on {} at {} {}\n", placed->name, placed->chip, settings.baud,
                            format_line_format(settings.format));
    }
    for (const auto& device : lab.machine().board_devices()) {
        lab.console().print("{:<8} board device with {}\n", device.bus_id, fmt::join(device.described_as, ", "));
    }
    return ok();
}

}  // namespace

void add_hardware_commands(CommandRegistry& registry) {
    registry.add({.name = "machine",
                  .group = group,
                  .synopsis = "machine [pc|bare] [hz=N]",
                  .summary = "start afresh on a new machine (the lab starts as 'machine pc'), or describe it",
                  .details = "pc:   a legacy PC: com1 a 16550A at 0x3f8 irq 4, com2 a 16550A at 0x2f8 irq 3,\n"
                             "      nothing at 0x3e8 and 0x2e8.\n"
                             "bare: no serial hardware at all.\n"
                             "Everything of the old machine goes: open files, the module, the hardware, the clock.",
                  .example = "machine bare hz=100",
                  .completion = Completion::words,
                  .words = {"pc", "bare"},
                  .run = machine});
    registry.add({.name = "hardware",
                  .group = group,
                  .synopsis = "hardware",
                  .summary = "list the placed chips, boards, cables, host endpoints and board devices",
                  .example = "hardware",
                  .run = hardware_listing});
    registry.add({.name = "chip",
                  .group = group,
                  .synopsis = "chip add MODEL io=PORT [irq=N|none] [trigger=edge|level] [clock=HZ] [name=NAME] | "
                              "chip remove NAME | chip models",
                  .summary = "place a chip on a PC serial card (OUT2 gates its interrupt), or remove it",
                  .details = "MODEL is a preset (see 'chip models'): 8250 16450 16550 16550A ST16650 TI16750\n"
                             "16C950 XR16850 NS16550A XScale ..., or 'none' for an empty socket.\n"
                             "gate=out2|out1|none changes how the card gates the interrupt.",
                  .example = "chip add 16C950 io=0x2e8 irq=3 name=com4\nchip add 16550A io=0x3e8 irq=none",
                  .completion = Completion::words,
                  .words = {"add", "remove", "models"},
                  .run = chip});
    registry.add({.name = "board",
                  .group = group,
                  .synopsis = "board add KIND io=PORT|phys=ADDR [irq=N|none] [trigger=edge|level] [chip=MODEL[,MODEL]] "
                              "[shift=N] [width=1|4] [clock=HZ] [names=A,B] [name=NAME] | board remove NAME",
                  .summary = "place a board with its chips: pc, rsa, fourport, hub6, mmio, iirword",
                  .details = "rsa:      a 16550A with the RSA registers in the 8 ports below it (io= is the UART's)\n"
                             "fourport: four chips at io, io+8, io+0x10, io+0x18 on one line (io a multiple of 0x20)\n"
                             "hub6:     up to six chips behind an index port (chips=16550A,16550A,...)\n"
                             "mmio:     one chip on memory-mapped registers, register n at n << shift,\n"
                             "          byte (width=1) or 32-bit (width=4) access\n"
                             "iirword:  memory-mapped, IIR read in bits 8-15 of a 32-bit word",
                  .example = "board add rsa io=0x100 irq=5\n"
                             "board add mmio phys=0xfe000000 shift=2 width=4 chip=XR16850 irq=5 trigger=level",
                  .completion = Completion::words,
                  .words = {"add", "remove"},
                  .run = board});
    registry.add({.name = "cable",
                  .group = group,
                  .synopsis = "cable CHIP CHIP | cable remove CHIP",
                  .summary = "join two chips with a null-modem cable (TX-RX, RTS-CTS, DTR-DSR/DCD both ways)",
                  .details = "A chip can be named by its name or, once the driver has it, by its ttyS.",
                  .example = "cable com1 com2\ncable ttyS0 ttyS1",
                  .completion = Completion::device,
                  .run = cable});
    registry.add({.name = "host",
                  .group = group,
                  .synopsis = "host attach CHIP [baud=N] [format=8N1] [flow=rts] [name=NAME] | host send|break|set|"
                              "lines|read|detach HOST ...",
                  .summary = "a far end on a chip's line: sends and captures bytes at its own speed and framing",
                  .details = "host send HOST TEXT [--parity-error|--framing-error]   bytes with escapes\n"
                             "host break HOST [DURATION]      hold the line at space (250ms)\n"
                             "host set HOST [baud=N] [format=7E1] [flow=rts|none]\n"
                             "host lines HOST [cts=0|1] [dsr=0|1] [dcd=0|1] [ri=0|1]\n"
                             "host read HOST                  what arrived since the last read",
                  .example = "host attach com1 baud=9600 format=7E1\nhost send host0 \"AT\\r\"\nhost read host0",
                  .completion = Completion::words,
                  .words = {"attach", "detach", "send", "break", "set", "lines", "read"},
                  .run = host});
    registry.add({.name = "platform",
                  .group = group,
                  .synopsis = "platform add serial8250 ENTRY... [flags=F] | platform remove serial8250.N | platform list",
                  .summary = "place a \"serial8250\" board device whose port entries describe chips to the driver",
                  .details = "An ENTRY is a chip or board name (its address, irq, clock, shift and access\n"
                             "kind are taken from it), or io=PORT|mem=ADDR,irq=N,clock=HZ,shift=N,\n"
                             "iotype=port|hub6|mem8|mem32|wide|mem8quirk,hub6=N,flags=F.\n"
                             "Flags: " + port_flag_names() + ", or a number.",
                  .example = "platform add serial8250 mmio0 mmio1\nplatform add serial8250 io=0x100,irq=5,flags=skip_test",
                  .completion = Completion::words,
                  .words = {"add", "remove", "list"},
                  .run = platform});
}

}  // namespace lab
