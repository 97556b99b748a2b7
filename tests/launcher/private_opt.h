#pragma once

// Runs a program in a private mount namespace with a fresh tmpfs over /opt, after laying out
// /opt/corvane2/scripts/xentop.py there as a test asks. The machine's own /opt is never touched:
// the tmpfs exists only in the child's namespace and disappears with it. Making the namespace
// needs root (CAP_SYS_ADMIN); when it cannot be made, the result says why.

#include <sys/types.h>

#include <string>
#include <vector>

namespace launcher_test {

inline constexpr char script_path[] = "/opt/corvane2/scripts/xentop.py";

enum class ScriptKind {
    absent,                 // nothing under /opt at all
    file,                   // the script, with the given contents and mode
    folder,                 // a folder where the script should be
    scripts_folder_is_file  // /opt/corvane2/scripts is a plain file
};

struct ScriptLayout {
    ScriptKind kind = ScriptKind::absent;
    std::string contents;
    mode_t mode = 0755;
};

struct RunResult {
    std::string setup_error;  // empty when the program was started inside the namespace
    bool exited = false;      // false: ended by a signal
    int exit_status = -1;
    int signal = 0;
    std::string standard_output;
    std::string standard_error;
};

// `arguments` follow argv[0], which is the program's path; `environment` is its whole
// environment, in "NAME=value" form.
RunResult run_with_private_opt(const std::string& program, const ScriptLayout& layout,
                               const std::vector<std::string>& arguments,
                               const std::vector<std::string>& environment);

}  // namespace launcher_test
