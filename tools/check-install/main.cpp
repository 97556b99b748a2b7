// check-install: tells whether this machine has what the installation relies on.

#include "check_install.h"

#include <cstring>
#include <iostream>

int main(int argc, char** argv)
{
    if (argc > 1) {
        const bool help = std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0;
        (help ? std::cout : std::cerr)
            << "usage: " << argv[0] << "\n"
            << "Loads each shared library the installation relies on and reports, one line each,\n"
               "whether it loads and offers what is needed, and whether the launcher's script is\n"
               "in place. Exits 1 and names the Debian packages to install when something is\n"
               "missing.\n";
        return help ? 0 : 2;
    }
    return check_install::run_check_install(std::cout);
}
