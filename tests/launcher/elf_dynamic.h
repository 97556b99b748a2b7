#pragma once

// Reads what a 64-bit little-endian ELF file asks of the dynamic loader: its interpreter and the
// shared objects its dynamic section names. Only the program headers are used, as the loader
// does, so a stripped file reads the same as one with section headers.

#include <cstdint>
#include <string>
#include <vector>

namespace launcher_test {

struct ElfDynamicInfo {
    std::string error;  // empty when the file could be read
    std::uint16_t machine = 0;
    std::string interpreter;
    std::vector<std::string> needed;
};

ElfDynamicInfo read_elf_dynamic_info(const std::string& path);

}  // namespace launcher_test
