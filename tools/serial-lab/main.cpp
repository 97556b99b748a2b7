// serial-lab: a simulated PC with 8250-family UARTs, the 8250 driver module and the tools a
// serial engineer knows, driven by scripts, -c commands or an interactive prompt.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "tools/serial-lab/bridge/bridge.h"
#include "tools/serial-lab/console.h"
#include "tools/serial-lab/interactive.h"
#include "tools/serial-lab/lab.h"
#include "tools/serial-lab/session.h"

int main(int argc, char** argv) {
    lab::Console console = lab::Console::standard();
    lab::Lab lab(console);
    lab::Session session(lab);

    CLI::App app{
        "serial-lab: a simulated PC with 8250-family UARTs, the 8250 driver module, and the tools\n"
        "a serial engineer knows (insmod, dmesg, stty, setserial, ...), in virtual time.\n"
        "Runs lab scripts (one command a line, '#' comments), -c commands, or a prompt.",
        "serial-lab"};
    std::vector<std::string> scripts;
    std::vector<std::string> commands;
    bool stay_interactive = false;
    app.add_option("scripts", scripts, "lab scripts to run in order")->type_name("SCRIPT.lab");
    app.add_option("-c,--commands", commands, "commands to run, separated by ';' (may be repeated)")->type_name("'CMD; CMD'");
    app.add_flag("-i,--interactive", stay_interactive, "go on at the prompt after the scripts and -c");
    app.footer([&lab] { return "\nCommands:\n" + lab.commands().reference(); });

    lab::BridgeOptions bridge;
    std::vector<std::string> bridge_setup_scripts;
    std::vector<std::string> bridge_setup_commands;
    double bridge_seconds = 0;
    CLI::App* bridge_app = app.add_subcommand(
        "bridge",
        "Run the machine in real time and expose ttyS devices as host pseudo-terminals, so that\n"
        "real programs (pyserial, minicom, stty) use the simulated ports through the driver.\n"
        "The module is loaded if the setup did not load it. Stops on Ctrl-C or SIGTERM.");
    bridge_app->add_option("devices", bridge.devices, "ttyS devices to expose")->required()->type_name("ttySN");
    bridge_app->add_option("--setup", bridge_setup_scripts, "lab scripts to run first")->type_name("SCRIPT.lab");
    bridge_app->add_option("-c,--commands", bridge_setup_commands, "lab commands to run first")->type_name("'CMD; CMD'");
    bridge_app->add_option("--link", bridge.links, "a symlink to each pty, in the order of the devices")->type_name("PATH");
    bridge_app->add_option("--for", bridge_seconds, "stop after this many seconds of wall time")->type_name("SECONDS");
    bridge_app->footer("\nExample:\n  serial-lab bridge ttyS0 ttyS1 -c 'cable com1 com2' --link /tmp/ttyS0 --link /tmp/ttyS1");

    CLI11_PARSE(app, argc, argv);

    if (bridge_app->parsed()) {
        for (const auto& script : bridge_setup_scripts) {
            if (const int status = session.run_script_file(script); status != 0) return status;
        }
        for (const auto& text : bridge_setup_commands) {
            if (const int status = session.run_command_string(text); status != 0) return status;
        }
        if (bridge_seconds > 0) {
            bridge.run_for = std::chrono::milliseconds(static_cast<long long>(bridge_seconds * 1000));
        }
        return lab::run_bridge(lab, bridge);
    }

    for (const auto& script : scripts) {
        if (const int status = session.run_script_file(script); status != 0) return status;
        if (lab.quit_requested()) return 0;
    }
    for (const auto& text : commands) {
        if (const int status = session.run_command_string(text); status != 0) return status;
        if (lab.quit_requested()) return 0;
    }
    const bool ran_something = !scripts.empty() || !commands.empty();
    if (ran_something && !stay_interactive) return 0;
    if (isatty(STDIN_FILENO)) return lab::run_prompt(lab, session);
    // Input from a pipe or a file is a script read from standard input.
    const std::string text{std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>()};
    return session.run_script(text, "<stdin>");
}
