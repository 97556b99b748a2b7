// The lab's commands: each with its name, how to call it, what it does and an example. The
// help command, --help and completion all read this one registry.
#pragma once

#include <functional>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tools/serial-lab/status.h"
#include "tools/serial-lab/tokenizer.h"

namespace lab {

class Lab;

// What the words after a command name are, for completion at the prompt.
enum class Completion { none, device, command, file, words };

using Arguments = std::span<const Word>;
using Handler = std::function<Status(Lab& lab, Arguments arguments)>;

struct Command {
    std::string name{};
    std::string group{};     // "module and kernel", "hardware", ...
    std::string synopsis{};  // "insmod MODULE [PARAM=VALUE ...]"
    std::string summary{};   // one line
    std::string details{};   // further lines, may be empty
    std::string example{};   // one or more lines a user can type
    Completion completion = Completion::none;
    std::vector<std::string> words{};  // for Completion::words: the first argument's choices
    Handler run{};
};

class CommandRegistry {
public:
    // Adding a name twice is a programming error and aborts.
    void add(Command command);
    const Command* find(std::string_view name) const;
    std::vector<const Command*> all() const;  // by group, then by name
    std::vector<std::string> names() const;

    // The full text of `help NAME`.
    static std::string describe(const Command& command);
    // The overview of `help`: every command's synopsis and summary, by group.
    std::string overview() const;
    // Every command described with its example, for --help.
    std::string reference() const;

private:
    std::map<std::string, Command, std::less<>> commands_;
    std::vector<std::string> group_order_;
};

}  // namespace lab
