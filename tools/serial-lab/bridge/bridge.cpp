// The bridge's loop: it sees the kernel side (serial core, termios) and reaches the host's
// terminals only through host_pty.h, whose plain settings record keeps the two worlds apart.
#include "tools/serial-lab/bridge/bridge.h"

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdio>
#include <deque>
#include <memory>

#include <fmt/format.h>

#include "tools/serial-lab/bridge/host_pty.h"
#include "tools/serial-lab/commands/lookup.h"
#include "tools/serial-lab/lab.h"
#include "tools/serial-lab/machine/line_format_words.h"
#include "tools/serial-lab/tty/stty_words.h"

namespace lab {
namespace {

volatile std::sig_atomic_t stop_requested = 0;

extern "C" void request_stop(int /*signal*/) { stop_requested = 1; }

struct Bridge {
    unsigned line = 0;
    sim::kernel::FileHandle file;
    std::unique_ptr<bridge::HostPty> pty;
    bridge::PtyLineSettings applied;
    std::deque<unsigned char> to_port;  // from the program, not yet taken by the port
    std::deque<unsigned char> to_pty;   // from the port, not yet taken by the pty
    bool carries_framing = true;
    std::size_t bytes_in = 0;
    std::size_t bytes_out = 0;
};

ktermios with_pty_settings(ktermios settings, const bridge::PtyLineSettings& pty, bool carries_framing) {
    static constexpr std::array<tcflag_t, 4> sizes{CS5, CS6, CS7, CS8};
    settings.c_cflag &= ~(CSTOPB | CRTSCTS | CLOCAL | CREAD);
    // A host whose ptys drop data bits and parity leaves the port's own.
    if (carries_framing) {
        settings.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR);
        settings.c_cflag |= sizes[std::clamp(pty.data_bits, 5u, 8u) - 5];
        if (pty.parity) settings.c_cflag |= PARENB;
        if (pty.odd_parity) settings.c_cflag |= PARODD;
        if (pty.mark_space) settings.c_cflag |= CMSPAR;
    }
    if (pty.two_stop_bits) settings.c_cflag |= CSTOPB;
    if (pty.rts_cts) settings.c_cflag |= CRTSCTS;
    if (pty.local) settings.c_cflag |= CLOCAL;
    if (pty.receiver_on) settings.c_cflag |= CREAD;
    if (const auto code = speed_code(pty.baud)) settings.c_cflag = (settings.c_cflag & ~CBAUD) | *code;
    // A program that talks through a pty wants its bytes as they are.
    settings.c_iflag &= ~(ICRNL | IXON | IXOFF | ISTRIP | INLCR | IGNCR);
    settings.c_oflag &= ~OPOST;
    return settings;
}

// The port's settings as the bridge reports them: "9600 bit/s 7E1 -crtscts clocal".
std::string describe(const ktermios& settings) {
    const tcflag_t cflag = settings.c_cflag;
    const char parity = (cflag & PARENB) == 0 ? 'N'
                        : (cflag & CMSPAR) != 0 ? ((cflag & PARODD) != 0 ? 'M' : 'S')
                                                : ((cflag & PARODD) != 0 ? 'O' : 'E');
    return fmt::format("{} bit/s {}{}{} {}crtscts {}clocal", baud_of(cflag).value_or(0), 5 + ((cflag & CSIZE) >> 4), parity,
                       (cflag & CSTOPB) != 0 ? 2 : 1, (cflag & CRTSCTS) != 0 ? "" : "-", (cflag & CLOCAL) != 0 ? "" : "-");
}

void apply_settings(Lab& lab, Bridge& bridge, const bridge::PtyLineSettings& wanted) {
    auto& core = lab.machine().serial_core();
    auto current = core.get_termios(bridge.file);
    if (!current) return;
    if (wanted.baud == 0) {
        lab.console().print("ttyS{}: the pty asks for a rate this kernel has no code for; kept as it was\n", bridge.line);
    } else {
        const ktermios settings = with_pty_settings(*current, wanted, bridge.carries_framing);
        if (const int result = core.set_termios(bridge.file, settings); result != 0) {
            lab.console().error_line(fmt::format("ttyS{}: settings from the pty refused ({})", bridge.line, result));
        } else {
            lab.console().print("ttyS{}: settings from the pty: {}\n", bridge.line, describe(settings));
        }
    }
    bridge.applied = wanted;
}

// Moves what is waiting in both directions without blocking.
void pump(Lab& lab, Bridge& bridge) {
    auto& core = lab.machine().serial_core();
    std::array<unsigned char, 4096> buffer{};
    if (bridge.to_port.size() < buffer.size()) {
        const std::size_t got = bridge.pty->read_available(std::span(buffer).first(buffer.size() - bridge.to_port.size()));
        bridge.to_port.insert(bridge.to_port.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(got));
    }
    if (!bridge.to_port.empty()) {
        auto pending = core.output_pending(bridge.file);
        const std::size_t room = pending && *pending < 4095 ? 4095 - *pending : 0;
        const std::size_t count = std::min(room, bridge.to_port.size());
        if (count > 0) {
            std::vector<unsigned char> chunk(bridge.to_port.begin(), bridge.to_port.begin() + static_cast<std::ptrdiff_t>(count));
            auto written = core.write(bridge.file, chunk, std::chrono::nanoseconds(0));
            if (written) {
                bridge.to_port.erase(bridge.to_port.begin(), bridge.to_port.begin() + static_cast<std::ptrdiff_t>(*written));
                bridge.bytes_in += *written;
            }
        }
    }
    if (auto available = core.input_pending(bridge.file); available && *available > 0) {
        auto got = core.read(bridge.file, sim::kernel::ReadRequest{*available, *available, std::chrono::milliseconds(1)});
        if (got) bridge.to_pty.insert(bridge.to_pty.end(), got->bytes.begin(), got->bytes.end());
    }
    while (!bridge.to_pty.empty()) {
        const std::size_t count = std::min(bridge.to_pty.size(), buffer.size());
        std::copy_n(bridge.to_pty.begin(), count, buffer.begin());
        const std::size_t put = bridge.pty->write_some(std::span(buffer).first(count));
        if (put == 0) break;
        bridge.to_pty.erase(bridge.to_pty.begin(), bridge.to_pty.begin() + static_cast<std::ptrdiff_t>(put));
        bridge.bytes_out += put;
    }
}

}  // namespace

