// Running lab lines: from a script, from -c, or typed at the prompt. Every bad line is reported
// as one error line naming where it came from; a script stops at its first bad line.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

#include "tools/serial-lab/status.h"

namespace lab {

class Lab;

// Where a line came from. An empty source is the interactive prompt, which needs no location.
struct Location {
    std::string source;
    std::size_t line = 0;
};

// "demo.lab:12: insmod: unknown parameter 'foo' (-22 Invalid argument)"
std::string format_error_line(const Location& where, std::string_view command, const Error& failure);

class Session {
public:
    explicit Session(Lab& lab);

    // Runs every statement of one line in order; stops at and reports the first failure.
    bool run_line(std::string_view line, const Location& where);

    // A script's text: one command a line. Exit status 0, or 1 after the first bad line.
    int run_script(std::string_view text, std::string_view source_name);
    int run_script_file(const std::filesystem::path& path);
    // The -c text: statements separated by ';' (or new lines), numbered from 1 for errors.
    int run_command_string(std::string_view text);

private:
    bool run_statement(std::string_view statement, const Location& where);

    Lab& lab_;
};

}  // namespace lab
