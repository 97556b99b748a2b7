#include "tools/serial-lab/arguments.h"

#include <fmt/format.h>

#include "tools/serial-lab/numbers.h"

namespace lab {

Status expect_count(Arguments arguments, std::size_t least, std::size_t most) {
    if (arguments.size() < least) return error("missing argument (see 'help')");
    if (arguments.size() > most) {
        return error(fmt::format("unexpected argument '{}'", arguments[most].text));
    }
    return ok();
}

Expected<Settings> Settings::parse(Arguments arguments, std::initializer_list<std::string_view> known) {
    Settings settings;
    for (const auto& word : arguments) {
        const auto equals = word.text.find('=');
        if (equals == std::string::npos || equals == 0) {
            return error(fmt::format("expected KEY=VALUE, got '{}'", word.text));
        }
        const std::string key = word.text.substr(0, equals);
        bool is_known = false;
        std::string names;
        for (auto name : known) {
            is_known = is_known || name == key;
            names += fmt::format("{}{}", names.empty() ? "" : ", ", name);
        }
        if (!is_known) return error(fmt::format("unknown setting '{}' (known: {})", key, names));
        if (settings.values_.contains(key)) return error(fmt::format("'{}' given twice", key));
        settings.values_.emplace(key, word.text.substr(equals + 1));
    }
    return settings;
}

std::optional<std::string> Settings::text(std::string_view key) const {
    const auto found = values_.find(key);
    if (found == values_.end()) return std::nullopt;
    return found->second;
}

Expected<std::uint64_t> Settings::number(std::string_view key, std::uint64_t fallback,
                                         std::uint64_t max) const {
    const auto found = values_.find(key);
    if (found == values_.end()) return fallback;
    return parse_number(found->second, key, max);
}

Expected<std::optional<std::uint64_t>> Settings::optional_number(std::string_view key,
                                                                 std::uint64_t max) const {
    const auto found = values_.find(key);
    if (found == values_.end()) return std::optional<std::uint64_t>{};
    auto value = parse_number(found->second, key, max);
    if (!value) return value.error();
    return std::optional<std::uint64_t>{*value};
}

}  // namespace lab
