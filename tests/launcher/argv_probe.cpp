// Stands in for the monitoring script where a test needs the exact argument vector and
// environment the kernel handed over: a "#!" script cannot show either, since the kernel rewrites
// argv[0] for the interpreter and the shell adds variables of its own.

#include <cstdio>

extern char** environ;

int main(int argc, char** argv)
{
    std::printf("argc=%d\n", argc);
    for (int index = 0; index < argc; ++index) {
        std::printf("argv[%d]=%s\n", index, argv[index]);
    }
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::printf("env=%s\n", *entry);
    }
    return 0;
}
