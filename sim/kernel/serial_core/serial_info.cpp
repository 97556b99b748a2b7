// TIOCGSERIAL and TIOCSSERIAL: the port's hardware description as setserial sees and changes it.
#include "drivers/serial/kernel/errors.h"
#include "drivers/serial/kernel/interrupt.h"
#include "sim/kernel/serial_core/driver_calls.h"
#include "sim/kernel/serial_core/line.h"

namespace sim::kernel {

KernelResult<requested_settings> SerialCore::get_serial_info(FileHandle handle) {
    auto found = live_line(handle, false);
    if (!found) return kernel_error(found.error());
    const Line& line = **found;
    const uart_port& port = *line.port;
    requested_settings info{};
    info.req_type = static_cast<std::int32_t>(port.uart_type);
    info.line = static_cast<std::int32_t>(port.line_index);
    info.port = port.io_base;
    info.port_high = 0;
    info.req_irq = static_cast<std::int32_t>(port.irq_line);
    info.flags = static_cast<std::int32_t>(port.port_flags);
    info.xmit_fifo_size = static_cast<std::int32_t>(port.fifo_depth);
    info.custom_divisor = static_cast<std::int32_t>(line.custom_divisor);
    info.req_baud_base = static_cast<std::int32_t>(port.uart_clock_hz / 16);
    info.close_delay = static_cast<std::uint16_t>(line.settings.close_delay_ms / 10);
    info.closing_wait = line.settings.closing_wait_ms == closing_wait_none
                            ? async_closing_wait_none
                            : static_cast<std::uint16_t>(line.settings.closing_wait_ms / 10);
    info.io_type = static_cast<char>(port.access_kind);
    info.hub6 = port.hub6_index;
    info.iomem_base = reinterpret_cast<unsigned char*>(static_cast<std::uintptr_t>(port.reg_window_phys));
    info.iomem_reg_shift = port.reg_shift;
    return info;
}

int SerialCore::set_serial_info(FileHandle handle, const requested_settings& settings) {
    auto found = live_line(handle, false);
    if (!found) return found.error();
    return apply_serial_info(**found, settings);
}

namespace {

// The part of a port that says where and what the hardware is.
struct PortPlace {
    std::uint32_t io_base;
    std::uint64_t reg_window_phys;
    std::uint8_t hub6_index;
    std::uint8_t access_kind;
    std::uint8_t reg_shift;
    std::uint32_t uart_type;

    static PortPlace of(const uart_port& port) {
        return {port.io_base, port.reg_window_phys, port.hub6_index, port.access_kind,
                port.reg_shift, port.uart_type};
    }
    void apply_to(uart_port& port) const {
        port.io_base = io_base;
        port.reg_window_phys = reg_window_phys;
        port.hub6_index = hub6_index;
        port.access_kind = access_kind;
        port.reg_shift = reg_shift;
        port.uart_type = uart_type;
    }
    friend bool operator==(const PortPlace&, const PortPlace&) = default;
};

}  // namespace

int SerialCore::apply_serial_info(Line& line, const requested_settings& settings) {
    uart_port* port = line.port;
    requested_settings proposed = settings;

    // Everything is checked before anything changes.
    if (int error = driver::verify_port(port, &proposed); error != 0) return error;
    if (settings.req_irq < 0 || static_cast<std::uint32_t>(settings.req_irq) >= nr_irq_lines ||
        settings.req_baud_base < 9600 || settings.req_type < 0 || settings.xmit_fifo_size < 0 ||
        settings.custom_divisor < 0 || settings.port_high != 0 || settings.hub6 < 0 ||
        settings.hub6 > 0xff || settings.iomem_reg_shift > 0xff)
        return -kerr::inval;

    const PortPlace old_place = PortPlace::of(*port);
    const PortPlace new_place{settings.port,
                              static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(settings.iomem_base)),
                              static_cast<std::uint8_t>(settings.hub6),
                              static_cast<std::uint8_t>(settings.io_type),
                              static_cast<std::uint8_t>(settings.iomem_reg_shift),
                              static_cast<std::uint32_t>(settings.req_type)};
    const bool change_port = !(new_place == old_place);
    const bool change_irq = static_cast<std::uint32_t>(settings.req_irq) != port->irq_line;

    if (change_port || change_irq) {
        unsigned int users = 0;
        for (const auto& [id, file] : files_)
            if (file->line == &line && !file->hung_up) ++users;
        if (users > 1) return -kerr::busy;
        shutdown(line);
    }

    if (change_port) {
        if (old_place.uart_type != 0) driver::release_port(port);
        new_place.apply_to(*port);
        const int error = new_place.uart_type != 0 ? driver::request_port(port) : 0;
        if (error != 0) {
            // The new place cannot be had: go back to the old one and leave the port as it was.
            old_place.apply_to(*port);
            if (old_place.uart_type != 0 && driver::request_port(port) != 0) port->uart_type = 0;
            if (line.active && port->uart_type != 0) startup(line, true);
            return -kerr::busy;
        }
    }

    const std::uint32_t old_clock = port->uart_clock_hz;
    const std::uint32_t old_depth = port->fifo_depth;
    port->irq_line = static_cast<std::uint32_t>(settings.req_irq);
    port->uart_clock_hz = static_cast<std::uint32_t>(settings.req_baud_base) * 16;
    port->port_flags = (port->port_flags & ~port_flags_user_changeable) |
                       (static_cast<std::uint32_t>(settings.flags) & port_flags_user_changeable);
    port->fifo_depth = static_cast<std::uint32_t>(settings.xmit_fifo_size);
    line.custom_divisor = static_cast<std::uint32_t>(settings.custom_divisor);
    line.settings.close_delay_ms = std::uint32_t{settings.close_delay} * 10;
    line.settings.closing_wait_ms = settings.closing_wait == async_closing_wait_none
                                        ? closing_wait_none
                                        : std::uint32_t{settings.closing_wait} * 10;

    if (port->uart_type == 0 || !line.active) return 0;
    if (line.initialized) {
        // A new clock or FIFO depth changes the divisor and the timeout the settings give.
        if (port->uart_clock_hz != old_clock || port->fifo_depth != old_depth)
            change_speed(line, nullptr);
        return 0;
    }
    return startup(line, true);
}

}  // namespace sim::kernel
