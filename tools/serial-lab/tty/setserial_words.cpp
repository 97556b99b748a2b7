#include "tools/serial-lab/tty/setserial_words.h"

#include <algorithm>
#include <array>
#include <cctype>

#include <fmt/format.h>

#include "tools/serial-lab/numbers.h"

namespace lab {
namespace {

// The driver's type names, indexed by type number.
constexpr std::array<std::string_view, 16> type_names{
    "unknown", "8250",       "16450",   "16550",   "16550A", "Cirrus",
    "ST16650", "ST16650V2",  "TI16750", "Startech", "16C950/954", "ST16654",
    "XR16850", "RSA",        "NS16550A", "XScale"};

struct FlagName {
    std::string_view name;
    std::uint32_t mask;
};

// The low fifteen bits keep the names setserial gives them; the higher bits are this kernel's
// own port flags and carry its names.
constexpr std::array<FlagName, 18> flag_names{{
    {"hup_notify", 0x0001},      {"fourport", 0x0002},        {"sak", 0x0004},
    {"split_termios", 0x0008},   {"skip_test", 0x0040},       {"auto_irq", 0x0080},
    {"session_lockout", 0x0100}, {"pgrp_lockout", 0x0200},    {"callout_nohup", 0x0400},
    {"hardpps_cd", 0x0800},      {"low_latency", 0x2000},     {"buggy_uart", 0x4000},
    {"skip_txen_test", 0x8000},  {"high_speed_divisors", 0x10000},
    {"wait_flow_at_startup", 0x800000}, {"irq_shared", 0x1000000},
    {"configure_on_add", 0x10000000},   {"map_on_request", 0x80000000},
}};

constexpr std::uint32_t speed_mask = 0x1030;

struct SpeedName {
    std::string_view name;
    std::uint32_t bits;
};
constexpr std::array<SpeedName, 6> speed_names{{
    {"spd_normal", 0x0000}, {"spd_hi", 0x0010}, {"spd_vhi", 0x0020},
    {"spd_shi", 0x1000},    {"spd_warp", 0x1010}, {"spd_cust", 0x0030}}};

const FlagName* find_flag(std::string_view name) {
    for (const auto& flag : flag_names) {
        if (flag.name == name) return &flag;
    }
    return nullptr;
}

std::string lower(std::string_view text) {
    std::string result(text);
    for (char& c : result) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return result;
}

}  // namespace

bool SerialInfoChange::changes_settings() const {
    return port || irq || type || baud_base || custom_divisor || close_delay || closing_wait ||
           flags_to_set != 0 || flags_to_clear != 0;
}

SerialInfo SerialInfoChange::applied_to(SerialInfo info) const {
    if (port) info.port = *port;
    if (irq) info.irq = *irq;
    if (type) info.type = *type;
    if (baud_base) info.baud_base = *baud_base;
    if (custom_divisor) info.custom_divisor = *custom_divisor;
    if (close_delay) info.close_delay = *close_delay;
    if (closing_wait) info.closing_wait = *closing_wait;
    info.flags = (info.flags & ~flags_to_clear) | flags_to_set;
    return info;
}

std::optional<std::uint32_t> uart_type_from_name(std::string_view name) {
    const std::string wanted = lower(name);
    if (wanted == "none" || wanted == "unknown") return 0;
    for (std::uint32_t type = 1; type < type_names.size(); ++type) {
        const std::string known = lower(type_names[type]);
        // "16c950" names the 16C950/954 too, as setserial users write it.
        if (wanted == known || (known.find('/') != std::string::npos && wanted == known.substr(0, known.find('/')))) {
            return type;
        }
    }
    if (auto number = parse_number(name, "uart", 255)) return static_cast<std::uint32_t>(*number);
    return std::nullopt;
}

std::string_view uart_type_name(std::uint32_t type) {
    return type < type_names.size() ? type_names[type] : type_names[0];
}

Expected<SerialInfoChange> parse_setserial_words(Arguments words) {
    SerialInfoChange change;
    for (std::size_t index = 0; index < words.size(); ++index) {
        const std::string& word = words[index].text;
        const auto value = [&](std::uint64_t max) -> Expected<std::uint64_t> {
            if (index + 1 >= words.size()) return error(fmt::format("missing value after '{}'", word));
            return parse_number(words[++index].text, word, max);
        };
        if (word == "port") {
            auto number = value(0xffff);
            if (!number) return number.error();
            change.port = static_cast<std::uint32_t>(*number);
        } else if (word == "irq") {
            auto number = value(4095);
            if (!number) return number.error();
            change.irq = static_cast<int>(*number);
        } else if (word == "uart") {
            if (index + 1 >= words.size()) return error("missing value after 'uart'");
            const std::string& name = words[++index].text;
            const auto type = uart_type_from_name(name);
            if (!type) return error(fmt::format("unknown UART type '{}'", name));
            change.type = *type;
        } else if (word == "baud_base") {
            auto number = value(UINT32_MAX);
            if (!number) return number.error();
            change.baud_base = static_cast<std::uint32_t>(*number);
        } else if (word == "divisor") {
            auto number = value(INT32_MAX);
            if (!number) return number.error();
            change.custom_divisor = static_cast<std::int32_t>(*number);
        } else if (word == "close_delay") {
            auto number = value(0xffff);
            if (!number) return number.error();
            change.close_delay = static_cast<std::uint32_t>(*number);
        } else if (word == "closing_wait") {
            auto number = value(0xffff);
            if (!number) return number.error();
            change.closing_wait = static_cast<std::uint32_t>(*number);
        } else if (const auto speed = std::find_if(speed_names.begin(), speed_names.end(),
                                                   [&](const SpeedName& s) { return s.name == word; });
                   speed != speed_names.end()) {
            change.flags_to_clear |= speed_mask;
            change.flags_to_set = (change.flags_to_set & ~speed_mask) | speed->bits;
        } else {
            const bool clear = word.starts_with('^') || word.starts_with('-');
            const FlagName* flag = find_flag(clear ? std::string_view(word).substr(1) : word);
            if (flag == nullptr) return error(fmt::format("unknown word '{}'", word));
            if (clear) {
                change.flags_to_clear |= flag->mask;
                change.flags_to_set &= ~flag->mask;
            } else {
                change.flags_to_set |= flag->mask;
                change.flags_to_clear &= ~flag->mask;
            }
        }
    }
    return change;
}

std::string format_serial_flags(std::uint32_t flags) {
    std::string text;
    const auto add = [&](std::string_view name) { text += fmt::format("{}{}", text.empty() ? "" : " ", name); };
    for (const auto& speed : speed_names) {
        if ((flags & speed_mask) == speed.bits) add(speed.name);
    }
    for (const auto& flag : flag_names) {
        if ((flags & flag.mask) == flag.mask) add(flag.name);
    }
    return text;
}

std::string format_setserial(const SerialInfo& info, SetserialReport style) {
    const std::string device = fmt::format("/dev/ttyS{}", info.line);
    switch (style) {
        case SetserialReport::plain:
            return fmt::format("{}, UART: {}, Port: {:#06x}, IRQ: {}\n", device, info.type_name, info.port, info.irq);
        case SetserialReport::all:
            return fmt::format(
                "{}, Line {}, UART: {}, Port: {:#06x}, IRQ: {}\n"
                "\tBaud_base: {}, close_delay: {}, divisor: {}\n"
                "\tclosing_wait: {}\n"
                "\tFlags: {}\n\n",
                device, info.line, info.type_name, info.port, info.irq, info.baud_base, info.close_delay,
                info.custom_divisor, info.closing_wait, format_serial_flags(info.flags));
        case SetserialReport::gets:
            return fmt::format("{} uart {} port {:#06x} irq {} baud_base {} {}\n", device, info.type_name,
                               info.port, info.irq, info.baud_base, format_serial_flags(info.flags));
        case SetserialReport::boot:
            return fmt::format("{} at {:#06x} (irq = {}) is a {}\n", device, info.port, info.irq, info.type_name);
    }
    return {};
}

}  // namespace lab
