#include "sim/kernel/module/module_loader.h"

#include <dlfcn.h>
#include <fnmatch.h>
#include <link.h>

#include <algorithm>
#include <array>
#include <cstring>

#include <fmt/format.h>

#include "drivers/serial/kernel/errors.h"
#include "sim/kernel/base/stop.h"
#include "sim/kernel/machine.h"
#include "sim/kernel/module/param_parse.h"

namespace sim::kernel {
namespace {

constexpr int error_noexec = 8;  // ENOEXEC: not a loadable module

struct SegmentSearch {
    std::uintptr_t base;
    const char* name;
    std::uintptr_t low = UINTPTR_MAX;
    std::uintptr_t high = 0;
};

int collect_segments(dl_phdr_info* info, std::size_t, void* data) {
    auto* search = static_cast<SegmentSearch*>(data);
    if (info->dlpi_addr != search->base || info->dlpi_name == nullptr ||
        std::strcmp(info->dlpi_name, search->name) != 0) {
        return 0;
    }
    for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& segment = info->dlpi_phdr[i];
        if (segment.p_type != PT_LOAD) continue;
        const std::uintptr_t start = info->dlpi_addr + segment.p_vaddr;
        search->low = std::min(search->low, start);
        search->high = std::max(search->high, start + segment.p_memsz);
    }
    return 1;
}

ModuleImage image_of(void* handle, std::string name) {
    ModuleImage image{std::move(name), 0, 0};
    link_map* map = nullptr;
    if (dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr) return image;
    SegmentSearch search{map->l_addr, map->l_name};
    dl_iterate_phdr(collect_segments, &search);
    if (search.high > search.low) {
        image.low = search.low;
        image.high = search.high;
    }
    return image;
}

bool still_mapped(const std::filesystem::path& path) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr) return false;
    dlclose(handle);
    return true;
}

}  // namespace

struct ModuleLoader::Loaded {
    std::string name;
    std::filesystem::path path;
    ModInfo modinfo;
    void* handle = nullptr;
    ::module* record = nullptr;
    ModuleImage image;
    unsigned references = 0;
};

ModuleLoader::ModuleLoader(Machine& machine, std::filesystem::path module_dir)
    : machine_(machine), module_dir_(std::move(module_dir)) {}

ModuleLoader::~ModuleLoader() {
    // The machine unloads modules while its subsystems still stand; whatever is left here
    // could not be unloaded (in use) and is closed without its exit entry.
    for (auto& module : modules_) {
        if (module->handle != nullptr) dlclose(module->handle);
    }
}

std::filesystem::path ModuleLoader::resolve(std::string_view file) const {
    if (file.find('/') != std::string_view::npos || file.ends_with(".ko")) {
        return std::filesystem::path(file);
    }
    return module_dir_ / (std::string(file) + ".ko");
}

LoadResult ModuleLoader::fail(int error, std::string message, bool log_it) {
    if (log_it) machine_.log().write("<3>" + message + "\n");
    return LoadResult{error, std::move(message)};
}

ModuleLoader::Loaded* ModuleLoader::find(std::string_view name) const {
    for (const auto& module : modules_) {
        if (module->name == name) return module.get();
    }
    return nullptr;
}

ModuleLoader::Loaded* ModuleLoader::find(const ::module* owner) const {
    for (const auto& module : modules_) {
        if (module->record == owner) return module.get();
    }
    return nullptr;
}

int ModuleLoader::apply_parameters(Loaded& module, std::string_view parameters,
                                   std::string& message) {
    const ::module& record = *module.record;
    for (const ParamArgument& argument : split_param_string(parameters)) {
        const kernel_param* param = nullptr;
        for (unsigned i = 0; i < record.num_params && record.params != nullptr; ++i) {
            if (record.params[i].name != nullptr &&
                param_names_equal(record.params[i].name, argument.name)) {
                param = &record.params[i];
            }
        }
        if (param == nullptr || param->set == nullptr) {
            message = fmt::format("{}: Unknown parameter `{}'", module.name, argument.name);
            machine_.log().write("<3>" + message + "\n");
            return -kerr::inval;
        }
        const char* value = argument.value ? argument.value->c_str() : nullptr;
        const int result = param->set(value, const_cast<kernel_param*>(param));
        if (result != 0) {
            message = fmt::format("{}: `{}' {} for parameter `{}'", module.name,
                                  argument.value.value_or(""),
                                  result == -kerr::nospc ? "too large" : "invalid", param->name);
            machine_.log().write("<3>" + message + "\n");
            return result < 0 ? result : -kerr::inval;
        }
    }
    return 0;
}

