// Where the lab's output goes: normal output and error lines, kept apart so that scripts can
// be checked and the errors still reach a terminal.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include <fmt/format.h>

namespace lab {

class Console {
public:
    using Sink = std::function<void(std::string_view)>;

    Console(Sink output, Sink errors) : output_(std::move(output)), errors_(std::move(errors)) {}

    // Standard output and standard error of the running program.
    static Console standard();

    template <typename... Args>
    void print(fmt::format_string<Args...> format, Args&&... args) {
        output_(fmt::format(format, std::forward<Args>(args)...));
    }
    void write(std::string_view text) { output_(text); }
    // One line on the error stream; the newline is added.
    void error_line(std::string_view text);

private:
    Sink output_;
    Sink errors_;
};

// A console that keeps everything in memory, for tests and for commands that need to capture.
struct CapturedConsole {
    CapturedConsole() = default;
    CapturedConsole(const CapturedConsole&) = delete;
    CapturedConsole& operator=(const CapturedConsole&) = delete;

    std::string output;
    std::string errors;
    Console console{[this](std::string_view text) { output.append(text); },
                    [this](std::string_view text) { errors.append(text); }};
};

}  // namespace lab
