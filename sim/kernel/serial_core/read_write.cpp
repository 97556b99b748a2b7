// Reading, writing and polling an open ttyS file.
#include <algorithm>

#include "drivers/serial/kernel/errors.h"
#include "sim/kernel/serial_core/driver_calls.h"
#include "sim/kernel/serial_core/line.h"
#include "sim/kernel/serial_core/machine_link.h"

namespace sim::kernel {

namespace {

std::size_t ring_space(const circ_buf& ring) {
    return static_cast<std::size_t>((ring.tail - ring.head - 1) & (uart_xmit_size - 1));
}

}  // namespace

KernelResult<SerialCore::OpenFile*> SerialCore::file_for(FileHandle handle) {
    auto found = files_.find(handle.id);
    if (found == files_.end()) return kernel_error(-bad_file_errno);
    return found->second.get();
}

KernelResult<SerialCore::Line*> SerialCore::live_line(FileHandle handle, bool needs_hardware) {
    run_deferred_work();
    auto file = file_for(handle);
    if (!file) return kernel_error(file.error());
    if ((*file)->hung_up || (*file)->line == nullptr) return kernel_error(-kerr::io);
    Line* line = (*file)->line;
    if (needs_hardware && line->io_error) return kernel_error(-kerr::io);
    return line;
}

KernelResult<ReadResult> SerialCore::read(FileHandle handle, ReadRequest request) {
    run_deferred_work();
    auto file = file_for(handle);
    if (!file) return kernel_error(file.error());
    OpenFile& opened = **file;
    if (opened.hung_up || opened.line == nullptr) return ReadResult{};  // end of file
    Line& line = *opened.line;
    if (line.io_error) return kernel_error(-kerr::io);
    if (request.max == 0) return ReadResult{};

    const std::size_t wanted = std::clamp<std::size_t>(request.min, 1, request.max);
    Tty* tty = line.tty.get();
    if (tty->readable() == 0 && opened.nonblocking) return kernel_error(-kerr::again);
    if (tty->readable() < wanted && !opened.nonblocking) {
        run_until([&] { return tty->readable() >= wanted || line.hangup_pending || opened.hung_up; },
                  request.limit);
        run_deferred_work();
        if (opened.hung_up || opened.line == nullptr) return ReadResult{};
        if (tty->readable() == 0) return kernel_error(-kerr::intr);
    }

    ReadResult result;
    for (const ReceivedChar& received : tty->read(request.max)) {
        result.bytes.push_back(received.character);
        result.flags.push_back(received.flag);
    }
    return result;
}

KernelResult<std::size_t> SerialCore::write(FileHandle handle, std::span<const unsigned char> bytes,
                                            MachineDuration limit) {
    auto found = live_line(handle, true);
    if (!found) return kernel_error(found.error());
    Line& line = **found;
    OpenFile& opened = **file_for(handle);
    const auto start = link::now(machine_);
    std::size_t written = 0;
    while (written < bytes.size()) {
        {
            PortLockGuard guard(line.port);
            circ_buf& ring = line.state.transmit_ring;
            while (written < bytes.size() && ring_space(ring) > 0) {
                const std::size_t to_end = static_cast<std::size_t>(uart_xmit_size - ring.head);
                const std::size_t now =
                    std::min({ring_space(ring), to_end, bytes.size() - written});
                std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(written), now,
                            ring.buf + ring.head);
                ring.head = (ring.head + static_cast<int>(now)) & (uart_xmit_size - 1);
                written += now;
            }
        }
        start_output(line);
        if (written == bytes.size() || opened.nonblocking) break;

        const MachineDuration spent = link::now(machine_) - start;
        if (spent >= limit) break;
        // Sleep as a writer does: until the ring has drained below the wake-up mark.
        run_until(
            [&] {
                return uart_circ_chars_pending(&line.state.transmit_ring) <
                           static_cast<int>(wakeup_chars) ||
                       line.hangup_pending || !line.initialized;
            },
            limit - spent);
        run_deferred_work();
        if (opened.hung_up || !line.initialized) break;
    }
    if (written == 0 && !bytes.empty()) {
        if (opened.hung_up || !line.initialized) return kernel_error(-kerr::io);
        return kernel_error(opened.nonblocking ? -kerr::again : -kerr::intr);
    }
    return written;
}

KernelResult<PollState> SerialCore::poll(FileHandle handle) {
    run_deferred_work();
    auto file = file_for(handle);
    if (!file) return kernel_error(file.error());
    OpenFile& opened = **file;
    if (opened.hung_up || opened.line == nullptr)
        return PollState{.readable = true, .writable = true, .hangup = true, .error = true};
    Line& line = *opened.line;
    if (line.io_error) return PollState{.readable = true, .writable = true, .error = true};
    const circ_buf& ring = line.state.transmit_ring;
    PollState state;
    state.readable = line.tty->readable() > 0;
    state.writable = uart_circ_chars_pending(&ring) < static_cast<int>(wakeup_chars) &&
                     ring_space(ring) > 0;
    return state;
}

KernelResult<std::size_t> SerialCore::output_pending(FileHandle handle) {
    auto found = live_line(handle, false);
    if (!found) return kernel_error(found.error());
    return static_cast<std::size_t>(uart_circ_chars_pending(&(*found)->state.transmit_ring));
}

KernelResult<std::size_t> SerialCore::input_pending(FileHandle handle) {
    auto found = live_line(handle, false);
    if (!found) return kernel_error(found.error());
    return (*found)->tty->readable();
}

Tty* SerialCore::tty_of(FileHandle handle) {
    auto file = file_for(handle);
    if (!file) return nullptr;
    return (*file)->tty.get();
}

KernelResult<unsigned int> SerialCore::line_of(FileHandle handle) const {
    auto found = files_.find(handle.id);
    if (found == files_.end()) return kernel_error(-bad_file_errno);
    if (found->second->line == nullptr) return kernel_error(-kerr::io);
    return found->second->line->index;
}

}  // namespace sim::kernel
