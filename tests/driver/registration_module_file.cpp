// The module file as the distribution's tools and the kernel's loader see it.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Runs a command and returns its standard output, or nullopt when it cannot be run.
std::optional<std::string> command_output(const std::string& command) {
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return std::nullopt;
    std::string out;
    std::array<char, 4096> buffer{};
    while (std::size_t n = std::fread(buffer.data(), 1, buffer.size(), pipe)) out.append(buffer.data(), n);
    if (pclose(pipe) != 0) return std::nullopt;
    return out;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::set<std::string> kernel_interface_names() {
    std::set<std::string> names;
    std::ifstream in(SERIAL_KERNEL_SERVICES_LIST);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.front() != '#') names.insert(line);
    }
    return names;
}

// Names the toolchain's start-up files and the sanitizer runtime bring into any shared object;
// the program that loads the module provides or ignores them.
bool toolchain_name(const std::string& name) {
    for (const char* weak : {"__cxa_finalize", "__gmon_start__", "_ITM_deregisterTMCloneTable",
                             "_ITM_registerTMCloneTable"}) {
        if (name == weak) return true;
    }
    if (SERIAL_SANITIZED) {
        for (const char* prefix : {"__asan_", "__ubsan_", "__sanitizer_", "__lsan_"}) {
            if (name.rfind(prefix, 0) == 0) return true;
        }
    }
    return false;
}

TEST(ModuleFile, ImportsOnlyKernelInterfaceNames) {
    const auto output = command_output(std::string(SERIAL_NM_PROGRAM) + " -D --undefined-only " +
                                       SERIAL_8250_MODULE_PATH);
    ASSERT_TRUE(output.has_value()) << "nm could not read the module";
    const std::set<std::string> interface = kernel_interface_names();
    ASSERT_FALSE(interface.empty());

    std::vector<std::string> foreign;
    std::size_t imports = 0;
    for (const std::string& line : lines_of(*output)) {
        std::istringstream fields(line);
        std::string kind, name;
        fields >> kind >> name;
        if (name.empty()) continue;
        name = name.substr(0, name.find('@'));
        ++imports;
        if (!interface.contains(name) && !toolchain_name(name)) foreign.push_back(name);
    }
    EXPECT_GT(imports, 0u);
    EXPECT_TRUE(foreign.empty()) << "imports outside the kernel interface: " << ::testing::PrintToString(foreign);
}

// Debian's modinfo (kmod) prints the module information exactly as the loader reads it.
TEST(ModuleFile, ModinfoPrintsTheModuleInformation) {
    const auto output = command_output("modinfo " + std::string(SERIAL_8250_MODULE_PATH) + " 2>/dev/null");
    if (!output) GTEST_SKIP() << "modinfo (kmod) is not installed";

    std::vector<std::string> lines;
    for (const std::string& line : lines_of(*output)) {
        if (line.rfind("filename:", 0) != 0) lines.push_back(line);
    }
    const std::vector<std::string> expected = {
        "alias:          char-major-4-*",
        "description:    Generic 8250/16x50 serial driver $Revision: 1.90 $",
        "license:        GPL",
        "depends:        serial_core",
        "vermagic:       2.6.18-xen SMP mod_unload ",
        "parm:           share_irqs:Share IRQs with other non-8250/16x50 devices (unsafe) (uint)",
        "parm:           nr_uarts:Maximum number of UARTs supported. (1-32) (uint)",
        "parm:           probe_rsa:Probe I/O ports for RSA (array of ulong)",
    };
    EXPECT_EQ(lines, expected);
}

}  // namespace