void ModuleLoader::add_parameter_files(Loaded& module) {
    const ::module& record = *module.record;
    for (unsigned i = 0; i < record.num_params && record.params != nullptr; ++i) {
        auto* param = const_cast<kernel_param*>(&record.params[i]);
        if (param->name == nullptr || param->perm == 0) continue;
        VirtualFiles::Reader reader = [param]() {
            if (param->get == nullptr) return std::string();
            std::array<char, param_buffer_size + 1> buffer{};
            const int length = param->get(buffer.data(), param);
            if (length < 0) return std::string();
            return std::string(buffer.data(),
                               std::min<std::size_t>(static_cast<std::size_t>(length),
                                                     param_buffer_size)) +
                   "\n";
        };
        VirtualFiles::Writer writer;
        if ((param->perm & 0222u) != 0) {
            writer = [param](std::string_view data) {
                const std::string value(data);
                const int result = param->set(value.c_str(), param);
                return result < 0 ? result : 0;
            };
        }
        machine_.files().add(
            fmt::format("/sys/module/{}/parameters/{}", module.name, param->name),
            std::move(reader), std::move(writer), param->perm & 0777u);
    }
}

std::vector<std::string> ModuleLoader::run_unload_checks(const ModuleImage& image) {
    std::vector<std::string> leftovers;
    for (const UnloadCheck& check : unload_checks_) {
        for (std::string& item : check(image)) leftovers.push_back(std::move(item));
    }
    return leftovers;
}

void ModuleLoader::close(std::unique_ptr<Loaded> module) {
    dlclose(module->handle);
    module->handle = nullptr;
    if (still_mapped(module->path)) {
        machine_.log().write(fmt::format(
            "<4>{}: still mapped after unload; its static state will carry over\n", module->name));
    }
    machine_.locks().forget_address_classes();
}

LoadResult ModuleLoader::load(std::string_view file, std::string_view parameters) {
    const std::filesystem::path path = resolve(file);
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
        return fail(-kerr::noent, fmt::format("can't read '{}': No such file", path.string()),
                    false);
    }
    ModInfoResult modinfo = read_modinfo(path);
    if (!modinfo.info) {
        return fail(-error_noexec,
                    fmt::format("{}: invalid module format: {}", path.string(), modinfo.error),
                    false);
    }
    machine_.locks().might_sleep("init_module", nullptr);
    const std::string stem = path.stem().string();
    if (still_mapped(path)) {
        return fail(-kerr::exist, fmt::format("{}: module file is already loaded", stem), false);
    }
    dlerror();
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* reason = dlerror();
        const std::string text = reason != nullptr ? reason : "unknown error";
        constexpr std::string_view marker = "undefined symbol: ";
        if (const auto at = text.find(marker); at != std::string::npos) {
            std::string symbol = text.substr(at + marker.size());
            if (const auto end = symbol.find_first_of(" \t,("); end != std::string::npos) {
                symbol.resize(end);
            }
            machine_.log().write(fmt::format("<4>{}: Unknown symbol {}\n", stem, symbol));
            return fail(-kerr::noent, fmt::format("{}: Unknown symbol {}", stem, symbol), false);
        }
        return fail(-error_noexec, fmt::format("{}: cannot load: {}", stem, text), true);
    }
    auto* record = static_cast<::module*>(dlsym(handle, "__this_module"));
    if (record == nullptr) {
        dlclose(handle);
        return fail(-error_noexec, fmt::format("{}: no module record (__this_module)", stem), true);
    }
    auto module = std::make_unique<Loaded>();
    module->name = record->name != nullptr ? record->name : stem;
    module->path = path;
    module->modinfo = std::move(*modinfo.info);
    module->handle = handle;
    module->record = record;
    module->image = image_of(handle, module->name);
    if (find(module->name) != nullptr) {
        dlclose(handle);
        return fail(-kerr::exist, fmt::format("{}: a module of that name is already loaded",
                                              module->name),
                    false);
    }

    std::string message;
    if (const int result = apply_parameters(*module, parameters, message); result != 0) {
        close(std::move(module));
        return LoadResult{result, message};
    }
    for (unsigned i = 0; i < record->num_symbols && record->symbols != nullptr; ++i) {
        const kernel_symbol& symbol = record->symbols[i];
        if (symbol.name == nullptr) continue;
        if (auto owner = machine_.symbols().owner(symbol.name)) {
            machine_.symbols().remove_owner(module->name);
            const std::string text = fmt::format("{}: exports duplicate symbol {} (owned by {})",
                                                 module->name, symbol.name, *owner);
            close(std::move(module));
            return fail(-error_noexec, text, true);
        }
        machine_.symbols().add(symbol.name, symbol.value, module->name);
    }

    Loaded* loading = module.get();
    modules_.push_back(std::move(module));
    const int result = record->init != nullptr ? record->init() : 0;
    machine_.locks().expect_no_spin_locks(process_context_id,
                                          fmt::format("{} init", loading->name));
    if (!machine_.cpu().irqs_enabled()) {
        stop_machine(fmt::format("{} init returns with local interrupts disabled", loading->name));
    }
    if (result < 0) {
        machine_.symbols().remove_owner(loading->name);
        for (const std::string& item : run_unload_checks(loading->image)) {
            machine_.log().write(
                fmt::format("<3>{}: failed load left {} behind; removed\n", loading->name, item));
        }
        auto owned = std::move(*std::find_if(modules_.begin(), modules_.end(),
                                             [&](const auto& m) { return m.get() == loading; }));
        std::erase(modules_, nullptr);
        const std::string name = owned->name;
        close(std::move(owned));
        return LoadResult{result, fmt::format("{}: init failed with error {}", name, result)};
    }
    if (result > 0) {
        machine_.log().write(fmt::format(
            "<4>{0}: '{0}'->init suspiciously returned {1}, it should follow 0/-E convention\n"
            "<4>{0}: loading module anyway...\n",
            loading->name, result));
    }
    add_parameter_files(*loading);
    return {};
}

