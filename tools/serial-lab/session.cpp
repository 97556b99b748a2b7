#include "tools/serial-lab/session.h"

#include <fstream>
#include <sstream>

#include <fmt/format.h>

#include "tools/serial-lab/command_registry.h"
#include "tools/serial-lab/kernel_errors.h"
#include "tools/serial-lab/lab.h"
#include "tools/serial-lab/tokenizer.h"

namespace lab {

std::string format_error_line(const Location& where, std::string_view command, const Error& failure) {
    std::string line;
    if (!where.source.empty()) line += fmt::format("{}:{}: ", where.source, where.line);
    if (!command.empty()) line += fmt::format("{}: ", command);
    line += failure.message;
    if (failure.kernel_error) line += fmt::format(" ({})", describe_kernel_error(*failure.kernel_error));
    return line;
}

Session::Session(Lab& lab) : lab_(lab) {}

bool Session::run_line(std::string_view line, const Location& where) {
    auto statements = split_statements(line);
    if (!statements) {
        lab_.console().error_line(format_error_line(where, "", statements.error()));
        return false;
    }
    for (const auto& statement : *statements) {
        if (!run_statement(statement, where)) return false;
    }
    return true;
}

bool Session::run_statement(std::string_view statement, const Location& where) {
    auto words = tokenize(statement);
    if (!words) {
        lab_.console().error_line(format_error_line(where, "", words.error()));
        return false;
    }
    if (words->empty()) return true;
    const std::string& name = words->front().text;
    const Command* command = lab_.commands().find(name);
    if (command == nullptr) {
        lab_.console().error_line(
            format_error_line(where, name, error("unknown command (type 'help' for the list)")));
        return false;
    }
    const Status status = command->run(lab_, Arguments(*words).subspan(1));
    if (!status) {
        lab_.console().error_line(format_error_line(where, name, status.error()));
        return false;
    }
    return true;
}

int Session::run_script(std::string_view text, std::string_view source_name) {
    std::size_t number = 0;
    std::size_t start = 0;
    while (start <= text.size() && !lab_.quit_requested()) {
        auto end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        ++number;
        if (!run_line(text.substr(start, end - start), Location{std::string(source_name), number})) {
            return 1;
        }
        start = end + 1;
    }
    return 0;
}

int Session::run_script_file(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        lab_.console().error_line(fmt::format("serial-lab: {}: cannot read the script", path.string()));
        return 1;
    }
    std::ostringstream text;
    text << file.rdbuf();
    // Files the script names are found beside it; the folder before is restored afterwards.
    const auto outer_folder = lab_.script_folder();
    lab_.set_script_folder(path.parent_path().empty() ? std::filesystem::path(".") : path.parent_path());
    const int status = run_script(text.str(), path.string());
    lab_.set_script_folder(outer_folder);
    return status;
}

int Session::run_command_string(std::string_view text) {
    std::size_t number = 0;
    std::size_t start = 0;
    while (start <= text.size()) {
        auto end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        auto statements = split_statements(text.substr(start, end - start));
        if (!statements) {
            lab_.console().error_line(format_error_line(Location{"-c", number + 1}, "", statements.error()));
            return 1;
        }
        for (const auto& statement : *statements) {
            ++number;
            if (!run_statement(statement, Location{"-c", number})) return 1;
            if (lab_.quit_requested()) return 0;
        }
        start = end + 1;
    }
    return 0;
}

}  // namespace lab
