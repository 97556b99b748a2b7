#include "sim/kernel/module/param_parse.h"

namespace sim::kernel {

std::vector<ParamArgument> split_param_string(std::string_view text) {
    std::vector<ParamArgument> arguments;
    std::size_t at = 0;
    const auto is_space = [](char c) { return c == ' ' || c == '\t' || c == '\n'; };
    while (at < text.size()) {
        while (at < text.size() && is_space(text[at])) ++at;
        if (at == text.size()) break;
        std::string word;
        bool quoted = false;
        bool has_equals = false;
        std::size_t equals = 0;
        for (; at < text.size(); ++at) {
            const char c = text[at];
            if (c == '"') {
                quoted = !quoted;
                continue;
            }
            if (!quoted && is_space(c)) break;
            if (c == '=' && !has_equals) {
                has_equals = true;
                equals = word.size();
            }
            word += c;
        }
        ParamArgument argument;
        if (has_equals) {
            argument.name = word.substr(0, equals);
            argument.value = word.substr(equals + 1);
        } else {
            argument.name = word;
        }
        arguments.push_back(std::move(argument));
    }
    return arguments;
}

bool param_names_equal(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const char x = a[i] == '-' ? '_' : a[i];
        const char y = b[i] == '-' ? '_' : b[i];
        if (x != y) return false;
    }
    return true;
}

std::optional<std::uint64_t> parse_unsigned(std::string_view text, std::uint64_t max) {
    if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
    if (text.empty()) return std::nullopt;
    unsigned base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    } else if (text.size() > 1 && text[0] == '0') {
        base = 8;
        text.remove_prefix(1);
    }
    std::uint64_t value = 0;
    for (const char c : text) {
        unsigned digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        } else {
            return std::nullopt;
        }
        if (digit >= base) return std::nullopt;
        if (value > (max - digit) / base) return std::nullopt;
        value = value * base + digit;
    }
    return value;
}

}  // namespace sim::kernel
