// setserial as serial users know it: its words (port 0x3f8, irq 4, uart 16550A, ^skip_test,
// spd_hi, ...) and its reports ("/dev/ttyS0, UART: 16550A, Port: 0x03f8, IRQ: 4").
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "tools/serial-lab/command_registry.h"
#include "tools/serial-lab/status.h"

namespace lab {

// What the serial-info query reports about one port.
struct SerialInfo {
    int line = 0;
    std::uint32_t type = 0;
    std::string type_name;  // the driver's name for the type; "unknown" for type 0
    std::uint32_t port = 0;
    std::uint64_t iomem_base = 0;
    int irq = 0;
    std::uint32_t flags = 0;
    std::uint32_t baud_base = 0;
    std::uint32_t close_delay = 0;   // hundredths of a second
    std::uint32_t closing_wait = 0;  // hundredths of a second
    std::int32_t custom_divisor = 0;
    std::int32_t xmit_fifo_size = 0;
    std::uint32_t io_type = 0;
    std::uint32_t hub6 = 0;
    std::uint32_t reg_shift = 0;
};

// The changes a setserial command asks for; unset fields stay as they are.
struct SerialInfoChange {
    std::optional<std::uint32_t> port;
    std::optional<int> irq;
    std::optional<std::uint32_t> type;
    std::optional<std::uint32_t> baud_base;
    std::optional<std::int32_t> custom_divisor;
    std::optional<std::uint32_t> close_delay;
    std::optional<std::uint32_t> closing_wait;
    std::uint32_t flags_to_set = 0;
    std::uint32_t flags_to_clear = 0;

    bool changes_settings() const;
    SerialInfo applied_to(SerialInfo info) const;
};

enum class SetserialReport { plain, all, gets, boot };

// The UART type a setserial 'uart' word names: "16550A", "16c950/954", "none", "unknown", "8".
std::optional<std::uint32_t> uart_type_from_name(std::string_view name);
// The driver's name of a UART type, "unknown" for 0 or a number past the table.
std::string_view uart_type_name(std::uint32_t type);

Expected<SerialInfoChange> parse_setserial_words(Arguments words);
std::string format_setserial(const SerialInfo& info, SetserialReport style);
// "spd_normal skip_test", in setserial's order.
std::string format_serial_flags(std::uint32_t flags);

}  // namespace lab
