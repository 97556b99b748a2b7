// The module loader: insmod, rmmod and modprobe's on-demand loading.
//
// Loading a module file: its ".modinfo" is read from the file, the file is opened as a shared
// object bound to the kernel services this program exports (the module is built without GNU
// unique symbols, so every load starts from the file's fresh static state), `__this_module` is
// looked up, the parameter string is applied through each parameter's set function, the
// module's exports enter the kernel symbol table, and its init entry runs. Any failure undoes
// all of that and closes the object again. After a load each parameter whose mode is not 0 is
// a file /sys/module/<name>/parameters/<param>, writable where its mode allows.
//
// Unloading runs the exit entry and closes the object. Whatever still points into the module's
// memory afterwards (a pending timer, an interrupt handler, a registered platform driver, or
// anything an unload check registered by another subsystem finds) is reported in the log and
// taken away, so that nothing ever calls into unmapped code.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "drivers/serial/kernel/module.h"
#include "sim/kernel/module/modinfo.h"

namespace sim::kernel {

class Machine;

struct LoadResult {
    int error = 0;        // 0, or the negative error number the load failed with
    std::string message;  // one line saying why, when it failed
    explicit operator bool() const { return error == 0; }
};

// Where a loaded module lies in memory.
struct ModuleImage {
    std::string name;
    std::uintptr_t low = 0;
    std::uintptr_t high = 0;  // one past the end
    bool contains(const void* address) const {
        const auto at = reinterpret_cast<std::uintptr_t>(address);
        return at >= low && at < high;
    }
};

struct LoadedModuleInfo {
    std::string name;
    std::filesystem::path path;
    ModInfo modinfo;
    ModuleImage image;
    unsigned references = 0;
};

class ModuleLoader {
public:
    // Finds what is left pointing into a module that is going away, takes it away, and returns
    // one description per item.
    using UnloadCheck = std::function<std::vector<std::string>(const ModuleImage& image)>;

    ModuleLoader(Machine& machine, std::filesystem::path module_dir);
    ModuleLoader(const ModuleLoader&) = delete;
    ModuleLoader& operator=(const ModuleLoader&) = delete;
    ~ModuleLoader();

    // `file` is a path, or a module name looked up as <module dir>/<name>.ko.
    LoadResult load(std::string_view file, std::string_view parameters = {});
    LoadResult unload(std::string_view name);
    void unload_all();

    // modprobe for an alias such as "char-major-4-64": loads the module in the module folder
    // whose alias pattern matches, with its default options. 0 when such a module is loaded.
    int request_module(std::string_view alias);
    void set_default_options(std::string module_name, std::string parameters);

    bool loaded(std::string_view name) const;
    std::vector<std::string> names() const;
    std::optional<LoadedModuleInfo> info(std::string_view name) const;
    // The module that contains `address`, if any.
    std::optional<ModuleImage> image_containing(const void* address) const;
    // A symbol of the loaded module's own (dlsym), exported or not.
    void* symbol(std::string_view module_name, std::string_view symbol) const;

    // Module references, as try_module_get/module_put take them: a module in use cannot be
    // unloaded.
    bool try_get(const ::module* owner);
    void put(const ::module* owner);

    void add_unload_check(UnloadCheck check);

    const std::filesystem::path& module_dir() const { return module_dir_; }
    void set_module_dir(std::filesystem::path dir) { module_dir_ = std::move(dir); }
    std::filesystem::path resolve(std::string_view file) const;

    std::string proc_modules() const;

private:
    struct Loaded;

    LoadResult fail(int error, std::string message, bool log_it);
    int apply_parameters(Loaded& module, std::string_view parameters, std::string& message);
    void add_parameter_files(Loaded& module);
    std::vector<std::string> run_unload_checks(const ModuleImage& image);
    void close(std::unique_ptr<Loaded> module);
    Loaded* find(std::string_view name) const;
    Loaded* find(const ::module* owner) const;

    Machine& machine_;
    std::filesystem::path module_dir_;
    std::vector<std::unique_ptr<Loaded>> modules_;
    std::map<std::string, std::string, std::less<>> default_options_;
    std::vector<UnloadCheck> unload_checks_;
};

}  // namespace sim::kernel
