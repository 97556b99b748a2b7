// xentop-launcher: turns this process into the installation's host-monitoring script.
//
// The launcher links against the C library alone, so it runs on any x86-64 host of the
// installation whatever C++ runtime that host carries. It must never be installed set-user-ID:
// the environment reaches the script unchanged, so a privileged launcher would let any caller
// steer the script's interpreter, its PYTHONPATH and the like.

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace {

// Fixed on purpose: no option, variable or file may point the launcher elsewhere.
constexpr char script_path[] = "/opt/corvane2/scripts/xentop.py";
constexpr char program_name[] = "xentop-launcher";

// The shells' statuses for a command that could not be started.
constexpr int status_not_found = 127;
constexpr int status_not_executable = 126;

// ENOENT also comes back when the script is there but the interpreter named on its "#!" line is
// not; only a missing script counts as "not found", as in the shells.
bool script_missing(int exec_error)
{
    if (exec_error != ENOENT && exec_error != ENOTDIR) {
        return false;
    }
    struct stat script_status {};
    return stat(script_path, &script_status) != 0;
}

// One write, so the line reaches a shared error stream in one piece.
void report_exec_failure(int exec_error)
{
    constexpr char separator[] = ": ";
    const char* reason = strerror(exec_error);
    iovec parts[] = {
        {const_cast<char*>(program_name), sizeof program_name - 1},
        {const_cast<char*>(separator), sizeof separator - 1},
        {const_cast<char*>(script_path), sizeof script_path - 1},
        {const_cast<char*>(separator), sizeof separator - 1},
        {const_cast<char*>(reason), strlen(reason)},
        {const_cast<char*>("\n"), 1},
    };
    // Nothing sensible is left to do if standard error itself is gone.
    static_cast<void>(writev(STDERR_FILENO, parts, sizeof parts / sizeof parts[0]));
}

}  // namespace

// The launcher takes no arguments: it does not even look at them, and none reach the script.
int main()
{
    // The script's own argument list is just its path, which it sees as argv[0]. An empty
    // vector would start it with no argv[0] at all, which many programs do not survive.
    // execv only reads the strings; the casts satisfy its historical prototype.
    char* const script_argv[] = {const_cast<char*>(script_path), nullptr};
    execv(script_path, script_argv);

    const int exec_error = errno;
    report_exec_failure(exec_error);
    return script_missing(exec_error) ? status_not_found : status_not_executable;
}
