#include "sim/kernel/module/symbol_table.h"

namespace sim::kernel {

bool SymbolTable::add(std::string name, const void* value, std::string owner) {
    return entries_.emplace(std::move(name), Entry{value, std::move(owner)}).second;
}

void SymbolTable::remove_owner(std::string_view owner) {
    std::erase_if(entries_, [owner](const auto& entry) { return entry.second.owner == owner; });
}

const void* SymbolTable::find(std::string_view name) const {
    const auto found = entries_.find(name);
    return found == entries_.end() ? nullptr : found->second.value;
}

std::optional<std::string> SymbolTable::owner(std::string_view name) const {
    const auto found = entries_.find(name);
    if (found == entries_.end()) return std::nullopt;
    return found->second.owner;
}

std::vector<std::string> SymbolTable::names() const {
    std::vector<std::string> out;
    for (const auto& [name, entry] : entries_) out.push_back(name);
    return out;
}

}  // namespace sim::kernel
