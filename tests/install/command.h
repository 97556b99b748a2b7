#pragma once

// Runs a program with arguments (no shell between) and collects what it wrote.

#include <string>
#include <vector>

namespace install_test {

struct CommandResult {
    std::string start_error;  // empty when the program ran
    int exit_status = -1;     // -1 when it did not exit normally
    std::string standard_output;
    std::string standard_error;
};

CommandResult run_command(const std::vector<std::string>& command);

}  // namespace install_test
