// The module information of a module file: the NUL-terminated "key=value" strings of its
// ".modinfo" section, read from the ELF section headers (any ELF file will do, as for the
// distribution's modinfo tool). A file that is not a sound 64-bit little-endian ELF image is
// refused with a reason; nothing outside the image is ever read.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sim::kernel {

struct ModInfo {
    std::vector<std::pair<std::string, std::string>> entries;  // in file order

    std::vector<std::string> values(std::string_view key) const;
    std::optional<std::string> value(std::string_view key) const;
};

struct ModInfoResult {
    std::optional<ModInfo> info;
    std::string error;  // why the file was refused, when `info` is empty
};

ModInfoResult parse_modinfo(std::span<const std::byte> image);
ModInfoResult read_modinfo(const std::filesystem::path& path);

}  // namespace sim::kernel
