#include "tools/serial-lab/machine/line_format_words.h"

#include <cctype>

#include <fmt/format.h>

namespace lab {

Expected<sim::hw::LineFormat> parse_line_format(std::string_view text) {
    const auto bad = [&] { return error(fmt::format("bad framing '{}' (e.g. 8N1, 7E1, 8O2, 5N1.5)", text)); };
    if (text.size() < 3 || text[0] < '5' || text[0] > '8') return bad();
    sim::hw::LineFormat format;
    format.data_bits = static_cast<std::uint8_t>(text[0] - '0');
    switch (std::toupper(static_cast<unsigned char>(text[1]))) {
        case 'N': format.parity = sim::hw::Parity::none; break;
        case 'E': format.parity = sim::hw::Parity::even; break;
        case 'O': format.parity = sim::hw::Parity::odd; break;
        case 'M': format.parity = sim::hw::Parity::mark; break;
        case 'S': format.parity = sim::hw::Parity::space; break;
        default: return bad();
    }
    const std::string_view stop = text.substr(2);
    if (stop == "1") {
        format.stop_half_bits = 2;
    } else if (stop == "1.5") {
        format.stop_half_bits = 3;
    } else if (stop == "2") {
        format.stop_half_bits = 4;
    } else {
        return bad();
    }
    return format;
}

std::string format_line_format(const sim::hw::LineFormat& format) {
    static constexpr char parity_letters[] = {'N', 'O', 'E', 'M', 'S'};
    const char* stop = format.stop_half_bits == 2 ? "1" : format.stop_half_bits == 3 ? "1.5" : "2";
    return fmt::format("{}{}{}", format.data_bits, parity_letters[static_cast<int>(format.parity)], stop);
}

}  // namespace lab
