// The lab's own commands: help, quit.
#include <string>

#include <fmt/format.h>

#include "tools/serial-lab/arguments.h"
#include "tools/serial-lab/commands/commands.h"
#include "tools/serial-lab/lab.h"

namespace lab {
namespace {

Status help(Lab& lab, Arguments arguments) {
    if (auto counted = expect_count(arguments, 0, 1); !counted) return counted;
    if (arguments.empty()) {
        lab.console().write(lab.commands().overview());
        return ok();
    }
    const Command* command = lab.commands().find(arguments[0].text);
    if (command == nullptr) return error(fmt::format("no command '{}'", arguments[0].text));
    lab.console().write(CommandRegistry::describe(*command));
    return ok();
}

Status quit(Lab& lab, Arguments arguments) {
    if (auto counted = expect_count(arguments, 0, 0); !counted) return counted;
    lab.request_quit();
    return ok();
}

}  // namespace

void add_lab_commands(CommandRegistry& registry) {
    registry.add({.name = "help",
                  .group = "lab",
                  .synopsis = "help [COMMAND]",
                  .summary = "list the commands, or describe one with an example",
                  .example = "help stty",
                  .completion = Completion::command,
                  .run = help});
    registry.add({.name = "quit",
                  .group = "lab",
                  .synopsis = "quit",
                  .summary = "leave the lab (also 'exit', or end of input)",
                  .example = "quit",
                  .run = quit});
    registry.add({.name = "exit",
                  .group = "lab",
                  .synopsis = "exit",
                  .summary = "leave the lab",
                  .example = "exit",
                  .run = quit});
}

}  // namespace lab
