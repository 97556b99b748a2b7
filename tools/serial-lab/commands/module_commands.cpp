// Module and kernel: insmod, rmmod, modinfo, lsmod, dmesg, cat and ls of the virtual files,
// echo (also into a parameter file).
#include <algorithm>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "sim/kernel/module/modinfo.h"
#include "tools/serial-lab/arguments.h"
#include "tools/serial-lab/commands/commands.h"
#include "tools/serial-lab/lab.h"

namespace lab {
namespace {

constexpr const char* group = "module and kernel";

std::string without_prefix(const std::string& message, const std::string& module) {
    const std::string prefix = module + ": ";
    return message.starts_with(prefix) ? message.substr(prefix.size()) : message;
}

// "8250", "8250.ko" or "path/8250.ko" -> "8250"
std::string module_name_of(const std::string& file) {
    std::string name = std::filesystem::path(file).filename().string();
    if (name.ends_with(".ko")) name.resize(name.size() - 3);
    return name;
}

// A module name stays a name for the loader's folder; anything with a slash is a path.
std::string module_file_argument(Lab& lab, const std::string& file) {
    if (file.find('/') == std::string::npos) return file;
    return lab.resolve_path(file).string();
}

Status insmod(Lab& lab, Arguments arguments) {
    if (arguments.empty()) return error("missing module (insmod 8250 [PARAM=VALUE ...])");
    std::string parameters;
    for (const auto& word : arguments.subspan(1)) {
        if (word.text.empty()) continue;
        const auto equals = word.text.find('=');
        std::string argument = word.text;
        // The kernel's parameter line groups a value with blanks in double quotes.
        if (equals != std::string::npos && argument.find(' ') != std::string::npos) {
            argument = argument.substr(0, equals + 1) + "\"" + argument.substr(equals + 1) + "\"";
        }
        parameters += (parameters.empty() ? "" : " ") + argument;
    }
    const std::string file = module_file_argument(lab, arguments[0].text);
    const auto result = lab.machine().kernel().modules().load(file, parameters);
    if (!result) {
        return kernel_refused(fmt::format("could not insert module {}: {}", arguments[0].text,
                                          without_prefix(result.message, module_name_of(file))),
                              result.error);
    }
    return ok();
}

Status rmmod(Lab& lab, Arguments arguments) {
    if (auto counted = expect_count(arguments, 1, 1); !counted) return counted;
    const std::string name = module_name_of(arguments[0].text);
    const auto result = lab.machine().kernel().modules().unload(name);
    if (!result) return kernel_refused(fmt::format("could not remove module {}: {}", name, result.message), result.error);
    return ok();
}

// The distribution's modinfo layout: the file name first, then each field in the file's
// order, the parameters last with their descriptions and types together.
std::string format_modinfo(const std::filesystem::path& file, const sim::kernel::ModInfo& info) {
    std::string text = fmt::format("{:<16}{}\n", "filename:", std::filesystem::absolute(file).lexically_normal().string());
    std::vector<std::string> parameter_order;
    for (const auto& [key, value] : info.entries) {
        if (key == "parm" || key == "parmtype") {
            const std::string name = value.substr(0, value.find(':'));
            if (std::find(parameter_order.begin(), parameter_order.end(), name) == parameter_order.end()) {
                parameter_order.push_back(name);
            }
            continue;
        }
        text += fmt::format("{:<16}{}\n", key + ":", value);
    }
    // modinfo lists the parameters in the reverse of their order in the file.
    std::reverse(parameter_order.begin(), parameter_order.end());
    for (const auto& name : parameter_order) {
        std::string description;
        std::string type;
        for (const auto& [key, value] : info.entries) {
            if (value.substr(0, value.find(':')) != name || value.find(':') == std::string::npos) continue;
            const std::string rest = value.substr(value.find(':') + 1);
            if (key == "parm") description = rest;
            if (key == "parmtype") type = rest;
        }
        std::string line = name + ":" + description;
        if (!type.empty()) line += fmt::format(" ({})", type);
        text += fmt::format("{:<16}{}\n", "parm:", line);
    }
    return text;
}

Status modinfo(Lab& lab, Arguments arguments) {
    if (auto counted = expect_count(arguments, 1, 1); !counted) return counted;
    const std::string file = module_file_argument(lab, arguments[0].text);
    const auto path = lab.machine().kernel().modules().resolve(file);
    if (!std::filesystem::exists(path)) {
        return kernel_refused(fmt::format("Module {} not found", arguments[0].text), -2);
    }
    const auto read = sim::kernel::read_modinfo(path);
    if (!read.info) return error(fmt::format("{}: {}", path.string(), read.error));
    lab.console().write(format_modinfo(path, *read.info));
    return ok();
}

Status lsmod(Lab& lab, Arguments arguments) {
    if (auto counted = expect_count(arguments, 0, 0); !counted) return counted;
    auto& modules = lab.machine().kernel().modules();
    lab.console().print("{:<19} {:>7}  {}\n", "Module", "Size", "Used by");
    for (const auto& name : modules.names()) {
        const auto info = modules.info(name);
        if (!info) continue;
        lab.console().print("{:<19} {:>7}  {}\n", name, info->image.high - info->image.low, info->references);
    }
    return ok();
}

Status dmesg(Lab& lab, Arguments arguments) {
    bool raw = false;
    bool clear_after = false;
    bool clear_only = false;
    for (const auto& word : arguments) {
        if (word.text == "-r" || word.text == "--raw") {
            raw = true;
        } else if (word.text == "-c" || word.text == "--read-clear") {
            clear_after = true;
        } else if (word.text == "-C" || word.text == "--clear") {
            clear_only = true;
        } else {
            return error(fmt::format("unknown option '{}' (-r, -c, -C)", word.text));
        }
    }
    auto& log = lab.machine().kernel().log();
    if (!clear_only) lab.console().write(log.dmesg(raw ? sim::kernel::LogFormat::raw : sim::kernel::LogFormat::plain));
    if (clear_after || clear_only) log.clear();
    return ok();
}

Status cat(Lab& lab, Arguments arguments) {
    if (arguments.empty()) return error("missing file (cat /proc/tty/driver/serial)");
    // Every file is read before anything is shown, so a bad name shows nothing.
    std::string text;
    for (const auto& word : arguments) {
        const auto read = lab.machine().kernel().files().read(word.text);
        if (read.error != 0) return kernel_refused(word.text, read.error);
        text += read.content;
    }
    lab.console().write(text);
    return ok();
}

Status ls(Lab& lab, Arguments arguments) {
    if (auto counted = expect_count(arguments, 0, 1); !counted) return counted;
    std::string prefix = arguments.empty() ? std::string("/") : arguments[0].text;
    auto& files = lab.machine().kernel().files();
    if (files.exists(prefix)) {
        lab.console().print("{}\n", prefix);
        return ok();
    }
    if (!prefix.ends_with('/')) prefix += '/';
    const auto listed = files.list(prefix);
    if (listed.empty()) return kernel_refused(arguments.empty() ? "/" : arguments[0].text, -2);
    std::vector<std::string> entries;
    for (const auto& path : listed) {
        const std::string rest = path.substr(prefix.size());
        const auto slash = rest.find('/');
        std::string entry = slash == std::string::npos ? rest : rest.substr(0, slash + 1);
        if (std::find(entries.begin(), entries.end(), entry) == entries.end()) entries.push_back(entry);
    }
    for (const auto& entry : entries) lab.console().print("{}\n", entry);
    return ok();
}

Status echo(Lab& lab, Arguments arguments) {
    std::string text;
    std::optional<std::string> target;
    for (std::size_t index = 0; index < arguments.size(); ++index) {
        const Word& word = arguments[index];
        if (!word.quoted && word.text.starts_with('>')) {
            std::string rest = word.text.substr(1);
            if (rest.empty()) {
                if (index + 1 >= arguments.size()) return error("'>' needs a file");
                rest = arguments[++index].text;
            }
            if (index + 1 < arguments.size()) return error(fmt::format("unexpected '{}' after the file", arguments[index + 1].text));
            target = rest;
            break;
        }
        text += (text.empty() ? "" : " ") + word.text;
    }
    if (!target) {
        lab.console().print("{}\n", text);
        return ok();
    }
    const int result = lab.machine().kernel().files().write(*target, text + "\n");
    if (result != 0) return kernel_refused(fmt::format("write error on {}", *target), result);
    return ok();
}

}  // namespace

void add_module_commands(CommandRegistry& registry) {
    registry.add({.name = "insmod",
                  .group = group,
                  .synopsis = "insmod MODULE [PARAM=VALUE ...]",
                  .summary = "load a module (by name from the module folder, or a .ko path) with parameters",
                  .details = "The driver's parameters: share_irqs=0|1, nr_uarts=N (at most 32),\n"
                             "probe_rsa=PORT[,PORT...] (up to four I/O ports).",
                  .example = "insmod 8250\ninsmod 8250 nr_uarts=8 probe_rsa=0x100",
                  .completion = Completion::file,
                  .run = insmod});
    registry.add({.name = "rmmod",
                  .group = group,
                  .synopsis = "rmmod MODULE",
                  .summary = "unload a module (refused while one of its ports is open)",
                  .example = "rmmod 8250",
                  .run = rmmod});
    registry.add({.name = "modinfo",
                  .group = group,
                  .synopsis = "modinfo MODULE",
                  .summary = "show a module file's information, as the distribution's modinfo does",
                  .example = "modinfo 8250",
                  .completion = Completion::file,
                  .run = modinfo});
    registry.add({.name = "lsmod",
                  .group = group,
                  .synopsis = "lsmod",
                  .summary = "list the loaded modules",
                  .example = "lsmod",
                  .run = lsmod});
    registry.add({.name = "dmesg",
                  .group = group,
                  .synopsis = "dmesg [-r] [-c|-C]",
                  .summary = "show the kernel log (-r with priorities, -c and clear, -C clear only)",
                  .example = "dmesg\ndmesg -r",
                  .run = dmesg});
    registry.add({.name = "cat",
                  .group = group,
                  .synopsis = "cat FILE...",
                  .summary = "show virtual files: /proc/tty/driver/serial, /proc/ioports, /proc/iomem, ...",
                  .details = "Also /proc/interrupts, /proc/modules and /sys/module/8250/parameters/<name>;\n"
                             "'ls /proc' and 'ls /sys/module/8250/parameters' list them.",
                  .example = "cat /proc/tty/driver/serial\ncat /sys/module/8250/parameters/nr_uarts",
                  .completion = Completion::file,
                  .run = cat});
    registry.add({.name = "ls",
                  .group = group,
                  .synopsis = "ls [FOLDER]",
                  .summary = "list the virtual files under a folder",
                  .example = "ls /sys/module/8250/parameters",
                  .run = ls});
    registry.add({.name = "echo",
                  .group = group,
                  .synopsis = "echo TEXT... [> FILE]",
                  .summary = "print a text; with '> FILE' write it to a kernel file, as in a shell",
                  .details = "Writing a parameter file changes the parameter where its mode allows.",
                  .example = "echo \"sending the file\"\necho 0 > /sys/module/8250/parameters/share_irqs",
                  .run = echo});
}

}  // namespace lab
