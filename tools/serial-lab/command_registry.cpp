#include "tools/serial-lab/command_registry.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include <fmt/format.h>

namespace lab {
namespace {

std::string indent(std::string_view text, std::string_view prefix) {
    std::string result;
    std::size_t start = 0;
    while (start < text.size()) {
        auto end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        result += prefix;
        result.append(text.substr(start, end - start));
        result += '\n';
        start = end + 1;
    }
    return result;
}

}  // namespace

void CommandRegistry::add(Command command) {
    if (commands_.contains(command.name)) {
        std::fprintf(stderr, "panic: lab command '%s' registered twice\n", command.name.c_str());
        std::abort();
    }
    if (std::find(group_order_.begin(), group_order_.end(), command.group) == group_order_.end()) {
        group_order_.push_back(command.group);
    }
    auto name = command.name;
    commands_.emplace(std::move(name), std::move(command));
}

const Command* CommandRegistry::find(std::string_view name) const {
    const auto found = commands_.find(name);
    return found == commands_.end() ? nullptr : &found->second;
}

std::vector<const Command*> CommandRegistry::all() const {
    std::vector<const Command*> sorted;
    for (const auto& group : group_order_) {
        for (const auto& [name, command] : commands_) {
            if (command.group == group) sorted.push_back(&command);
        }
    }
    return sorted;
}

std::vector<std::string> CommandRegistry::names() const {
    std::vector<std::string> result;
    for (const auto& [name, command] : commands_) result.push_back(name);
    return result;
}

std::string CommandRegistry::describe(const Command& command) {
    std::string text = fmt::format("usage: {}\n{}\n", command.synopsis, command.summary);
    if (!command.details.empty()) text += "\n" + indent(command.details, "  ");
    if (!command.example.empty()) text += "\nexample:\n" + indent(command.example, "  ");
    return text;
}

std::string CommandRegistry::overview() const {
    std::string text;
    std::string group;
    for (const auto* command : all()) {
        if (command->group != group) {
            group = command->group;
            text += fmt::format("{}{}:\n", text.empty() ? "" : "\n", group);
        }
        // A long synopsis gets a line of its own, so the summaries stay in one column.
        if (command->synopsis.size() > 44) {
            text += fmt::format("  {}\n  {:<44} {}\n", command->synopsis, "", command->summary);
        } else {
            text += fmt::format("  {:<44} {}\n", command->synopsis, command->summary);
        }
    }
    text += "\n'help COMMAND' describes one command with an example.\n";
    return text;
}

std::string CommandRegistry::reference() const {
    std::string text;
    std::string group;
    for (const auto* command : all()) {
        if (command->group != group) {
            group = command->group;
            text += fmt::format("\n{}:\n", group);
        }
        text += fmt::format("\n  {}\n      {}\n", command->synopsis, command->summary);
        if (!command->example.empty()) text += indent(command->example, "      e.g. ");
    }
    return text;
}

}  // namespace lab
