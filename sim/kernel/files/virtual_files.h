// The virtual files of /proc and /sys: each path has a generator that produces its content when
// it is read, and optionally a writer. Subsystems register their own files.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace sim::kernel {

struct FileRead {
    int error = 0;  // 0, or a negative error number (-2 no such file)
    std::string content;
};

class VirtualFiles {
public:
    using Reader = std::function<std::string()>;
    // Returns 0 or a negative error number.
    using Writer = std::function<int(std::string_view data)>;

    // False when the path exists already.
    bool add(std::string path, Reader reader, Writer writer = {}, unsigned mode = 0);
    bool remove(std::string_view path);
    // Removes every file whose path starts with `prefix`.
    void remove_prefix(std::string_view prefix);

    bool exists(std::string_view path) const;
    unsigned mode(std::string_view path) const;  // 0 when absent
    FileRead read(std::string_view path) const;
    // -2 no such file, -13 no writer (read-only file), or the writer's result.
    int write(std::string_view path, std::string_view data) const;
    std::vector<std::string> list(std::string_view prefix = {}) const;

private:
    struct File {
        Reader reader;
        Writer writer;
        unsigned mode;
    };
    std::map<std::string, File, std::less<>> files_;
};

}  // namespace sim::kernel
