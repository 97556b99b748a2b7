#include "tools/serial-lab/machine/port_flag_words.h"

#include <array>
#include <utility>

#include <fmt/format.h>

#include "drivers/serial/kernel/serial_core.h"
#include "tools/serial-lab/numbers.h"

namespace lab {
namespace {

constexpr std::array<std::pair<std::string_view, std::uint32_t>, 12> flag_words{{
    {"four_port", four_port},
    {"sak_on_break", sak_on_break},
    {"skip_test", skip_test},
    {"irq_autoprobe", irq_autoprobe},
    {"always_modem_irq", always_modem_irq},
    {"no_presence_test", no_presence_test},
    {"skip_txen_test", skip_txen_test},
    {"high_speed_divisors", high_speed_divisors},
    {"wait_flow_at_startup", wait_flow_at_startup},
    {"irq_shared", irq_shared},
    {"configure_on_add", configure_on_add},
    {"map_on_request", map_on_request},
}};

}  // namespace

Expected<std::uint32_t> parse_port_flags(std::string_view text) {
    std::uint32_t flags = 0;
    std::size_t start = 0;
    while (start <= text.size()) {
        auto end = text.find_first_of("|+", start);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view word = text.substr(start, end - start);
        bool known = false;
        for (const auto& [name, value] : flag_words) {
            if (name == word) {
                flags |= value;
                known = true;
            }
        }
        if (!known) {
            auto number = parse_number(word, "flags", UINT32_MAX);
            if (!number) return error(fmt::format("unknown port flag '{}' (known: {})", word, port_flag_names()));
            flags |= static_cast<std::uint32_t>(*number);
        }
        start = end + 1;
    }
    return flags;
}

std::string format_port_flags(std::uint32_t flags) {
    std::string text;
    std::uint32_t rest = flags;
    for (const auto& [name, value] : flag_words) {
        if ((flags & value) == value) {
            text += fmt::format("{}{}", text.empty() ? "" : "|", name);
            rest &= ~value;
        }
    }
    if (rest != 0) text += fmt::format("{}{:#x}", text.empty() ? "" : "|", rest);
    return text.empty() ? "0" : text;
}

std::string port_flag_names() {
    std::string text;
    for (const auto& [name, value] : flag_words) text += fmt::format("{}{}", text.empty() ? "" : ", ", name);
    return text;
}

}  // namespace lab
