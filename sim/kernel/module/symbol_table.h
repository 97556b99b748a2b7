// The kernel symbol table: what loaded modules export, by name, for other modules and for code
// that wants to call a module's exported function.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim::kernel {

class SymbolTable {
public:
    // False when the name is already exported.
    bool add(std::string name, const void* value, std::string owner);
    void remove_owner(std::string_view owner);

    const void* find(std::string_view name) const;
    std::optional<std::string> owner(std::string_view name) const;
    std::vector<std::string> names() const;

    // An exported function by its type: `symbols.function<int(uart_port*)>("...")`.
    template <typename Signature>
    Signature* function(std::string_view name) const {
        return reinterpret_cast<Signature*>(const_cast<void*>(find(name)));
    }

private:
    struct Entry {
        const void* value;
        std::string owner;
    };
    std::map<std::string, Entry, std::less<>> entries_;
};

}  // namespace sim::kernel
