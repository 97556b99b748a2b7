#include "tools/serial-lab/console.h"

#include <cstdio>

namespace lab {

Console Console::standard() {
    return Console(
        [](std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); },
        [](std::string_view text) {
            // Output already written comes first, as on a terminal.
            std::fflush(stdout);
            std::fwrite(text.data(), 1, text.size(), stderr);
        });
}

void Console::error_line(std::string_view text) {
    std::string line(text);
    line += '\n';
    errors_(line);
}

}  // namespace lab
