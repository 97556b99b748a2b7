#pragma once

// What the installation check needs from the machine: loading a shared object by its name and
// looking at a file. Behind an interface so that a test can play a machine that lacks a library,
// a symbol or the script.

#include <memory>
#include <string>

namespace check_install {

class LoadedLibrary {
public:
    virtual ~LoadedLibrary() = default;
    // The address of `name`, or nullptr when the library does not define it.
    virtual void* symbol(const char* name) const = 0;
};

struct LoadResult {
    std::unique_ptr<LoadedLibrary> library;  // null when it could not be loaded
    std::string error;                       // the loader's reason, when it could not
};

enum class FileState { missing, not_executable, executable };

class HostAccess {
public:
    virtual ~HostAccess() = default;
    virtual LoadResult load(const char* shared_object_name) = 0;
    // As seen by the user running the check.
    virtual FileState file_state(const char* path) = 0;
};

// The running machine: the dynamic loader and the file system.
HostAccess& this_machine();

}  // namespace check_install
