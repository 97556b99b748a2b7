#include "host_access.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

namespace check_install {
namespace {

class DynamicLibrary final : public LoadedLibrary {
public:
    explicit DynamicLibrary(void* handle) : handle_(handle) {}
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;
    ~DynamicLibrary() override { dlclose(handle_); }

    void* symbol(const char* name) const override { return dlsym(handle_, name); }

private:
    void* handle_;
};

class Machine final : public HostAccess {
public:
    LoadResult load(const char* shared_object_name) override
    {
        // RTLD_NOW: a library whose own dependencies are incomplete fails here, not at first use.
        // RTLD_NODELETE: these libraries and the ones they pull in (X11, fontconfig, codec
        // back ends) set up process-wide state in their constructors and are not built to be
        // unloaded again; the handle is closed, the code stays.
        void* handle = dlopen(shared_object_name, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        if (handle == nullptr) {
            const char* reason = dlerror();
            return {nullptr, reason != nullptr ? reason : "cannot be loaded"};
        }
        return {std::make_unique<DynamicLibrary>(handle), {}};
    }

    FileState file_state(const char* path) override
    {
        struct stat status {};
        if (stat(path, &status) != 0) {
            return FileState::missing;
        }
        return S_ISREG(status.st_mode) && access(path, X_OK) == 0 ? FileState::executable
                                                                  : FileState::not_executable;
    }
};

}  // namespace

HostAccess& this_machine()
{
    static Machine machine;
    return machine;
}

}  // namespace check_install
