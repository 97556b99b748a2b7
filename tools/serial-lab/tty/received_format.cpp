#include "tools/serial-lab/tty/received_format.h"

#include <fmt/format.h>

#include "tools/serial-lab/tokenizer.h"

namespace lab {
namespace {

std::string_view flag_name(char flag) {
    switch (flag) {
        case TTY_BREAK: return "break";
        case TTY_FRAME: return "frame";
        case TTY_PARITY: return "parity";
        case TTY_OVERRUN: return "overrun";
        default: return "flag?";
    }
}

char flag_letter(char flag) {
    switch (flag) {
        case TTY_NORMAL: return ' ';
        case TTY_BREAK: return 'b';
        case TTY_FRAME: return 'f';
        case TTY_PARITY: return 'p';
        case TTY_OVERRUN: return 'o';
        default: return '?';
    }
}

}  // namespace

std::string format_received(std::span<const sim::kernel::ReceivedChar> received) {
    std::string shown;
    std::string run;
    const auto end_run = [&] {
        if (run.empty()) return;
        shown += fmt::format("{}\"{}\"", shown.empty() ? "" : " ", escape_for_display(run));
        run.clear();
    };
    for (const auto& item : received) {
        if (item.flag == TTY_NORMAL) {
            run += static_cast<char>(item.character);
            continue;
        }
        end_run();
        shown += fmt::format("{}[{} {:#04x}]", shown.empty() ? "" : " ", flag_name(item.flag), item.character);
    }
    end_run();
    return shown;
}

std::string format_received_hex(std::span<const sim::kernel::ReceivedChar> received) {
    std::string shown;
    for (std::size_t offset = 0; offset < received.size(); offset += 16) {
        shown += fmt::format("{:04x}:", offset);
        for (std::size_t index = offset; index < offset + 16 && index < received.size(); ++index) {
            shown += fmt::format(" {:02x}{}", received[index].character, flag_letter(received[index].flag));
        }
        // Trailing blanks of a short line help no one.
        while (!shown.empty() && shown.back() == ' ') shown.pop_back();
        shown += '\n';
    }
    return shown;
}

}  // namespace lab
