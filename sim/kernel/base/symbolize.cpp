#include "sim/kernel/base/symbolize.h"

#include <cxxabi.h>
#include <dlfcn.h>
#include <elf.h>
#include <link.h>

#include <cstdlib>
#include <memory>

#include <fmt/format.h>

namespace sim::kernel {
namespace {

std::string demangled(const char* name) {
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> text(
        abi::__cxa_demangle(name, nullptr, nullptr, &status), &std::free);
    return status == 0 && text ? std::string(text.get()) : std::string(name);
}

std::string base_name(const char* path) {
    if (path == nullptr) return {};
    std::string_view text(path);
    const auto slash = text.rfind('/');
    return std::string(slash == std::string_view::npos ? text : text.substr(slash + 1));
}

}  // namespace

SymbolHit symbol_at(const void* address) {
    SymbolHit hit;
    Dl_info info{};
    ElfW(Sym)* symbol = nullptr;
    if (dladdr1(address, &info, reinterpret_cast<void**>(&symbol), RTLD_DL_SYMENT) == 0) {
        return hit;
    }
    hit.object = base_name(info.dli_fname);
    if (info.dli_sname == nullptr || info.dli_saddr == nullptr) return hit;
    const auto start = reinterpret_cast<std::uintptr_t>(info.dli_saddr);
    const auto where = reinterpret_cast<std::uintptr_t>(address);
    if (where < start) return hit;
    // dladdr answers with the nearest symbol below; a static object lying after it has no
    // dynamic symbol of its own and must not be taken for part of it.
    if (symbol != nullptr && symbol->st_size != 0 && where - start >= symbol->st_size) return hit;
    hit.name = demangled(info.dli_sname);
    hit.offset = where - start;
    return hit;
}

std::string describe_address(const void* address) {
    const SymbolHit hit = symbol_at(address);
    if (hit.name.empty()) {
        return hit.object.empty() ? fmt::format("{}", address)
                                  : fmt::format("{} [{}]", address, hit.object);
    }
    return fmt::format("{}+{:#x} [{}]", hit.name, hit.offset, hit.object);
}

}  // namespace sim::kernel
