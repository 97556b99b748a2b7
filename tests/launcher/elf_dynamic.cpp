#include "elf_dynamic.h"

#include <elf.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <span>

namespace launcher_test {
namespace {

using Bytes = std::vector<unsigned char>;

// Fields are copied out rather than cast in place: nothing guarantees their alignment in memory.
template <typename Record>
std::optional<Record> record_at(const Bytes& file, std::uint64_t offset)
{
    if (offset > file.size() || file.size() - offset < sizeof(Record)) {
        return std::nullopt;
    }
    Record record;
    std::memcpy(&record, file.data() + offset, sizeof(Record));
    return record;
}

// The dynamic section gives the string table as a load address; the loadable segments map it
// back to a place in the file.
std::optional<std::uint64_t> file_offset_of(std::span<const Elf64_Phdr> segments,
                                            std::uint64_t address)
{
    for (const Elf64_Phdr& segment : segments) {
        if (segment.p_type == PT_LOAD && address >= segment.p_vaddr &&
            address - segment.p_vaddr < segment.p_filesz) {
            return address - segment.p_vaddr + segment.p_offset;
        }
    }
    return std::nullopt;
}

// A string that must end inside both its table and the file.
std::optional<std::string> string_at(const Bytes& file, std::uint64_t table,
                                     std::uint64_t table_size, std::uint64_t index)
{
    if (index >= table_size || table > file.size() || file.size() - table < table_size) {
        return std::nullopt;
    }
    const auto* begin = reinterpret_cast<const char*>(file.data() + table + index);
    const auto* terminator = static_cast<const char*>(std::memchr(begin, '\0', table_size - index));
    if (terminator == nullptr) {
        return std::nullopt;
    }
    return std::string(begin, terminator);
}

ElfDynamicInfo failure(std::string why)
{
    ElfDynamicInfo info;
    info.error = std::move(why);
    return info;
}

}  // namespace

ElfDynamicInfo read_elf_dynamic_info(const std::string& path)
{
    std::ifstream stream(path, std::ios::binary);
    if (!stream) {
        return failure("cannot open " + path);
    }
    const Bytes file{std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};

    const auto header = record_at<Elf64_Ehdr>(file, 0);
    if (!header || std::memcmp(header->e_ident, ELFMAG, SELFMAG) != 0) {
        return failure(path + " is not an ELF file");
    }
    if (header->e_ident[EI_CLASS] != ELFCLASS64 || header->e_ident[EI_DATA] != ELFDATA2LSB) {
        return failure(path + " is not a 64-bit little-endian ELF file");
    }
    if (header->e_phentsize != sizeof(Elf64_Phdr)) {
        return failure(path + " has program headers of an unexpected size");
    }

    std::vector<Elf64_Phdr> segments;
    for (std::uint64_t index = 0; index < header->e_phnum; ++index) {
        const auto segment =
            record_at<Elf64_Phdr>(file, header->e_phoff + index * sizeof(Elf64_Phdr));
        if (!segment) {
            return failure(path + " has program headers beyond its end");
        }
        segments.push_back(*segment);
    }

    ElfDynamicInfo info;
    info.machine = header->e_machine;
    std::vector<std::uint64_t> needed_indices;
    std::optional<std::uint64_t> string_table_address;
    std::uint64_t string_table_size = 0;
    for (const Elf64_Phdr& segment : segments) {
        if (segment.p_type == PT_INTERP) {
            const auto name = string_at(file, segment.p_offset, segment.p_filesz, 0);
            if (!name) {
                return failure(path + " has an unterminated interpreter name");
            }
            info.interpreter = *name;
        }
        if (segment.p_type != PT_DYNAMIC) {
            continue;
        }
        for (std::uint64_t offset = 0; offset + sizeof(Elf64_Dyn) <= segment.p_filesz;
             offset += sizeof(Elf64_Dyn)) {
            const auto entry = record_at<Elf64_Dyn>(file, segment.p_offset + offset);
            if (!entry) {
                return failure(path + " has a dynamic section beyond its end");
            }
            if (entry->d_tag == DT_NULL) {
                break;
            }
            if (entry->d_tag == DT_NEEDED) {
                needed_indices.push_back(entry->d_un.d_val);
            } else if (entry->d_tag == DT_STRTAB) {
                string_table_address = entry->d_un.d_ptr;
            } else if (entry->d_tag == DT_STRSZ) {
                string_table_size = entry->d_un.d_val;
            }
        }
    }

    if (needed_indices.empty()) {
        return info;
    }
    const auto string_table =
        string_table_address ? file_offset_of(segments, *string_table_address) : std::nullopt;
    if (!string_table) {
        return failure(path + " names shared objects but has no string table in the file");
    }
    for (const std::uint64_t index : needed_indices) {
        const auto name = string_at(file, *string_table, string_table_size, index);
        if (!name) {
            return failure(path + " has a shared-object name outside its string table");
        }
        info.needed.push_back(*name);
    }
    return info;
}

}  // namespace launcher_test
