#include "private_opt.h"

#include "memory_file.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

namespace launcher_test {
namespace {

using test_support::read_whole;

// Where the child stopped, if it never got to start the program.
enum class SetupStep : int {
    unshare_namespace,
    make_mounts_private,
    mount_tmpfs,
    make_folders,
    write_script,
    redirect_output,
    start_program,
};

struct SetupFailure {
    SetupStep step;
    int error;
};

std::string describe(const SetupFailure& failure)
{
    std::string what;
    switch (failure.step) {
    case SetupStep::unshare_namespace:
        what =
            "cannot make a private mount namespace (unshare CLONE_NEWNS; the launcher tests "
            "need root so that they can put a tmpfs over /opt)";
        break;
    case SetupStep::make_mounts_private:
        what = "cannot make the mounts of the new namespace private";
        break;
    case SetupStep::mount_tmpfs:
        what = "cannot mount a tmpfs over /opt in the private namespace";
        break;
    case SetupStep::make_folders:
        what = "cannot make the script's folders in the tmpfs";
        break;
    case SetupStep::write_script:
        what = "cannot write the script into the tmpfs";
        break;
    case SetupStep::redirect_output:
        what = "cannot redirect the program's output";
        break;
    case SetupStep::start_program:
        what = "cannot start the program under test";
        break;
    }
    return what + ": " + std::strerror(failure.error);
}

// The child runs between fork and exec, so it sticks to system calls and reports a failure as a
// fixed-size record through a close-on-exec pipe: an empty pipe means the program started.
[[noreturn]] void fail_setup(int report_fd, SetupStep step)
{
    const SetupFailure failure{step, errno};
    static_cast<void>(write(report_fd, &failure, sizeof failure));
    _exit(125);
}

bool write_all(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(written));
    }
    return true;
}

// The file is closed before the program starts: exec of a file still open for writing fails with
// ETXTBSY.
bool write_file(const char* path, std::string_view contents, mode_t mode)
{
    const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        return false;
    }
    // fchmod rather than open's mode, which the umask would cut down.
    const bool written = write_all(fd, contents) && fchmod(fd, mode) == 0;
    const int saved_error = errno;
    close(fd);
    errno = saved_error;
    return written;
}

void lay_out(int report_fd, const ScriptLayout& layout)
{
    if (layout.kind == ScriptKind::absent) {
        return;
    }
    if (mkdir("/opt/corvane2", 0755) != 0) {
        fail_setup(report_fd, SetupStep::make_folders);
    }
    if (layout.kind == ScriptKind::scripts_folder_is_file) {
        if (!write_file("/opt/corvane2/scripts", layout.contents, layout.mode)) {
            fail_setup(report_fd, SetupStep::write_script);
        }
        return;
    }
    if (mkdir("/opt/corvane2/scripts", 0755) != 0) {
        fail_setup(report_fd, SetupStep::make_folders);
    }
    if (layout.kind == ScriptKind::folder) {
        if (mkdir(script_path, layout.mode) != 0) {
            fail_setup(report_fd, SetupStep::make_folders);
        }
        return;
    }
    if (!write_file(script_path, layout.contents, layout.mode)) {
        fail_setup(report_fd, SetupStep::write_script);
    }
}

[[noreturn]] void run_child(int report_fd, int output_fd, int error_fd, const char* program,
                            const ScriptLayout& layout, char* const* argv, char* const* envp)
{
    if (unshare(CLONE_NEWNS) != 0) {
        fail_setup(report_fd, SetupStep::unshare_namespace);
    }
    // Without this a shared root would carry the tmpfs back into the machine's namespace.
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        fail_setup(report_fd, SetupStep::make_mounts_private);
    }
    if (mount("tmpfs", "/opt", "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755,size=16m") != 0) {
        fail_setup(report_fd, SetupStep::mount_tmpfs);
    }
    lay_out(report_fd, layout);
    if (dup2(output_fd, STDOUT_FILENO) < 0 || dup2(error_fd, STDERR_FILENO) < 0) {
        fail_setup(report_fd, SetupStep::redirect_output);
    }
    execve(program, argv, envp);
    fail_setup(report_fd, SetupStep::start_program);
}

std::vector<char*> pointer_vector(std::vector<std::string>& strings)
{
    std::vector<char*> pointers;
    for (std::string& text : strings) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

// Closes the descriptors it owns on every way out of the parent.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() { reset(); }
    int get() const { return fd_; }
    void reset()
    {
        if (fd_ >= 0) {
            close(fd_);
        }
        fd_ = -1;
    }

private:
    int fd_;
};

RunResult setup_failed(std::string why)
{
    RunResult result;
    result.setup_error = std::move(why);
    return result;
}

}  // namespace

RunResult run_with_private_opt(const std::string& program, const ScriptLayout& layout,
                               const std::vector<std::string>& arguments,
                               const std::vector<std::string>& environment)
{
    // Everything the child needs is built before fork, so the child allocates nothing.
    std::vector<std::string> argument_strings{program};
    argument_strings.insert(argument_strings.end(), arguments.begin(), arguments.end());
    std::vector<std::string> environment_strings = environment;
    const std::vector<char*> argv = pointer_vector(argument_strings);
    const std::vector<char*> envp = pointer_vector(environment_strings);

    const Descriptor output(memfd_create("launcher-stdout", MFD_CLOEXEC));
    const Descriptor error(memfd_create("launcher-stderr", MFD_CLOEXEC));
    if (output.get() < 0 || error.get() < 0) {
        return setup_failed(std::string("cannot make output files: ") + std::strerror(errno));
    }
    int report_pipe[2];
    if (pipe2(report_pipe, O_CLOEXEC) != 0) {
        return setup_failed(std::string("cannot make a pipe: ") + std::strerror(errno));
    }
    const Descriptor report_read(report_pipe[0]);
    Descriptor report_write(report_pipe[1]);

    const pid_t child = fork();
    if (child < 0) {
        return setup_failed(std::string("cannot fork: ") + std::strerror(errno));
    }
    if (child == 0) {
        run_child(report_write.get(), output.get(), error.get(), program.c_str(), layout,
                  argv.data(), envp.data());
    }
    report_write.reset();

    SetupFailure failure{};
    ssize_t report_size;
    do {
        report_size = read(report_read.get(), &failure, sizeof failure);
    } while (report_size < 0 && errno == EINTR);

    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            return setup_failed(std::string("cannot wait for the child: ") + std::strerror(errno));
        }
    }
    if (report_size == static_cast<ssize_t>(sizeof failure)) {
        return setup_failed(describe(failure));
    }

    RunResult result;
    result.exited = WIFEXITED(status);
    result.exit_status = result.exited ? WEXITSTATUS(status) : -1;
    result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    result.standard_output = read_whole(output.get());
    result.standard_error = read_whole(error.get());
    return result;
}

}  // namespace launcher_test
