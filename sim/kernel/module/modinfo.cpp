#include "sim/kernel/module/modinfo.h"

#include <elf.h>

#include <cstring>
#include <fstream>
#include <iterator>

namespace sim::kernel {
namespace {

ModInfoResult refuse(std::string reason) { return ModInfoResult{std::nullopt, std::move(reason)}; }

template <typename T>
bool read_at(std::span<const std::byte> image, std::uint64_t offset, T& out) {
    if (offset > image.size() || image.size() - offset < sizeof(T)) return false;
    std::memcpy(&out, image.data() + offset, sizeof(T));
    return true;
}

}  // namespace

std::vector<std::string> ModInfo::values(std::string_view key) const {
    std::vector<std::string> found;
    for (const auto& [k, v] : entries) {
        if (k == key) found.push_back(v);
    }
    return found;
}

std::optional<std::string> ModInfo::value(std::string_view key) const {
    for (const auto& [k, v] : entries) {
        if (k == key) return v;
    }
    return std::nullopt;
}

ModInfoResult parse_modinfo(std::span<const std::byte> image) {
    Elf64_Ehdr header{};
    if (!read_at(image, 0, header) || std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0) {
        return refuse("not an ELF file");
    }
    if (header.e_ident[EI_CLASS] != ELFCLASS64 || header.e_ident[EI_DATA] != ELFDATA2LSB) {
        return refuse("not a 64-bit little-endian ELF file");
    }
    if (header.e_shoff == 0 || header.e_shentsize != sizeof(Elf64_Shdr)) {
        return refuse("no section headers");
    }
    Elf64_Shdr first{};
    if (!read_at(image, header.e_shoff, first)) return refuse("section headers outside the file");
    // Past 0xff00 sections the counts live in the first section header.
    const std::uint64_t count = header.e_shnum != 0 ? header.e_shnum : first.sh_size;
    const std::uint64_t names_index =
        header.e_shstrndx != SHN_XINDEX ? header.e_shstrndx : first.sh_link;
    if (count > (image.size() - header.e_shoff) / sizeof(Elf64_Shdr)) {
        return refuse("section headers outside the file");
    }
    if (names_index >= count) return refuse("no section name table");
    Elf64_Shdr names{};
    read_at(image, header.e_shoff + names_index * sizeof(Elf64_Shdr), names);
    if (names.sh_type == SHT_NOBITS || names.sh_offset > image.size() ||
        names.sh_size > image.size() - names.sh_offset) {
        return refuse("section name table outside the file");
    }
    const std::string_view name_table(reinterpret_cast<const char*>(image.data()) + names.sh_offset,
                                      names.sh_size);
    for (std::uint64_t i = 0; i < count; ++i) {
        Elf64_Shdr section{};
        read_at(image, header.e_shoff + i * sizeof(Elf64_Shdr), section);
        if (section.sh_name >= name_table.size()) continue;
        const std::string_view rest = name_table.substr(section.sh_name);
        const std::string_view name = rest.substr(0, rest.find('\0'));
        if (name != ".modinfo") continue;
        if (section.sh_type == SHT_NOBITS || section.sh_offset > image.size() ||
            section.sh_size > image.size() - section.sh_offset) {
            return refuse(".modinfo section outside the file");
        }
        ModInfo info;
        std::string_view strings(reinterpret_cast<const char*>(image.data()) + section.sh_offset,
                                 section.sh_size);
        while (!strings.empty()) {
            const auto end = strings.find('\0');
            const std::string_view entry = strings.substr(0, end);
            strings.remove_prefix(end == std::string_view::npos ? strings.size() : end + 1);
            if (entry.empty()) continue;  // alignment padding between strings
            const auto equals = entry.find('=');
            if (equals == std::string_view::npos) {
                info.entries.emplace_back(std::string(entry), std::string());
            } else {
                info.entries.emplace_back(std::string(entry.substr(0, equals)),
                                          std::string(entry.substr(equals + 1)));
            }
        }
        return ModInfoResult{std::move(info), {}};
    }
    return refuse("no .modinfo section");
}

ModInfoResult read_modinfo(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return refuse("cannot open " + path.string());
    std::vector<char> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    return parse_modinfo(std::as_bytes(std::span(bytes)));
}

}  // namespace sim::kernel
