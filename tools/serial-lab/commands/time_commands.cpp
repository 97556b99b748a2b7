// Time: run the machine for a while, wait for something to happen, show the virtual clock.
#include <chrono>
#include <functional>
#include <string>

#include <fmt/format.h>

#include "tools/serial-lab/arguments.h"
#include "tools/serial-lab/commands/commands.h"
#include "tools/serial-lab/commands/lookup.h"
#include "tools/serial-lab/lab.h"
#include "tools/serial-lab/numbers.h"

namespace lab {
namespace {

constexpr const char* group = "time";

Status run(Lab& lab, Arguments arguments) {
    if (auto counted = expect_count(arguments, 1, 1); !counted) return counted;
    auto duration = parse_duration(arguments[0].text);
    if (!duration) return duration.error();
    lab.machine().kernel().run_for(*duration);
    return ok();
}

Status show_time(Lab& lab, Arguments arguments) {
    if (auto counted = expect_count(arguments, 0, 0); !counted) return counted;
    auto& kernel = lab.machine().kernel();
    lab.console().print("virtual time {} ({} ns), jiffies {} at HZ {}\n", format_duration(kernel.now().time_since_epoch()),
                        kernel.now().time_since_epoch().count(), kernel.jiffies(), kernel.hz());
    return ok();
}

struct Condition {
    std::string description;
    std::function<bool()> holds;
    std::function<std::string()> state;  // what there is now, for the error
};

Expected<bool> modem_line_wanted(Arguments words, std::size_t index) {
    if (index >= words.size()) return true;
    if (words[index].text == "on") return true;
    if (words[index].text == "off") return false;
    return error(fmt::format("expected on or off, got '{}'", words[index].text));
}

// The condition part of a wait, everything before "within".
Expected<Condition> parse_condition(Lab& lab, Arguments words) {
    if (words.empty()) return error("wait for what? (see 'help wait')");
    const std::string& subject = words[0].text;
    if (subject == "log") {
        if (words.size() < 2) return error("wait log TEXT");
        std::string text;
        for (const auto& word : words.subspan(1)) text += (text.empty() ? "" : " ") + word.text;
        auto& log = lab.machine().kernel().log();
        return Condition{fmt::format("log line with \"{}\"", text), [&log, text] { return log.contains(text); },
                         [] { return std::string("not in the log"); }};
    }
    if (PlacedHost* host = lab.machine().hardware().host(subject)) {
        if (words.size() != 3 || words[1].text != "bytes") return error(fmt::format("wait {} bytes N", subject));
        auto count = parse_size(words[2].text);
        if (!count) return count.error();
        auto* endpoint = host->endpoint.get();
        const std::size_t base = host->shown;
        const std::size_t wanted = *count;
        return Condition{fmt::format("{} bytes {}", subject, wanted),
                         [endpoint, base, wanted] { return endpoint->received().size() - base >= wanted; },
                         [endpoint, base] { return fmt::format("{} there", endpoint->received().size() - base); }};
    }
    auto file = open_file_of(lab, subject);
    if (!file) return file.error();
    auto& core = lab.machine().serial_core();
    const auto handle = *file;
    if (words.size() < 2) return error(fmt::format("wait {} bytes N | sent | CTS|DSR|CD|RI [on|off]", subject));
    const std::string& what = words[1].text;
    if (what == "bytes") {
        if (words.size() != 3) return error(fmt::format("wait {} bytes N", subject));
        auto count = parse_size(words[2].text);
        if (!count) return count.error();
        const std::size_t wanted = *count;
        return Condition{fmt::format("{} bytes {}", subject, wanted),
                         [&core, handle, wanted] {
                             const auto* tty = core.tty_of(handle);
                             return tty != nullptr && tty->readable() >= wanted;
                         },
                         [&core, handle] {
                             auto pending = core.input_pending(handle);
                             return fmt::format("{} there", pending ? *pending : 0);
                         }};
    }
    if (what == "sent") {
        if (words.size() != 2) return error(fmt::format("unexpected argument '{}'", words[2].text));
        uart_port* port = lab.machine().port(*parse_tty(subject));
        if (port == nullptr) return error(fmt::format("{} has no port", subject));
        // The transmitter is asked directly, as tcdrain's wait does: a drain call here would
        // run the machine from inside the wait's own run loop.
        return Condition{fmt::format("{} sent", subject),
                         [&core, handle, port] {
                             auto pending = core.output_pending(handle);
                             const bool idle = port->port_ops->tx_empty == nullptr || port->port_ops->tx_empty(port) != 0;
                             return pending && *pending == 0 && idle;
                         },
                         [&core, handle] {
                             auto pending = core.output_pending(handle);
                             return fmt::format("{} bytes still waiting", pending ? *pending : 0);
                         }};
    }
    std::string upper = what;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    unsigned bit = 0;
    if (upper == "CTS") bit = TIOCM_CTS;
    if (upper == "DSR") bit = TIOCM_DSR;
    if (upper == "CD" || upper == "DCD") bit = TIOCM_CAR;
    if (upper == "RI") bit = TIOCM_RNG;
    if (bit == 0) return error(fmt::format("unknown condition '{}' (bytes, sent, CTS, DSR, CD, RI)", what));
    if (words.size() > 3) return error(fmt::format("unexpected argument '{}'", words[3].text));
    auto wanted = modem_line_wanted(words, 2);
    if (!wanted) return wanted.error();
    const bool on = *wanted;
    return Condition{fmt::format("{} {} {}", subject, upper, on ? "on" : "off"),
                     [&core, handle, bit, on] {
                         auto lines = core.get_modem_lines(handle);
                         return lines && ((*lines & bit) != 0) == on;
                     },
                     [on] { return std::string(on ? "still off" : "still on"); }};
}

Status wait(Lab& lab, Arguments arguments) {
    sim::hw::Duration limit = std::chrono::seconds(10);
    std::size_t end = arguments.size();
    for (std::size_t index = 0; index < arguments.size(); ++index) {
        if (arguments[index].text == "within" && !arguments[index].quoted) {
            if (index + 2 != arguments.size()) return error("'within DURATION' comes last");
            auto duration = parse_duration(arguments[index + 1].text);
            if (!duration) return duration.error();
            limit = *duration;
            end = index;
            break;
        }
    }
    auto condition = parse_condition(lab, arguments.subspan(0, end));
    if (!condition) return condition.error();
    if (!lab.machine().kernel().run_until(condition->holds, limit)) {
        return error(fmt::format("{}: not within {} ({})", condition->description, format_duration(limit),
                                 condition->state()));
    }
    return ok();
}

}  // namespace

void add_time_commands(CommandRegistry& registry) {
    registry.add({.name = "run",
                  .group = group,
                  .synopsis = "run DURATION",
                  .summary = "let the machine run: hardware, timers and interrupts (10ms, 150us, 2s)",
                  .example = "run 10ms",
                  .run = run});
    registry.add({.name = "wait",
                  .group = group,
                  .synopsis = "wait CONDITION [within DURATION]",
                  .summary = "run the machine until a condition holds; fail after the limit (10s)",
                  .details = "ttySN bytes N             N bytes waiting to be read\n"
                             "ttySN sent                the transmit ring empty and the transmitter idle\n"
                             "ttySN CTS|DSR|CD|RI [on|off]   a modem line (on unless told)\n"
                             "HOST bytes N              a host endpoint received N bytes since its last read\n"
                             "log TEXT                  a kernel log line containing TEXT",
                  .example = "wait ttyS1 bytes 5 within 10ms\nwait ttyS0 CTS on",
                  .completion = Completion::device,
                  .run = wait});
    registry.add({.name = "time",
                  .group = group,
                  .synopsis = "time",
                  .summary = "show the virtual clock and jiffies",
                  .example = "time",
                  .run = show_time});
}

}  // namespace lab
