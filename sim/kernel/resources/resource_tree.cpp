#include "sim/kernel/resources/resource_tree.h"

#include <functional>

#include <fmt/format.h>

namespace sim::kernel {
namespace {

// The child of `parent` that overlaps [start, end], the parent itself when the range is not
// inside it, or null when the range is free; `link` is where a new node would be linked.
resource* find_conflict(resource* parent, std::uint64_t start, std::uint64_t end,
                        resource**& link) {
    if (start > end || start < parent->start || end > parent->end) return parent;
    link = &parent->child;
    for (resource* at = parent->child; at != nullptr; at = at->sibling) {
        if (at->start > end) return nullptr;
        if (at->end >= start) return at;
        link = &at->sibling;
    }
    return nullptr;
}

}  // namespace

ResourceTree::ResourceTree(std::string root_name, std::uint64_t end, unsigned long flags,
                           int address_digits)
    : address_digits_(address_digits) {
    auto name = std::make_unique<std::string>(std::move(root_name));
    root_.start = 0;
    root_.end = end;
    root_.name = name->c_str();
    root_.flags = flags;
    names_.emplace(&root_, std::move(name));
}

ResourceTree::~ResourceTree() { detach_mirror(); }

bool ResourceTree::contains(const resource* node) const {
    return node == &root_ || nodes_.contains(node);
}

resource* ResourceTree::insert(resource* parent, std::uint64_t start, std::uint64_t end,
                               std::string_view name, unsigned long flags) {
    auto node = std::make_unique<resource>();
    auto text = std::make_unique<std::string>(name);
    resource* raw = node.get();
    raw->start = start;
    raw->end = end;
    raw->name = text->c_str();
    raw->flags = flags;
    names_.emplace(raw, std::move(text));
    nodes_.emplace(raw, std::move(node));
    (void)parent;
    return raw;
}

resource* ResourceTree::request_region(resource* parent, std::uint64_t start,
                                       std::uint64_t length, std::string_view name) {
    if (parent == nullptr) parent = &root_;
    if (!contains(parent) || length == 0) return nullptr;
    const std::uint64_t end = start + length - 1;
    if (end < start) return nullptr;  // wraps around the address space
    for (;;) {
        resource** link = nullptr;
        resource* conflict = find_conflict(parent, start, end, link);
        if (conflict == nullptr) {
            resource* node =
                insert(parent, start, end, name, (root_.flags & ~IORESOURCE_BUSY) | IORESOURCE_BUSY);
            node->parent = parent;
            node->sibling = *link;
            *link = node;
            sync_mirror();
            return node;
        }
        // A window that is not busy takes the claim inside it; anything else refuses it.
        if (conflict == parent || (conflict->flags & IORESOURCE_BUSY) != 0) return nullptr;
        parent = conflict;
    }
}

resource* ResourceTree::add_window(std::uint64_t start, std::uint64_t length,
                                   std::string_view name) {
    if (length == 0 || start + length - 1 < start) return nullptr;
    resource** link = nullptr;
    if (find_conflict(&root_, start, start + length - 1, link) != nullptr) return nullptr;
    resource* node = insert(&root_, start, start + length - 1, name, root_.flags & ~IORESOURCE_BUSY);
    node->parent = &root_;
    node->sibling = *link;
    *link = node;
    sync_mirror();
    return node;
}

void ResourceTree::free_subtree(resource* node) {
    for (resource* child = node->child; child != nullptr;) {
        resource* next = child->sibling;
        free_subtree(child);
        child = next;
    }
    names_.erase(node);
    nodes_.erase(node);
}

bool ResourceTree::release_region(resource* parent, std::uint64_t start, std::uint64_t length) {
    if (parent == nullptr) parent = &root_;
    if (!contains(parent) || length == 0) return false;
    const std::uint64_t end = start + length - 1;
    resource** link = &parent->child;
    for (resource* at = *link; at != nullptr; at = *link) {
        if (at->start <= start && at->end >= end) {
            if ((at->flags & IORESOURCE_BUSY) == 0) {
                link = &at->child;  // inside a window: look below it
                continue;
            }
            if (at->start != start || at->end != end) return false;
            // A busy region's own children (claims nested by their owner) go with it.
            *link = at->sibling;
            free_subtree(at);
            sync_mirror();
            return true;
        }
        link = &at->sibling;
    }
    return false;
}

bool ResourceTree::remove_window(resource* window) {
    if (window == nullptr || window == &root_ || !nodes_.contains(window)) return false;
    resource** link = &window->parent->child;
    while (*link != nullptr && *link != window) link = &(*link)->sibling;
    if (*link == nullptr) return false;
    *link = window->sibling;
    free_subtree(window);
    sync_mirror();
    return true;
}

std::vector<RegionInfo> ResourceTree::regions() const {
    std::vector<RegionInfo> out;
    std::function<void(const resource*, int)> walk = [&](const resource* node, int depth) {
        for (const resource* child = node->child; child != nullptr; child = child->sibling) {
            out.push_back(RegionInfo{child->start, child->end,
                                     child->name != nullptr ? child->name : "<BAD>",
                                     (child->flags & IORESOURCE_BUSY) != 0, depth});
            walk(child, depth + 1);
        }
    };
    walk(&root_, 0);
    return out;
}

std::string ResourceTree::format() const {
    std::string out;
    for (const RegionInfo& region : regions()) {
        out += fmt::format("{:{}}{:0{}x}-{:0{}x} : {}\n", "", region.depth * 2, region.start,
                           address_digits_, region.end, address_digits_, region.name);
    }
    return out;
}

bool ResourceTree::claimed(std::uint64_t start, std::uint64_t length, std::string_view name) const {
    for (const RegionInfo& region : regions()) {
        if (region.busy && region.start == start && region.end == start + length - 1 &&
            (name.empty() || region.name == name)) {
            return true;
        }
    }
    return false;
}

void ResourceTree::attach_mirror(resource* global_root) {
    mirror_ = global_root;
    sync_mirror();
}

void ResourceTree::detach_mirror() {
    if (mirror_ != nullptr && mirror_->child == root_.child) mirror_->child = nullptr;
    mirror_ = nullptr;
}

void ResourceTree::sync_mirror() {
    if (mirror_ != nullptr) mirror_->child = root_.child;
}

}  // namespace sim::kernel
