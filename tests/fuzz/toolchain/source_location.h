// Clang 14 with GCC 12's C++ library: the library offers std::source_location only when the
// compiler has __builtin_source_location, which arrived in clang 15. The fuzz build, and only
// it, force-includes this header, which supplies the same class from the builtins clang 14 does
// have, so that the substitute's sources compile unchanged.
#pragma once

#include <version>

#if __has_include(<source_location>)
#include <source_location>
#endif

#ifndef __cpp_lib_source_location
namespace std {

struct source_location {
    static constexpr source_location current(const char* file = __builtin_FILE(),
                                             const char* function = __builtin_FUNCTION(),
                                             unsigned line = __builtin_LINE(),
                                             unsigned column = __builtin_COLUMN()) noexcept {
        source_location where;
        where.file_ = file;
        where.function_ = function;
        where.line_ = line;
        where.column_ = column;
        return where;
    }
    constexpr source_location() noexcept = default;
    constexpr const char* file_name() const noexcept { return file_; }
    constexpr const char* function_name() const noexcept { return function_; }
    constexpr unsigned line() const noexcept { return line_; }
    constexpr unsigned column() const noexcept { return column_; }

private:
    const char* file_ = "";
    const char* function_ = "";
    unsigned line_ = 0;
    unsigned column_ = 0;
};

}  // namespace std
#endif
