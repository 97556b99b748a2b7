#pragma once

// The installation check: whether this machine has the shared libraries that the installation
// carries beside its own programs (distribution packages take their place), whether each offers
// what the installation relies on, and whether the launcher's script is there.

#include "host_access.h"

#include <iosfwd>
#include <span>
#include <string>
#include <vector>

namespace check_install {

struct Finding {
    std::string subject;  // a shared-object name or a path
    bool ok = false;
    std::string detail;          // starts with "ok", "missing", "incomplete" or "not executable"
    std::string debian_package;  // what to install when not ok; empty when no package has it
};

std::vector<Finding> check_installation(HostAccess& host);

// One line per finding and a closing line that says what to install. Returns the exit status:
// 0 when nothing is missing, 1 otherwise.
int print_report(std::span<const Finding> findings, std::ostream& out);

// Checks this machine and prints the report; the entry point of `check-install` and of
// `serial-lab check-install`.
int run_check_install(std::ostream& out, HostAccess& host = this_machine());

}  // namespace check_install