int run_bridge(Lab& lab, const BridgeOptions& options) {
    if (options.devices.empty()) {
        lab.console().error_line("serial-lab bridge: which devices? (serial-lab bridge ttyS0 [ttyS1 ...])");
        return 2;
    }
    if (options.links.size() > options.devices.size()) {
        lab.console().error_line("serial-lab bridge: more --link paths than devices");
        return 2;
    }
    auto& kernel = lab.machine().kernel();
    if (!kernel.modules().loaded("8250")) {
        if (const auto loaded = kernel.modules().load("8250"); !loaded) {
            lab.console().error_line(fmt::format("serial-lab bridge: insmod 8250: {}", loaded.message));
            return 1;
        }
    }
    std::vector<Bridge> bridges;
    for (std::size_t index = 0; index < options.devices.size(); ++index) {
        const auto& device = options.devices[index];
        auto line = parse_tty(device);
        if (!line) {
            lab.console().error_line(fmt::format("serial-lab bridge: {}", line.error().message));
            return 2;
        }
        Bridge bridge;
        bridge.line = *line;
        if (auto held = lab.machine().open_file(*line)) {
            bridge.file = *held;
        } else {
            auto opened = lab.machine().serial_core().open(device, sim::kernel::OpenMode::nonblocking);
            if (!opened) {
                lab.console().error_line(fmt::format("serial-lab bridge: cannot open {} (error {})", device, opened.error()));
                return 1;
            }
            bridge.file = *opened;
            lab.machine().remember_open(*line, *opened);
        }
        std::string failure;
        auto pty = bridge::HostPty::open(failure);
        if (!pty) {
            lab.console().error_line(fmt::format("serial-lab bridge: {}", failure));
            return 1;
        }
        bridge.pty = std::make_unique<bridge::HostPty>(std::move(*pty));
        // What the pty holds now is the baseline: the port keeps its own settings until a
        // program changes the pty's.
        bridge.applied = bridge.pty->settings();
        bridge.carries_framing = bridge.pty->carries_framing();
        if (index < options.links.size() && !bridge.pty->make_link(options.links[index])) {
            lab.console().error_line(fmt::format("serial-lab bridge: cannot link {} to {}", options.links[index],
                                                 bridge.pty->path()));
            return 1;
        }
        lab.console().print("{} is {}{}\n", device, bridge.pty->path(),
                            index < options.links.size() ? fmt::format(" (linked as {})", options.links[index]) : "");
        if (!bridge.carries_framing) {
            auto current = lab.machine().serial_core().get_termios(bridge.file);
            lab.console().print("{}: this host's ptys carry no data bits or parity; the port keeps its own ({})\n",
                                device, current ? describe(*current) : std::string("?"));
        }
        bridges.push_back(std::move(bridge));
    }
    std::fflush(stdout);

    std::signal(SIGINT, request_stop);
    std::signal(SIGTERM, request_stop);
    std::vector<bridge::HostPty*> ptys;
    for (auto& bridge : bridges) ptys.push_back(bridge.pty.get());
    // Real time: virtual time follows the wall clock. A step never runs ahead of it, and a
    // machine that falls behind catches up at most 50 ms at a time.
    const auto wall_start = std::chrono::steady_clock::now();
    const auto virtual_start = kernel.now();
    while (stop_requested == 0) {
        const auto wall_elapsed = std::chrono::steady_clock::now() - wall_start;
        if (options.run_for && wall_elapsed >= *options.run_for) break;
        for (auto& bridge : bridges) {
            const auto wanted = bridge.pty->settings();
            if (!(wanted == bridge.applied)) apply_settings(lab, bridge, wanted);
            pump(lab, bridge);
        }
        const auto behind = std::chrono::duration_cast<sim::hw::Duration>(wall_elapsed) - (kernel.now() - virtual_start);
        if (behind > sim::hw::Duration::zero()) kernel.run_for(std::min<sim::hw::Duration>(behind, std::chrono::milliseconds(50)));
        for (auto& bridge : bridges) pump(lab, bridge);
        std::fflush(stdout);
        bridge::HostPty::wait_for_input(ptys, 1);
    }
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    for (const auto& bridge : bridges) {
        lab.console().print("ttyS{}: {} bytes from the pty, {} bytes to it\n", bridge.line, bridge.bytes_in, bridge.bytes_out);
    }
    return 0;
}

}  // namespace lab
