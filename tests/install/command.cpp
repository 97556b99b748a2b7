#include "command.h"

#include "memory_file.h"

#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace install_test {

using test_support::read_whole;

CommandResult run_command(const std::vector<std::string>& command)
{
    CommandResult result;
    if (command.empty()) {
        result.start_error = "no command";
        return result;
    }
    std::vector<std::string> strings = command;
    std::vector<char*> argv;
    for (std::string& text : strings) {
        argv.push_back(text.data());
    }
    argv.push_back(nullptr);

    const int output = memfd_create("command-stdout", MFD_CLOEXEC);
    const int error = memfd_create("command-stderr", MFD_CLOEXEC);
    if (output < 0 || error < 0) {
        result.start_error = std::string("cannot make output files: ") + std::strerror(errno);
        return result;
    }
    const pid_t child = fork();
    if (child == 0) {
        if (dup2(output, STDOUT_FILENO) >= 0 && dup2(error, STDERR_FILENO) >= 0) {
            execvp(argv[0], argv.data());
        }
        const char* reason = std::strerror(errno);
        static_cast<void>(write(STDERR_FILENO, reason, std::strlen(reason)));
        _exit(127);
    }
    int status = 0;
    if (child < 0) {
        result.start_error = std::string("cannot fork: ") + std::strerror(errno);
    } else {
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.standard_output = read_whole(output);
        result.standard_error = read_whole(error);
    }
    close(output);
    close(error);
    return result;
}

}  // namespace install_test
