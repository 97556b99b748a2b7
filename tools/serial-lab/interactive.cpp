#include "tools/serial-lab/interactive.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <readline/history.h>
#include <readline/readline.h>

#include "tools/serial-lab/lab.h"
#include "tools/serial-lab/session.h"
#include "tools/serial-lab/tokenizer.h"

namespace lab {
namespace {

// readline's completion hooks are plain functions; the lab being completed for is kept here
// while the prompt runs.
Lab* completing_lab = nullptr;
std::vector<std::string> candidates;
std::size_t next_candidate = 0;

char* next_match(const char* text, int state) {
    if (state == 0) next_candidate = 0;
    const std::size_t length = std::strlen(text);
    while (next_candidate < candidates.size()) {
        const std::string& candidate = candidates[next_candidate++];
        if (candidate.compare(0, length, text) == 0) return strdup(candidate.c_str());
    }
    return nullptr;
}

char** complete(const char* text, int start, int /*end*/) {
    candidates.clear();
    const std::string before(rl_line_buffer, static_cast<std::size_t>(start));
    // The words typed so far in the current statement decide what comes next.
    const auto statement_start = before.rfind(';');
    const auto typed = tokenize(statement_start == std::string::npos ? before : before.substr(statement_start + 1));
    const bool first_word = !typed || typed->empty();
    if (first_word) {
        candidates = completing_lab->commands().names();
    } else {
        const Command* command = completing_lab->commands().find(typed->front().text);
        if (command == nullptr) return nullptr;
        switch (command->completion) {
            case Completion::command: candidates = completing_lab->commands().names(); break;
            case Completion::device: candidates = completing_lab->device_names(); break;
            case Completion::words:
                if (typed->size() == 1) {
                    candidates = command->words;
                } else {
                    candidates = completing_lab->device_names();
                }
                break;
            case Completion::file: return nullptr;  // readline's own file-name completion
            case Completion::none: break;
        }
    }
    rl_attempted_completion_over = 1;
    return rl_completion_matches(text, next_match);
}

std::string history_path() {
    const char* home = std::getenv("HOME");
    return home == nullptr ? std::string() : std::string(home) + "/.serial_lab_history";
}

}  // namespace

int run_prompt(Lab& lab, Session& session) {
    completing_lab = &lab;
    rl_readline_name = "serial-lab";
    rl_attempted_completion_function = complete;
    const std::string history_file = history_path();
    if (!history_file.empty()) read_history(history_file.c_str());
    while (!lab.quit_requested()) {
        char* typed = readline("serial-lab> ");
        if (typed == nullptr) {
            std::fputs("\n", stdout);
            break;
        }
        const std::string line(typed);
        std::free(typed);
        if (line.find_first_not_of(" \t") == std::string::npos) continue;
        add_history(line.c_str());
        session.run_line(line, Location{});
        std::fflush(stdout);
    }
    if (!history_file.empty()) write_history(history_file.c_str());
    completing_lab = nullptr;
    return 0;
}

}  // namespace lab
