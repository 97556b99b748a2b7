#include "tools/serial-lab/commands/lookup.h"

#include <fmt/format.h>

#include "tools/serial-lab/numbers.h"

namespace lab {

bool looks_like_tty(std::string_view name) {
    return name.starts_with("ttyS") || name.starts_with("/dev/ttyS");
}

Expected<unsigned> parse_tty(std::string_view name) {
    std::string_view rest = name;
    if (rest.starts_with("/dev/")) rest.remove_prefix(5);
    if (!rest.starts_with("ttyS") || rest.size() == 4) return error(fmt::format("unknown device '{}'", name));
    rest.remove_prefix(4);
    auto number = parse_number(rest, "device", lab_tty_lines - 1);
    if (!number || (rest.size() > 1 && rest[0] == '0')) {
        return error(fmt::format("unknown device '{}' (ttyS0 to ttyS{})", name, lab_tty_lines - 1));
    }
    return static_cast<unsigned>(*number);
}

Expected<sim::kernel::FileHandle> open_file_of(Lab& lab, std::string_view name) {
    auto line = parse_tty(name);
    if (!line) return line.error();
    if (auto held = lab.machine().open_file(*line)) return *held;
    return error(fmt::format("ttyS{} is not open (open ttyS{} first)", *line, *line));
}

Expected<PlacedChip*> find_chip(Lab& lab, std::string_view name) {
    if (looks_like_tty(name)) {
        auto line = parse_tty(name);
        if (!line) return line.error();
        uart_port* port = lab.machine().port(*line);
        if (port == nullptr) return error(fmt::format("ttyS{} has no port (is the driver loaded?)", *line));
        PlacedChip* chip = lab.machine().chip_of(*port);
        if (chip == nullptr) return error(fmt::format("no chip was placed where ttyS{} points", *line));
        return chip;
    }
    PlacedChip* chip = lab.machine().hardware().chip(name);
    if (chip == nullptr) return error(fmt::format("no chip '{}' (see 'hardware')", name));
    return chip;
}

}  // namespace lab
