#include "sim/kernel/resources/io_mappings.h"

#include <sys/mman.h>
#include <unistd.h>

namespace sim::kernel {
namespace {

std::size_t page_size() {
    static const std::size_t size = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    return size;
}

}  // namespace

IoMappings::~IoMappings() {
    for (const auto& [address, mapping] : mappings_) {
        munmap(reinterpret_cast<void*>(mapping.reserved_base), mapping.reserved_length);
    }
}

void* IoMappings::map(std::uint64_t physical, std::size_t length) {
    if (length == 0 || physical + length - 1 < physical) return nullptr;
    const std::size_t page = page_size();
    const std::size_t offset = static_cast<std::size_t>(physical % page);
    if (length > SIZE_MAX - offset - page) return nullptr;
    const std::size_t reserved = (offset + length + page - 1) / page * page;
    void* base = mmap(nullptr, reserved, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE,
                      -1, 0);
    if (base == MAP_FAILED) return nullptr;
    const auto start = reinterpret_cast<std::uintptr_t>(base);
    const IoMapping mapping{start, reserved, start + offset, physical, length};
    mappings_.emplace(mapping.address, mapping);
    return reinterpret_cast<void*>(mapping.address);
}

bool IoMappings::unmap(const volatile void* address) {
    const auto found = mappings_.find(reinterpret_cast<std::uintptr_t>(address));
    if (found == mappings_.end()) return false;
    munmap(reinterpret_cast<void*>(found->second.reserved_base), found->second.reserved_length);
    mappings_.erase(found);
    return true;
}

std::optional<std::uint64_t> IoMappings::physical(const volatile void* address,
                                                  unsigned width) const {
    const auto where = reinterpret_cast<std::uintptr_t>(address);
    auto found = mappings_.upper_bound(where);
    if (found == mappings_.begin()) return std::nullopt;
    --found;
    const IoMapping& mapping = found->second;
    if (where - mapping.address + width > mapping.length) return std::nullopt;
    return mapping.physical + (where - mapping.address);
}

}  // namespace sim::kernel
