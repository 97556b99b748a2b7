#include "tools/serial-lab/numbers.h"

#include <array>
#include <cctype>
#include <span>
#include <charconv>
#include <string>
#include <utility>

#include <fmt/format.h>

namespace lab {
namespace {

struct Unit {
    std::string_view suffix;
    std::uint64_t scale;
};

// Splits "150us" into "150" and "us".
std::pair<std::string_view, std::string_view> split_suffix(std::string_view text) {
    std::size_t pos = 0;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        pos = 2;
        while (pos < text.size() && std::isxdigit(static_cast<unsigned char>(text[pos]))) ++pos;
    } else {
        while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos]))) ++pos;
    }
    return {text.substr(0, pos), text.substr(pos)};
}

Expected<std::uint64_t> with_unit(std::string_view text, std::string_view what,
                                  std::span<const Unit> units, bool unit_required) {
    const auto [digits, suffix] = split_suffix(text);
    if (digits.empty()) return error(fmt::format("bad {} '{}'", what, text));
    auto number = parse_number(digits, what);
    if (!number) return number.error();
    if (suffix.empty() && unit_required) {
        std::string names;
        for (const auto& unit : units) names += fmt::format("{}{}", names.empty() ? "" : ", ", unit.suffix);
        return error(fmt::format("{} '{}' needs a unit ({})", what, text, names));
    }
    std::uint64_t scale = 1;
    if (!suffix.empty()) {
        bool known = false;
        for (const auto& unit : units) {
            if (unit.suffix == suffix) {
                scale = unit.scale;
                known = true;
                break;
            }
        }
        if (!known) return error(fmt::format("bad {} '{}': unknown unit '{}'", what, text, suffix));
    }
    if (*number > UINT64_MAX / scale) return error(fmt::format("{} '{}' is too large", what, text));
    return *number * scale;
}

}  // namespace

Expected<std::uint64_t> parse_number(std::string_view text, std::string_view what,
                                     std::uint64_t max) {
    int base = 10;
    std::string_view digits = text;
    if (digits.size() > 2 && digits[0] == '0') {
        const char marker = static_cast<char>(std::tolower(static_cast<unsigned char>(digits[1])));
        if (marker == 'x') base = 16;
        if (marker == 'b') base = 2;
        if (marker == 'o') base = 8;
        if (base != 10) digits.remove_prefix(2);
    }
    std::uint64_t value = 0;
    const auto* end = digits.data() + digits.size();
    const auto [stop, failure] = std::from_chars(digits.data(), end, value, base);
    if (digits.empty() || failure == std::errc::invalid_argument || stop != end) {
        return error(fmt::format("bad {} '{}'", what, text));
    }
    if (failure == std::errc::result_out_of_range || value > max) {
        // The limit in the notation the user wrote the number in.
        return error(base == 16 ? fmt::format("{} '{}' is out of range (at most {:#x})", what, text, max)
                                : fmt::format("{} '{}' is out of range (at most {})", what, text, max));
    }
    return value;
}

Expected<sim::hw::Duration> parse_duration(std::string_view text) {
    static constexpr std::array<Unit, 5> units{{
        {"ns", 1}, {"us", 1'000}, {"ms", 1'000'000}, {"s", 1'000'000'000}, {"min", 60'000'000'000}}};
    auto nanoseconds = with_unit(text, "time", units, true);
    if (!nanoseconds) return nanoseconds.error();
    if (*nanoseconds > static_cast<std::uint64_t>(INT64_MAX)) {
        return error(fmt::format("time '{}' is too large", text));
    }
    return sim::hw::Duration{static_cast<std::int64_t>(*nanoseconds)};
}

Expected<std::uint64_t> parse_size(std::string_view text) {
    static constexpr std::array<Unit, 5> units{{
        {"B", 1}, {"K", 1024}, {"KiB", 1024}, {"M", 1024 * 1024}, {"MiB", 1024 * 1024}}};
    return with_unit(text, "size", units, false);
}

std::string format_duration(sim::hw::Duration duration) {
    const auto ns = duration.count();
    if (ns < 1'000) return fmt::format("{}ns", ns);
    if (ns < 1'000'000) return fmt::format("{:.1f}us", static_cast<double>(ns) / 1e3);
    if (ns < 1'000'000'000) return fmt::format("{:.3f}ms", static_cast<double>(ns) / 1e6);
    return fmt::format("{:.3f}s", static_cast<double>(ns) / 1e9);
}

}  // namespace lab