LoadResult ModuleLoader::unload(std::string_view name) {
    Loaded* module = find(name);
    if (module == nullptr) {
        return fail(-kerr::noent, fmt::format("Module {} does not exist", name), false);
    }
    if (module->references != 0) {
        return fail(-kerr::busy, fmt::format("Module {} is in use", name), false);
    }
    if (module->record->init != nullptr && module->record->exit == nullptr) {
        return fail(-kerr::busy, fmt::format("Module {} has no exit entry", name), false);
    }
    machine_.locks().might_sleep("delete_module", nullptr);
    machine_.files().remove_prefix(fmt::format("/sys/module/{}/", module->name));
    if (module->record->exit != nullptr) module->record->exit();
    machine_.locks().expect_no_spin_locks(process_context_id, fmt::format("{} exit", module->name));
    if (!machine_.cpu().irqs_enabled()) {
        stop_machine(fmt::format("{} exit returns with local interrupts disabled", module->name));
    }
    machine_.symbols().remove_owner(module->name);
    for (const std::string& item : run_unload_checks(module->image)) {
        machine_.log().write(
            fmt::format("<3>{}: unloaded with {} still in place; removed\n", module->name, item));
    }
    auto owned = std::move(*std::find_if(modules_.begin(), modules_.end(),
                                         [&](const auto& m) { return m.get() == module; }));
    std::erase(modules_, nullptr);
    close(std::move(owned));
    return {};
}

void ModuleLoader::unload_all() {
    while (!modules_.empty()) {
        // Newest first: a later module may use an earlier one's exports.
        const std::string name = modules_.back()->name;
        modules_.back()->references = 0;
        if (!unload(name)) {
            auto owned = std::move(modules_.back());
            modules_.pop_back();
            close(std::move(owned));
        }
    }
}

int ModuleLoader::request_module(std::string_view alias) {
    const std::string wanted(alias);
    for (const auto& module : modules_) {
        for (const std::string& pattern : module->modinfo.values("alias")) {
            if (fnmatch(pattern.c_str(), wanted.c_str(), 0) == 0) return 0;
        }
    }
    std::error_code error;
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(module_dir_, error)) {
        if (entry.path().extension() == ".ko") files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
        const ModInfoResult modinfo = read_modinfo(file);
        if (!modinfo.info) continue;
        for (const std::string& pattern : modinfo.info->values("alias")) {
            if (fnmatch(pattern.c_str(), wanted.c_str(), 0) != 0) continue;
            const std::string stem = file.stem().string();
            const auto options = default_options_.find(stem);
            return load(file.string(), options == default_options_.end() ? std::string_view{}
                                                                          : options->second)
                .error;
        }
    }
    return -kerr::noent;
}

void ModuleLoader::set_default_options(std::string module_name, std::string parameters) {
    default_options_[std::move(module_name)] = std::move(parameters);
}

bool ModuleLoader::loaded(std::string_view name) const { return find(name) != nullptr; }

std::vector<std::string> ModuleLoader::names() const {
    std::vector<std::string> out;
    for (const auto& module : modules_) out.push_back(module->name);
    return out;
}

std::optional<LoadedModuleInfo> ModuleLoader::info(std::string_view name) const {
    const Loaded* module = find(name);
    if (module == nullptr) return std::nullopt;
    return LoadedModuleInfo{module->name, module->path, module->modinfo, module->image,
                            module->references};
}

std::optional<ModuleImage> ModuleLoader::image_containing(const void* address) const {
    for (const auto& module : modules_) {
        if (module->image.contains(address)) return module->image;
    }
    return std::nullopt;
}

void* ModuleLoader::symbol(std::string_view module_name, std::string_view symbol) const {
    const Loaded* module = find(module_name);
    if (module == nullptr) return nullptr;
    return dlsym(module->handle, std::string(symbol).c_str());
}

bool ModuleLoader::try_get(const ::module* owner) {
    if (owner == nullptr) return true;  // built in: always there
    Loaded* module = find(owner);
    if (module == nullptr) return false;
    ++module->references;
    return true;
}

void ModuleLoader::put(const ::module* owner) {
    if (owner == nullptr) return;
    Loaded* module = find(owner);
    if (module == nullptr || module->references == 0) {
        stop_machine(fmt::format("module_put of a module reference nobody holds ({})",
                                 static_cast<const void*>(owner)));
    }
    --module->references;
}

void ModuleLoader::add_unload_check(UnloadCheck check) { unload_checks_.push_back(std::move(check)); }

std::string ModuleLoader::proc_modules() const {
    std::string out;
    for (const auto& module : modules_) {
        out += fmt::format("{} {} {} - Live {:#018x}\n", module->name,
                           module->image.high - module->image.low, module->references,
                           module->image.low);
    }
    return out;
}

}  // namespace sim::kernel
