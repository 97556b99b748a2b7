#include "sim/kernel/files/virtual_files.h"

#include <utility>

#include "drivers/serial/kernel/errors.h"

namespace sim::kernel {

bool VirtualFiles::add(std::string path, Reader reader, Writer writer, unsigned mode) {
    if (mode == 0) mode = writer ? 0644u : 0444u;
    return files_.emplace(std::move(path), File{std::move(reader), std::move(writer), mode}).second;
}

bool VirtualFiles::remove(std::string_view path) {
    const auto found = files_.find(path);
    if (found == files_.end()) return false;
    files_.erase(found);
    return true;
}

void VirtualFiles::remove_prefix(std::string_view prefix) {
    std::erase_if(files_, [prefix](const auto& entry) { return entry.first.starts_with(prefix); });
}

bool VirtualFiles::exists(std::string_view path) const { return files_.find(path) != files_.end(); }

unsigned VirtualFiles::mode(std::string_view path) const {
    const auto found = files_.find(path);
    return found == files_.end() ? 0u : found->second.mode;
}

FileRead VirtualFiles::read(std::string_view path) const {
    const auto found = files_.find(path);
    if (found == files_.end()) return FileRead{-kerr::noent, {}};
    return FileRead{0, found->second.reader ? found->second.reader() : std::string()};
}

int VirtualFiles::write(std::string_view path, std::string_view data) const {
    const auto found = files_.find(path);
    if (found == files_.end()) return -kerr::noent;
    if (!found->second.writer || (found->second.mode & 0222u) == 0) return -kerr::acces;
    return found->second.writer(data);
}

std::vector<std::string> VirtualFiles::list(std::string_view prefix) const {
    std::vector<std::string> paths;
    for (const auto& [path, file] : files_) {
        if (path.starts_with(prefix)) paths.push_back(path);
    }
    return paths;
}

}  // namespace sim::kernel
