// A resource tree (I/O ports or physical memory) as the kernel keeps it: regions nest, siblings
// never overlap. A claim that falls inside a region that is not busy (a bus window) nests inside
// it; a claim that overlaps a busy region, or only part of a window, is refused.
//
// The tree owns its nodes and a copy of every name, so a listing stays readable after the module
// that named a region is gone. While its machine is current, the root's children are mirrored
// into the global root the kernel interface exports (`ioport_resource`, `iomem_resource`).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "drivers/serial/kernel/ioport.h"

namespace sim::kernel {

struct RegionInfo {
    std::uint64_t start;
    std::uint64_t end;
    std::string name;
    bool busy;
    int depth;  // 0 for children of the root
};

class ResourceTree {
public:
    ResourceTree(std::string root_name, std::uint64_t end, unsigned long flags, int address_digits);
    ResourceTree(const ResourceTree&) = delete;
    ResourceTree& operator=(const ResourceTree&) = delete;
    ~ResourceTree();

    resource* root() { return &root_; }
    const resource* root() const { return &root_; }
    bool contains(const resource* node) const;

    // __request_region: a busy claim of [start, start + length) below `parent` (null: root).
    resource* request_region(resource* parent, std::uint64_t start, std::uint64_t length,
                             std::string_view name);
    // A region that is not busy (a bus window) that later claims nest inside; null on overlap.
    resource* add_window(std::uint64_t start, std::uint64_t length, std::string_view name);
    // __release_region: false when no busy region is exactly [start, start + length).
    bool release_region(resource* parent, std::uint64_t start, std::uint64_t length);
    // Removes a window added with add_window, with everything below it. False if unknown.
    bool remove_window(resource* window);

    // "  03f8-03ff : serial" lines, two spaces of indentation per level.
    std::string format() const;
    std::vector<RegionInfo> regions() const;
    // True when a busy region exactly [start, start + length) is claimed under `name`.
    bool claimed(std::uint64_t start, std::uint64_t length, std::string_view name = {}) const;

    void attach_mirror(resource* global_root);
    void detach_mirror();

private:
    resource* insert(resource* parent, std::uint64_t start, std::uint64_t end,
                     std::string_view name, unsigned long flags);
    void free_subtree(resource* node);
    void sync_mirror();

    resource root_{};
    int address_digits_;
    std::map<const resource*, std::unique_ptr<std::string>> names_;
    std::map<const resource*, std::unique_ptr<resource>> nodes_;
    resource* mirror_ = nullptr;
};

}  // namespace sim::kernel
