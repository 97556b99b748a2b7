// The process side, as serial users drive a port: open, close, stty, setserial, write, read,
// modem lines, break, counters, and a whole file transfer between two ports.
#include <algorithm>
#include <array>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "tools/serial-lab/arguments.h"
#include "tools/serial-lab/commands/commands.h"
#include "tools/serial-lab/commands/lookup.h"
#include "tools/serial-lab/lab.h"
#include "tools/serial-lab/numbers.h"
#include "tools/serial-lab/tty/received_format.h"
#include "tools/serial-lab/tty/setserial_words.h"
#include "tools/serial-lab/tty/stty_words.h"

namespace lab {
namespace {

using sim::kernel::FileHandle;

constexpr const char* group = "process side";

std::string tty_name(unsigned line) { return fmt::format("ttyS{}", line); }

Status open_tty(Lab& lab, Arguments arguments) {
    if (arguments.empty()) return error("missing device (open ttyS0 [nonblock])");
    auto line = parse_tty(arguments[0].text);
    if (!line) return line.error();
    sim::kernel::OpenMode mode = sim::kernel::OpenMode::blocking;
    for (const auto& word : arguments.subspan(1)) {
        if (word.text == "nonblock" || word.text == "O_NONBLOCK") {
            mode = sim::kernel::OpenMode::nonblocking;
        } else {
            return error(fmt::format("unexpected argument '{}' (nonblock)", word.text));
        }
    }
    if (lab.machine().open_file(*line)) return error(fmt::format("ttyS{} is already open", *line));
    auto opened = lab.machine().serial_core().open(tty_name(*line), mode);
    if (!opened) return kernel_refused(fmt::format("cannot open ttyS{}", *line), opened.error());
    lab.machine().remember_open(*line, *opened);
    return ok();
}

Status close_tty(Lab& lab, Arguments arguments) {
    if (auto counted = expect_count(arguments, 1, 1); !counted) return counted;
    auto file = open_file_of(lab, arguments[0].text);
    if (!file) return file.error();
    const unsigned line = *parse_tty(arguments[0].text);
    const int result = lab.machine().serial_core().close(*file);
    // The file is gone whatever close reports, as for close(2).
    lab.machine().forget_open(line);
    if (result != 0) return kernel_refused(fmt::format("ttyS{}: close", line), result);
    return ok();
}

// stty -F DEVICE [-a] [SETTING...]; "-F/dev/ttyS0", "--file=ttyS0" and "stty ttyS0 ..." too.
Status stty(Lab& lab, Arguments arguments) {
    std::optional<std::string> device;
    bool show_all = false;
    Words settings;
    for (std::size_t index = 0; index < arguments.size(); ++index) {
        const std::string& word = arguments[index].text;
        if (word == "-F" || word == "--file") {
            if (index + 1 >= arguments.size()) return error("option requires an argument -- 'F'");
            device = arguments[++index].text;
        } else if (word.starts_with("--file=")) {
            device = word.substr(7);
        } else if (word.starts_with("-F") && word.size() > 2) {
            device = word.substr(2);
        } else if (word == "-a" || word == "--all") {
            show_all = true;
        } else if (!device && looks_like_tty(word)) {
            device = word;
        } else {
            settings.push_back(arguments[index]);
        }
    }
    if (!device) return error("which device? (stty -F ttyS0 ...)");
    auto line = parse_tty(*device);
    if (!line) return line.error();
    if (show_all && !settings.empty()) return error("the options for verbose output and for changing settings are mutually exclusive");
    return with_file(lab, *line, [&](FileHandle file) -> Status {
        auto& core = lab.machine().serial_core();
        auto current = core.get_termios(file);
        if (!current) return kernel_refused(fmt::format("{}: cannot get the settings", *device), current.error());
        if (settings.empty()) {
            lab.console().write(show_all ? format_stty_all(*current) : format_stty_short(*current));
            return ok();
        }
        auto wanted = apply_stty_words(*current, settings);
        if (!wanted) return wanted.error();
        const int result = core.set_termios(file, *wanted);
        if (result != 0) return kernel_refused(fmt::format("{}: cannot set the settings", *device), result);
        return ok();
    });
}

SerialInfo info_from(const requested_settings& settings) {
    SerialInfo info;
    info.line = settings.line;
    info.type = static_cast<std::uint32_t>(settings.req_type);
    info.type_name = std::string(uart_type_name(info.type));
    info.port = settings.port;
    info.iomem_base = reinterpret_cast<std::uintptr_t>(settings.iomem_base);
    info.irq = settings.req_irq;
    info.flags = static_cast<std::uint32_t>(settings.flags);
    info.baud_base = static_cast<std::uint32_t>(settings.req_baud_base);
    info.close_delay = settings.close_delay;
    info.closing_wait = settings.closing_wait;
    info.custom_divisor = settings.custom_divisor;
    info.xmit_fifo_size = settings.xmit_fifo_size;
    info.io_type = static_cast<std::uint32_t>(settings.io_type);
    info.hub6 = static_cast<std::uint32_t>(settings.hub6);
    info.reg_shift = settings.iomem_reg_shift;
    return info;
}

Status setserial(Lab& lab, Arguments arguments) {
    SetserialReport style = SetserialReport::plain;
    std::size_t index = 0;
    for (; index < arguments.size() && arguments[index].text.starts_with('-') && !looks_like_tty(arguments[index].text);
         ++index) {
        const std::string& option = arguments[index].text;
        if (option == "-a") {
            style = SetserialReport::all;
        } else if (option == "-G") {
            style = SetserialReport::gets;
        } else if (option == "-b") {
            style = SetserialReport::boot;
        } else if (option != "-q" && option != "-v") {
            return error(fmt::format("unknown option '{}' (-a, -G, -b)", option));
        }
    }
    if (index >= arguments.size()) return error("which device? (setserial ttyS0 ...)");
    auto line = parse_tty(arguments[index].text);
    if (!line) return line.error();
    auto change = parse_setserial_words(arguments.subspan(index + 1));
    if (!change) return change.error();
    return with_file(lab, *line, [&](FileHandle file) -> Status {
        auto& core = lab.machine().serial_core();
        auto current = core.get_serial_info(file);
        if (!current) return kernel_refused(fmt::format("/dev/ttyS{}: cannot get the serial information", *line), current.error());
        if (!change->changes_settings()) {
            lab.console().write(format_setserial(info_from(*current), style));
            return ok();
        }
        requested_settings wanted = *current;
        if (change->port) wanted.port = *change->port;
        if (change->irq) wanted.req_irq = *change->irq;
        if (change->type) wanted.req_type = static_cast<std::int32_t>(*change->type);
        if (change->baud_base) wanted.req_baud_base = static_cast<std::int32_t>(*change->baud_base);
        if (change->custom_divisor) wanted.custom_divisor = *change->custom_divisor;
        if (change->close_delay) wanted.close_delay = static_cast<std::uint16_t>(*change->close_delay);
        if (change->closing_wait) wanted.closing_wait = static_cast<std::uint16_t>(*change->closing_wait);
        wanted.flags = static_cast<std::int32_t>((static_cast<std::uint32_t>(wanted.flags) & ~change->flags_to_clear) |
                                                 change->flags_to_set);
        const int result = core.set_serial_info(file, wanted);
        if (result != 0) return kernel_refused(fmt::format("/dev/ttyS{}: cannot set the serial information", *line), result);
        return ok();
    });
}

Expected<std::string> read_file(Lab& lab, const std::string& name) {
    const auto path = lab.resolve_path(name);
    std::ifstream file(path, std::ios::binary);
    if (!file) return error(fmt::format("cannot read '{}'", path.string()));
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

Status write_tty(Lab& lab, Arguments arguments) {
    if (arguments.size() < 2) return error("write ttyS0 TEXT... | write ttyS0 -f FILE");
    auto file = open_file_of(lab, arguments[0].text);
    if (!file) return file.error();
    std::string bytes;
    if (!arguments[1].quoted && (arguments[1].text == "-f" || arguments[1].text == "--file")) {
        if (auto counted = expect_count(arguments, 3, 3); !counted) return counted;
        auto contents = read_file(lab, arguments[2].text);
        if (!contents) return contents.error();
        bytes = std::move(*contents);
    } else {
        for (const auto& word : arguments.subspan(1)) bytes += (bytes.empty() ? "" : " ") + word.text;
    }
    if (bytes.empty()) return ok();
    const auto data = std::span(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    auto written = lab.machine().serial_core().write(*file, data);
    if (!written) return kernel_refused(fmt::format("{}: write", arguments[0].text), written.error());
    if (*written < bytes.size()) {
        lab.console().print("{}: {} of {} bytes taken\n", arguments[0].text, *written, bytes.size());
    }
    return ok();
}

std::vector<sim::kernel::ReceivedChar> pairs_of(const sim::kernel::ReadResult& result) {
    std::vector<sim::kernel::ReceivedChar> pairs;
    for (std::size_t index = 0; index < result.bytes.size(); ++index) {
        pairs.push_back({result.bytes[index], index < result.flags.size() ? result.flags[index] : TTY_NORMAL});
    }
    return pairs;
}

// read ttyS1 [COUNT] [within DURATION] [hex]
Status read_tty(Lab& lab, Arguments arguments) {
    if (arguments.empty()) return error("missing device (read ttyS1 [COUNT] [within DURATION] [hex])");
    auto file = open_file_of(lab, arguments[0].text);
    if (!file) return file.error();
    std::optional<std::uint64_t> count;
    sim::hw::Duration limit = sim::kernel::default_wait_limit;
    bool hex = false;
    for (std::size_t index = 1; index < arguments.size(); ++index) {
        const std::string& word = arguments[index].text;
        if (word == "hex") {
            hex = true;
        } else if (word == "within") {
            if (index + 1 >= arguments.size()) return error("'within' needs a time");
            auto duration = parse_duration(arguments[++index].text);
            if (!duration) return duration.error();
            limit = *duration;
        } else if (!count) {
            auto number = parse_size(word);
            if (!number) return number.error();
            if (*number == 0) return error("count must not be 0");
            if (*number > (1u << 20)) return error("count is at most 1M");
            count = *number;
        } else {
            return error(fmt::format("unexpected argument '{}'", word));
        }
    }
    auto& core = lab.machine().serial_core();
    sim::kernel::ReadRequest request;
    if (count) {
        request.max = *count;
        request.min = *count;
        request.limit = limit;
    } else {
        auto pending = core.input_pending(*file);
        if (!pending) return kernel_refused(fmt::format("{}: read", arguments[0].text), pending.error());
        if (*pending == 0) {
            lab.console().print("{}: 0 bytes\n", arguments[0].text);
            return ok();
        }
        request.max = *pending;
        request.min = *pending;
    }
    auto result = core.read(*file, request);
    if (!result) {
        if (result.error() == -4) {
            return kernel_refused(fmt::format("{}: nothing arrived within {}", arguments[0].text, format_duration(limit)),
                                  result.error());
        }
        return kernel_refused(fmt::format("{}: read", arguments[0].text), result.error());
    }
    const auto pairs = pairs_of(*result);
    if (hex) {
        lab.console().print("{}: {} byte{}\n{}", arguments[0].text, pairs.size(), pairs.size() == 1 ? "" : "s",
                            format_received_hex(pairs));
    } else {
        lab.console().print("{}: {} byte{}{}{}\n", arguments[0].text, pairs.size(), pairs.size() == 1 ? "" : "s",
                            pairs.empty() ? " (end of file: hung up)" : ": ", format_received(pairs));
    }
    return ok();
}

struct ModemLineName {
    std::string_view name;
    unsigned bit;
};
constexpr std::array<ModemLineName, 5> output_lines{{
    {"DTR", TIOCM_DTR}, {"RTS", TIOCM_RTS}, {"OUT1", TIOCM_OUT1}, {"OUT2", TIOCM_OUT2}, {"LOOP", TIOCM_LOOP}}};
constexpr std::array<ModemLineName, 4> input_lines{{
    {"CTS", TIOCM_CTS}, {"DSR", TIOCM_DSR}, {"CD", TIOCM_CAR}, {"RI", TIOCM_RNG}}};

std::string format_modem_lines(unsigned lines) {
    std::string text;
    for (const auto& line : output_lines) text += fmt::format(" {}{}", (lines & line.bit) ? "" : "-", line.name);
    text += "  |";
    for (const auto& line : input_lines) text += fmt::format(" {}{}", (lines & line.bit) ? "" : "-", line.name);
    return text;
}

// modem ttyS0 [set LINE...] [clear LINE...]
Status modem(Lab& lab, Arguments arguments) {
    if (arguments.empty()) return error("missing device (modem ttyS0 [set DTR RTS] [clear OUT2])");
    auto file = open_file_of(lab, arguments[0].text);
    if (!file) return file.error();
    unsigned to_set = 0;
    unsigned to_clear = 0;
    unsigned* target = nullptr;
    for (const auto& word : arguments.subspan(1)) {
        std::string upper = word.text;
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (upper == "SET") {
            target = &to_set;
            continue;
        }
        if (upper == "CLEAR") {
            target = &to_clear;
            continue;
        }
        const auto found = std::find_if(output_lines.begin(), output_lines.end(),
                                        [&](const ModemLineName& line) { return line.name == upper; });
        if (found == output_lines.end()) return error(fmt::format("'{}' is not a line the port drives (DTR RTS OUT1 OUT2 LOOP)", word.text));
        if (target == nullptr) return error(fmt::format("set or clear {}?", word.text));
        *target |= found->bit;
    }
    if ((to_set & to_clear) != 0) return error("a line cannot be set and cleared at once");
    auto& core = lab.machine().serial_core();
    if (to_set != 0) {
        if (const int result = core.raise_modem_lines(*file, to_set); result != 0) {
            return kernel_refused(fmt::format("{}: TIOCMBIS", arguments[0].text), result);
        }
    }
    if (to_clear != 0) {
        if (const int result = core.lower_modem_lines(*file, to_clear); result != 0) {
            return kernel_refused(fmt::format("{}: TIOCMBIC", arguments[0].text), result);
        }
    }
    auto lines = core.get_modem_lines(*file);
    if (!lines) return kernel_refused(fmt::format("{}: TIOCMGET", arguments[0].text), lines.error());
    lab.console().print("{}:{}\n", arguments[0].text, format_modem_lines(*lines));
    return ok();
}

Status send_break(Lab& lab, Arguments arguments) {
    if (auto counted = expect_count(arguments, 1, 2); !counted) return counted;
    auto file = open_file_of(lab, arguments[0].text);
    if (!file) return file.error();
    auto& core = lab.machine().serial_core();
    int result = 0;
    if (arguments.size() == 2 && (arguments[1].text == "on" || arguments[1].text == "off")) {
        result = core.set_break(*file, arguments[1].text == "on");
    } else {
        sim::hw::Duration length = std::chrono::milliseconds(250);
        if (arguments.size() == 2) {
            auto parsed = parse_duration(arguments[1].text);
            if (!parsed) return parsed.error();
            length = *parsed;
        }
        result = core.send_break(*file, length);
    }
    if (result != 0) return kernel_refused(fmt::format("{}: break", arguments[0].text), result);
    return ok();
}

std::string format_counters(const uart_icount& counters) {
    return fmt::format("rx {} tx {} frame {} parity {} overrun {} break {} cts {} dsr {} dcd {} ri {}",
                       counters.rx_chars, counters.tx_chars, counters.frame_errors, counters.parity_errors,
                       counters.overruns, counters.breaks, counters.cts_changes, counters.dsr_changes,
                       counters.dcd_changes, counters.ring_edges);
}

Status counters(Lab& lab, Arguments arguments) {
    if (arguments.empty()) return error("missing device (counters ttyS0)");
    std::string text;
    for (const auto& word : arguments) {
        auto line = parse_tty(word.text);
        if (!line) return line.error();
        Status status = with_file(lab, *line, [&](FileHandle file) -> Status {
            auto counted = lab.machine().serial_core().get_counters(file);
            if (!counted) return kernel_refused(fmt::format("{}: TIOCGICOUNT", word.text), counted.error());
            text += fmt::format("{}: {}\n", tty_name(*line), format_counters(*counted));
            return ok();
        });
        if (!status) return status;
    }
    lab.console().write(text);
    return ok();
}

unsigned bits_per_character(tcflag_t cflag) {
    const unsigned data = 5 + ((cflag & CSIZE) >> 4);
    return 1 + data + ((cflag & PARENB) ? 1 : 0) + ((cflag & CSTOPB) ? 2 : 1);
}

// A deterministic pattern that is not all one byte: a receiver that drops or doubles one shows.
std::string pattern_bytes(std::size_t size) {
    std::string bytes(size, '\0');
    std::uint32_t state = 0x2545f491u;
    for (auto& byte : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<char>(state & 0xff);
    }
    return bytes;
}

// transfer FROM TO file=PATH|size=N [within DURATION]
Status transfer(Lab& lab, Arguments arguments) {
    if (arguments.size() < 3) return error("transfer ttyS0 ttyS1 file=PATH|size=64K [within=60s]");
    auto sender = open_file_of(lab, arguments[0].text);
    if (!sender) return sender.error();
    auto receiver = open_file_of(lab, arguments[1].text);
    if (!receiver) return receiver.error();
    if (*sender == *receiver) return error("sender and receiver are the same file");
    auto settings = Settings::parse(arguments.subspan(2), {"file", "size", "within"});
    if (!settings) return settings.error();
    if (settings->has("file") == settings->has("size")) return error("give file=PATH or size=N");
    std::string data;
    std::string what;
    if (const auto name = settings->text("file")) {
        auto contents = read_file(lab, *name);
        if (!contents) return contents.error();
        data = std::move(*contents);
        what = std::filesystem::path(*name).filename().string();
    } else {
        auto size = parse_size(*settings->text("size"));
        if (!size) return size.error();
        if (*size > (64u << 20)) return error("size is at most 64M");
        data = pattern_bytes(*size);
        what = fmt::format("{} pattern bytes", *size);
    }
    if (data.empty()) return error("nothing to send");
    auto limit_text = settings->text("within").value_or("600s");
    auto limit = parse_duration(limit_text);
    if (!limit) return limit.error();

    auto& core = lab.machine().serial_core();
    auto& kernel = lab.machine().kernel();
    auto before_sender = core.get_counters(*sender);
    auto before_receiver = core.get_counters(*receiver);
    auto sender_settings = core.get_termios(*sender);
    if (!before_sender || !before_receiver || !sender_settings) {
        return kernel_refused("cannot read the ports' state", before_sender.error() | before_receiver.error() | sender_settings.error());
    }
    const auto baud = baud_of(sender_settings->c_cflag).value_or(0);
    lab.console().print("{} -> {}: {} ({} bytes) at {} bit/s\n", arguments[0].text, arguments[1].text, what,
                        data.size(), baud);

    const auto start = kernel.now();
    std::size_t sent = 0;
    std::string received;
    std::vector<char> flags_seen;
    unsigned next_progress = 1;
    // Fill the transmit ring as it empties and read as data arrives, a few milliseconds of
    // machine time at a time, as a sending and a receiving program would.
    while (received.size() < data.size()) {
        if (kernel.now() - start > *limit) {
            return error(fmt::format("only {} of {} bytes arrived within {} (sent {})", received.size(), data.size(),
                                     format_duration(*limit), sent));
        }
        if (sent < data.size()) {
            auto pending = core.output_pending(*sender);
            if (!pending) return kernel_refused(fmt::format("{}: TIOCOUTQ", arguments[0].text), pending.error());
            const std::size_t room = *pending < 4095 ? 4095 - *pending : 0;
            const std::size_t chunk = std::min(room, data.size() - sent);
            if (chunk > 0) {
                auto written = core.write(*sender, std::span(reinterpret_cast<const unsigned char*>(data.data()) + sent, chunk),
                                          std::chrono::milliseconds(1));
                if (!written && written.error() != -11 && written.error() != -4) {
                    return kernel_refused(fmt::format("{}: write", arguments[0].text), written.error());
                }
                if (written) sent += *written;
            }
        }
        // Run until a good piece has arrived (or all that is still to come), at most 2 ms, so
        // the end of the transfer is seen when it happens.
        const std::size_t still_to_come = data.size() - received.size();
        const auto* receiving_tty = core.tty_of(*receiver);
        kernel.run_until(
            [&] { return receiving_tty != nullptr && receiving_tty->readable() >= std::min<std::size_t>(still_to_come, 256); },
            std::chrono::milliseconds(2));
        auto available = core.input_pending(*receiver);
        if (!available) return kernel_refused(fmt::format("{}: TIOCINQ", arguments[1].text), available.error());
        if (*available > 0) {
            auto got = core.read(*receiver, sim::kernel::ReadRequest{*available, *available, std::chrono::seconds(1)});
            if (!got) return kernel_refused(fmt::format("{}: read", arguments[1].text), got.error());
            received.append(got->bytes.begin(), got->bytes.end());
            flags_seen.insert(flags_seen.end(), got->flags.begin(), got->flags.end());
        }
        while (next_progress <= 4 && received.size() * 4 >= data.size() * next_progress) {
            lab.console().print("  {:>3}%  {:>9} bytes  {}\n", next_progress * 25,
                                std::min(received.size(), data.size() * next_progress / 4),
                                format_duration(kernel.now() - start));
            ++next_progress;
        }
    }
    const auto elapsed = kernel.now() - start;
    // With fewer than 8 data bits only the low bits of each byte travel.
    const unsigned data_bits = 5 + ((sender_settings->c_cflag & CSIZE) >> 4);
    std::string expected = data;
    for (char& byte : expected) byte = static_cast<char>(static_cast<unsigned char>(byte) & ((1u << data_bits) - 1));
    const bool equal = received.substr(0, data.size()) == expected;
    const auto flagged = std::count_if(flags_seen.begin(), flags_seen.end(), [](char flag) { return flag != TTY_NORMAL; });
    const double seconds = static_cast<double>(elapsed.count()) / 1e9;
    const unsigned bits = bits_per_character(sender_settings->c_cflag);
    const double utilisation = baud == 0 || seconds == 0 ? 0.0 : 100.0 * static_cast<double>(data.size() * bits) / (seconds * baud);
    lab.console().print("sent {} bytes, received {} bytes, {} in {} of virtual time\n", data.size(), received.size(),
                        equal && flagged == 0 ? (data_bits < 8 ? fmt::format("all equal in their {} data bits", data_bits) : std::string("all equal")) : fmt::format("{} flagged, {}", flagged, equal ? "equal" : "NOT EQUAL"),
                        format_duration(elapsed));
    lab.console().print("throughput {:.0f} bytes/s, line utilisation {:.1f}% ({} bits a character)\n",
                        static_cast<double>(data.size()) / seconds, utilisation, bits);
    auto after_sender = core.get_counters(*sender);
    auto after_receiver = core.get_counters(*receiver);
    if (after_sender && after_receiver) {
        lab.console().print("{}: {}\n{}: {}\n", arguments[0].text, format_counters(*after_sender), arguments[1].text,
                            format_counters(*after_receiver));
    }
    if (!equal) return error("the received bytes differ from the sent ones");
    return ok();
}

}  // namespace

void add_tty_commands(CommandRegistry& registry) {
    registry.add({.name = "open",
                  .group = group,
                  .synopsis = "open ttySN [nonblock]",
                  .summary = "open a ttyS device and hold it open (as a process would) until 'close'",
                  .example = "open ttyS0",
                  .completion = Completion::device,
                  .run = open_tty});
    registry.add({.name = "close",
                  .group = group,
                  .synopsis = "close ttySN",
                  .summary = "close a ttyS device (the last close drains and shuts the port down)",
                  .example = "close ttyS0",
                  .completion = Completion::device,
                  .run = close_tty});
    registry.add({.name = "stty",
                  .group = group,
                  .synopsis = "stty -F ttySN [-a] [SETTING...]",
                  .summary = "show or change a port's line settings, with the words of stty",
                  .details = "Settings: " + stty_word_list() + ".\n"
                             "A port nobody holds open is opened for the call and closed again.",
                  .example = "stty -F ttyS0 115200 cs8 -parenb -cstopb crtscts\nstty -F ttyS0 -a",
                  .completion = Completion::device,
                  .run = stty});
    registry.add({.name = "setserial",
                  .group = group,
                  .synopsis = "setserial [-a|-G|-b] ttySN [WORD...]",
                  .summary = "show or change a port's serial information, with the words of setserial",
                  .details = "Words: port N, irq N, uart TYPE, baud_base N, divisor N, close_delay N,\n"
                             "closing_wait N, spd_normal|spd_hi|spd_vhi|spd_shi|spd_warp|spd_cust, and flags\n"
                             "(skip_test, auto_irq, fourport, sak, low_latency, buggy_uart, ...) with ^ to clear.",
                  .example = "setserial ttyS0\nsetserial -a ttyS0\nsetserial ttyS0 spd_hi ^skip_test",
                  .completion = Completion::device,
                  .run = setserial});
    registry.add({.name = "write",
                  .group = group,
                  .synopsis = "write ttySN TEXT... | write ttySN -f FILE",
                  .summary = "write bytes to an open port (C escapes in double quotes), or a file's contents",
                  .example = "write ttyS0 \"hello\\r\\n\"\nwrite ttyS0 -f data.bin",
                  .completion = Completion::device,
                  .run = write_tty});
    registry.add({.name = "read",
                  .group = group,
                  .synopsis = "read ttySN [COUNT] [within DURATION] [hex]",
                  .summary = "read what arrived (or wait for COUNT bytes), with error flags in brackets",
                  .details = "Characters that arrived with a flag show as [break 0x00], [parity 0x41],\n"
                             "[frame 0x41] and [overrun 0x00]; 'hex' shows a dump with flag letters.",
                  .example = "read ttyS1\nread ttyS1 5 within 10ms",
                  .completion = Completion::device,
                  .run = read_tty});
    registry.add({.name = "modem",
                  .group = group,
                  .synopsis = "modem ttySN [set LINE...] [clear LINE...]",
                  .summary = "show the modem lines, or set and clear DTR RTS OUT1 OUT2 LOOP",
                  .example = "modem ttyS0\nmodem ttyS0 clear RTS set LOOP",
                  .completion = Completion::device,
                  .run = modem});
    registry.add({.name = "break",
                  .group = group,
                  .synopsis = "break ttySN [DURATION|on|off]",
                  .summary = "send a break (250ms unless told), or hold it on and off",
                  .example = "break ttyS0 100ms",
                  .completion = Completion::device,
                  .run = send_break});
    registry.add({.name = "counters",
                  .group = group,
                  .synopsis = "counters ttySN...",
                  .summary = "show a port's counters (characters, errors, modem-line changes)",
                  .example = "counters ttyS0 ttyS1",
                  .completion = Completion::device,
                  .run = counters});
    registry.add({.name = "transfer",
                  .group = group,
                  .synopsis = "transfer FROM TO file=PATH|size=N [within=DURATION]",
                  .summary = "send a file (or N pattern bytes) from one open port to another, with progress",
                  .details = "Reports the bytes, the virtual time taken, the line utilisation and the counters,\n"
                             "and fails if what arrived differs from what was sent.",
                  .example = "transfer ttyS0 ttyS1 size=64K\ntransfer ttyS0 ttyS1 file=data/uart-notes.txt",
                  .completion = Completion::device,
                  .run = transfer});
}

}  // namespace lab
