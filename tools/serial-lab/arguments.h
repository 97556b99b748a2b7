// Checking a command's words before anything is done: counts, key=value settings, numbers.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "tools/serial-lab/command_registry.h"
#include "tools/serial-lab/status.h"

namespace lab {

// Fails unless there are between `least` and `most` words.
Status expect_count(Arguments arguments, std::size_t least, std::size_t most);

// key=value words, each key at most once and among `known`.
class Settings {
public:
    static Expected<Settings> parse(Arguments arguments, std::initializer_list<std::string_view> known);

    bool has(std::string_view key) const { return values_.contains(key); }
    std::optional<std::string> text(std::string_view key) const;
    // The number under `key`, `fallback` when absent.
    Expected<std::uint64_t> number(std::string_view key, std::uint64_t fallback,
                                   std::uint64_t max = UINT64_MAX) const;
    Expected<std::optional<std::uint64_t>> optional_number(std::string_view key,
                                                           std::uint64_t max = UINT64_MAX) const;

private:
    std::map<std::string, std::string, std::less<>> values_;
};

}  // namespace lab
